// Locating the installed application under Wine, with the real registry: the installation
// record, the default folder and its key file, the version gate, declining, and the manual
// route through the SETUP dialog and the folder browser. Every run ends through the menu's
// exit button, so nothing is ever written into an install folder.
#include <gtest/gtest.h>

#include "harness.h"
#include "resource.h"

using namespace e2e;

namespace {

constexpr char kGlobal[] = "KovelaLocateE2E";
constexpr char kTitle[] = "ロケート アップデータ";
constexpr int kExitButton = IDC_MENU_SLOT0, kUpdateButton = IDC_MENU_SLOT1;
constexpr int kFolderEdit = IDC_SETUP_FOLDER, kBrowseButton = IDC_SETUP_BROWSE;

const char kAbandoned[] = "アップデートを中止しました";
const char kAskManual[] =
    "[ ロケート ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？";

std::string Confirm(const std::string& folder) { return "[" + folder + "]をアップデートします"; }

// One updater with its menu up, and what it leaves behind taken away afterwards.
struct MenuRun {
  Process process;
  HWND menu = nullptr;
  std::vector<std::string> trees;  // folders made for the case
  MenuRun(const std::string& local, const std::string& more) {
    std::string dir = CaseFolder("locate-" + local);
    const std::string env = std::string("TITLEBAR ロケート\nREG_GLOBAL ") + kGlobal + "\nREG_LOCAL " + local +
                            "\n" + more + "[EOF]\n";
    auto colour = [](int x, int y) { return 0x204060u + x * 0x20000u + y * 0x300u; };
    process = Launch(
        MakeUpdater(dir, {File("install.env", env), File("insttscr.rct", RctFromPixels(64, 48, colour))}),
        dir + "\\temp");
    menu = WaitForBox(process.pi.dwProcessId, 15000, kTitle).hwnd;
  }
  ~MenuRun() {
    for (const std::string& t : trees) RemoveTree(t);
    DeleteSoftwareKey(kGlobal);
  }

  // The next window the owner (the menu when none is given) shows.
  HWND Next(HWND owner = nullptr, const char* title = nullptr) {
    return WaitForBox(process.pi.dwProcessId, 10000, title, nullptr, owner ? owner : menu).hwnd;
  }
  // Expects a message box with this text and the menu's title, answers it and waits for it to go.
  void Answer(const std::string& text, int button) {
    HWND box = Next();
    ASSERT_TRUE(box) << "no box for: " << text;
    EXPECT_EQ(Text(box, 0xFFFF), text);
    EXPECT_EQ(Text(box), kTitle);
    Click(box, button);
    EXPECT_TRUE(WaitGone(box));
  }
  void PressUpdate() {
    ASSERT_EQ(Text(menu, kUpdateButton), "アップデート");
    Click(menu, kUpdateButton);
  }
  // Through "not installed" and the manual-route question to the SETUP dialog.
  HWND OpenSetup() {
    PressUpdate();
    Answer("本体がインストールされていません", IDOK);
    Answer(kAskManual, IDYES);
    return Next(menu, "アップデート先のフォルダの指定");
  }
  // The abandoned update leaves the menu open; its exit button ends the run.
  void Exit() {
    ASSERT_TRUE(IsWindowVisible(menu));
    Click(menu, kExitButton);
    EXPECT_EQ(WaitExit(process), 0u);
  }
};

void TypeInto(HWND dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace

// The automatic route: the HKLM record taken as stored (no key file configured), the default
// folder under "Program Files" found through its key file alone, and the version gate, whose
// value is read afresh on every press (below, above, then on a bound). Declining refuses the
// update and the menu stays.
TEST(Locate, AutomaticRoute) {
  struct Press {
    const char* version;  // written as HKCU InstVer before the press; none = left alone
    std::string message;  // a confirmation is declined, anything else acknowledged
  };
  const struct {
    const char* local;
    const char* more;
    const char* record;   // HKLM InstTo
    const char* keyFile;  // made for the case
    std::vector<Press> presses;
  } cases[] = {
      {"Record",
       "INSTTO LOCATE_NONE\n",
       "C:\\ロケート\\表示",
       nullptr,
       {{nullptr, Confirm("C:\\ロケート\\表示")}}},
      {"Default",
       "INSTTO LOCATE_DEF\nKEYFILE game.exe\n",
       nullptr,
       "C:\\Program Files\\LOCATE_DEF\\game.exe",
       {{nullptr, Confirm("C:\\Program Files\\LOCATE_DEF")}}},
      {"Gate",
       "INSTTO LOCATE_GATE\nCHKREG InstVer\nCHKREGVER 2\nCHKREGVERHIGH 3\n",
       "C:\\LocateGate",
       nullptr,
       {{"1", "アップデート元のバージョンが不適合です"},
        {"4", "既にアップデート適応済みです"},
        {"3", Confirm("C:\\LocateGate")}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.local);
    DeleteSoftwareKey(kGlobal);
    if (c.record) WriteInstallRecord(kGlobal, c.local, c.record);
    if (c.keyFile) WriteFile(c.keyFile, "key");
    MenuRun r(c.local, c.more);
    if (c.keyFile) r.trees.push_back(std::string(c.keyFile).substr(0, std::string(c.keyFile).rfind('\\')));
    ASSERT_TRUE(r.menu);
    for (const Press& p : c.presses) {
      if (p.version)
        RegPut(HKEY_CURRENT_USER, std::string("Software\\") + kGlobal + "\\" + c.local, "InstVer", p.version);
      r.PressUpdate();
      r.Answer(p.message, p.message[0] == '[' ? IDNO : IDOK);
      r.Answer(kAbandoned, IDOK);
    }
    r.Exit();
  }
}

// Nothing found: the manual route through SETUP, with the network and root refusals, a typed
// folder made whole and found by its key file, a path longer than the field is read into, and
// the folder browser.
TEST(Locate, ManualRouteThroughSetup) {
  WriteFile("C:\\LocateE2E\\手動ソ\\game.exe", "key");
  MenuRun r("Manual", "INSTTO LOCATE_MAN\nKEYFILE game.exe\n");
  r.trees.push_back("C:\\LocateE2E");
  ASSERT_TRUE(r.menu);
  const struct {
    std::string typed, message;
    int button;
  } steps[] = {
      {"\\\\server\\share", "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。",
       IDOK},
      // Retry does not reopen the dialog.
      {"D:", "ルートには適応できません", IDRETRY},
      // Forward slashes, no drive, a trailing separator after ソ: made into the full folder.
      {"/LocateE2E/手動ソ/", Confirm("C:\\LocateE2E\\手動ソ"), IDNO},
      // More than the folder buffer holds is refused, not cut into another folder's name.
      {"C:\\LocateE2E\\" + std::string(300, 'x'),
       "指定されたフォルダのパスが長すぎます。\n短いパスのフォルダを指定してください。", IDOK},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.typed);
    HWND setup = r.OpenSetup();
    ASSERT_TRUE(setup);
    if (&s == steps) {  // it opens centred, on the default folder
      EXPECT_EQ(Text(setup, kFolderEdit), "C:\\Program Files\\LOCATE_MAN");
      RECT rc;
      GetWindowRect(setup, &rc);
      EXPECT_NEAR((rc.left + rc.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
      EXPECT_NEAR((rc.top + rc.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
      Screenshot("locate-setup");
    }
    TypeInto(setup, kFolderEdit, s.typed);
    Click(setup, IDOK);
    EXPECT_TRUE(WaitGone(setup));
    r.Answer(s.message, s.button);
    r.Answer(kAbandoned, IDOK);
  }

  // The browser opens over SETUP; cancelling it puts the candidate folder back into the field,
  // replacing what was typed; cancelling SETUP abandons the update.
  HWND setup = r.OpenSetup();
  ASSERT_TRUE(setup);
  TypeInto(setup, kFolderEdit, "D:\\typed");
  ASSERT_EQ(Text(setup, kFolderEdit), "D:\\typed");
  Click(setup, kBrowseButton);
  HWND browser = r.Next(setup);
  ASSERT_TRUE(browser);
  EXPECT_NE(FindWindowExA(browser, nullptr, nullptr, "フォルダを作成する場所を選択してください"), nullptr);
  Screenshot("locate-browser");
  Click(browser, IDCANCEL);
  EXPECT_TRUE(WaitGone(browser));
  Sleep(200);
  EXPECT_EQ(Text(setup, kFolderEdit), "C:\\Program Files\\LOCATE_MAN");
  Click(setup, IDCANCEL);
  EXPECT_TRUE(WaitGone(setup));
  r.Answer(kAbandoned, IDOK);
  r.Exit();
}
