// Locating the installed application under Wine, with the real registry: the installation
// record, the default folder and its key file, the version gate, declining, and the manual
// route through the SETUP dialog and the folder browser. Every run ends through the menu's
// exit button, so nothing is ever written into an install folder.
#include <gtest/gtest.h>

#include "harness.h"
#include "harness_locate.h"
#include "harness_menu.h"

using namespace e2e;

namespace {

constexpr char kGlobal[] = "KovelaLocateE2E";
constexpr char kTitle[] = "ロケート アップデータ";
constexpr char kSetupTitle[] = "アップデート先のフォルダの指定";
constexpr int kExitButton = 1000, kUpdateButton = 1001;
constexpr int kFolderEdit = 1000, kBrowseButton = 1021;

const char kAbandoned[] = "アップデートを中止しました";
const char kNotInstalled[] = "本体がインストールされていません";
const char kAskManual[] =
    "[ ロケート ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？";

std::string InstallEnv(const std::string& local, const std::string& more) {
  return std::string("TITLEBAR ロケート\nREG_GLOBAL ") + kGlobal + "\nREG_LOCAL " + local + "\n" + more +
         "[EOF]\n";
}
std::string Confirm(const std::string& folder) { return "[" + folder + "]をアップデートします"; }

// One updater with its menu up; a run that a failed check left behind is ended with the
// guard, so that the next case does not meet it as a second instance.
struct MenuRun {
  Process process;
  HWND menu = nullptr;
  std::string dir;
  MenuRun(const std::string& caseName, const std::string& env) {
    dir = CaseFolder(caseName);
    const std::string picture = RctFromPixels(64, 48, [](int x, int y) {
      return static_cast<std::uint32_t>(0x204060 + x * 0x020000 + y * 0x000300);
    });
    std::string exe = MakeUpdater(dir, {File("install.env", env), File("insttscr.rct", picture)});
    process = Launch(exe, dir + "\\temp");
    menu = WaitForBox(pid(), 15000, kTitle).hwnd;
  }
  ~MenuRun() {
    if (process.pi.hProcess) WaitExit(process, 0);
  }
  MenuRun(const MenuRun&) = delete;
  MenuRun& operator=(const MenuRun&) = delete;
  DWORD pid() const { return process.pi.dwProcessId; }
};

// The next window that the menu owns, with checks on what every message box shares.
HWND NextOwned(MenuRun& r) { return WaitForOwned(r.pid(), r.menu); }

// Expects a message box with this text, answers it with the button and waits for it to go.
void Answer(MenuRun& r, const std::string& text, int button) {
  HWND box = NextOwned(r);
  ASSERT_TRUE(box) << "no box for: " << text;
  EXPECT_EQ(BoxText(box), text);
  EXPECT_EQ(WindowText(box), kTitle);  // the menu's title as caption
  Click(box, button);
  EXPECT_TRUE(WaitGone(box));
}

void PressUpdate(MenuRun& r) {
  ASSERT_EQ(WindowText(GetDlgItem(r.menu, kUpdateButton)), "アップデート");
  Click(r.menu, kUpdateButton);
}

// Ends through the menu's exit button: the abandoned update left the menu open.
void ExitMenu(MenuRun& r) {
  ASSERT_TRUE(IsWindowVisible(r.menu));
  Click(r.menu, kExitButton);
  EXPECT_EQ(WaitExit(r.process), 0u);
}

// Presses the update button, goes through "not installed" and the manual-route question, and
// returns the SETUP dialog.
HWND OpenSetup(MenuRun& r) {
  PressUpdate(r);
  Answer(r, kNotInstalled, IDOK);
  Answer(r, kAskManual, IDYES);
  return WaitForOwned(r.pid(), r.menu, 10000, kSetupTitle);
}

// Types into the SETUP field and presses "次へ".
void TypeAndGo(HWND setup, const std::string& typed) {
  TypeInto(setup, kFolderEdit, typed);
  Click(setup, IDOK);
  EXPECT_TRUE(WaitGone(setup));
}

}  // namespace

TEST(Locate, SetupTemplateAsTabled) {
  DialogTemplate t = ReadDialogTemplate(e2e::Env("KOVELA_STUB"), "SETUP");
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.style, 0x90C800C0u);
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.cx, 203);
  EXPECT_EQ(t.cy, 95);
  EXPECT_EQ(t.title, kSetupTitle);
  EXPECT_EQ(t.font, "ＭＳ Ｐゴシック");
  EXPECT_EQ(t.pointSize, 9);
  struct Want {
    int id;
    const char* cls;
    const char* text;
    short x, y, cx, cy;
    DWORD style;
  } want[] = {
      {1, "BUTTON", "次へ", 115, 75, 40, 14, 0x50010000},
      {2, "BUTTON", "ｷｬﾝｾﾙ", 160, 75, 40, 14, 0x50010000},
      {1000, "EDIT", "", 10, 26, 130, 12, 0x50810080},
      {1021, "BUTTON", "参照(&B)", 145, 25, 50, 14, 0x50010000},
      {-1, "BUTTON", "", 5, 15, 195, 30, 0x50000007},
      {-1, "STATIC", "[参照]ボタンで、既存のフォルダを参照できます\n[次へ]ボタンでインストールを開始します", 5, 50,
       191, 20, 0x50020000},
      {-1, "STATIC", "アップデート先フォルダを指定してください", 10, 5, 190, 8, 0x50020000},
  };
  ASSERT_EQ(t.items.size(), sizeof want / sizeof want[0]);
  for (std::size_t i = 0; i < t.items.size(); ++i) {
    const TemplateItem& it = t.items[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(it.id, want[i].id);
    EXPECT_EQ(it.cls, want[i].cls);
    EXPECT_EQ(it.text, want[i].text);
    EXPECT_EQ(it.x, want[i].x);
    EXPECT_EQ(it.y, want[i].y);
    EXPECT_EQ(it.cx, want[i].cx);
    EXPECT_EQ(it.cy, want[i].cy);
    EXPECT_EQ(it.style, want[i].style);
    EXPECT_EQ(it.exStyle, 0u);
  }
}

// The installation record under HKLM, taken as stored (no key file configured); declining
// refuses the update and the menu stays.
TEST(Locate, RegistryRecordConfirmedThenDeclined) {
  RegScope machine(HKEY_LOCAL_MACHINE, kGlobal, "Record");
  ASSERT_TRUE(machine.Put("IsInst", "1"));
  ASSERT_TRUE(machine.Put("InstTo", "C:\\ロケート\\表示"));
  MenuRun r("locate-record", InstallEnv("Record", "INSTTO LOCATE_NONE\n"));
  ASSERT_TRUE(r.menu);
  PressUpdate(r);
  Answer(r, Confirm("C:\\ロケート\\表示"), IDNO);
  Answer(r, kAbandoned, IDOK);
  ExitMenu(r);
}

// The default folder under "Program Files" is found through its key file alone.
TEST(Locate, DefaultFolderFoundByKeyFile) {
  FileScope key("C:\\Program Files\\LOCATE_DEF\\game.exe");
  MenuRun r("locate-default", InstallEnv("Default", "INSTTO LOCATE_DEF\nKEYFILE game.exe\n"));
  ASSERT_TRUE(r.menu);
  PressUpdate(r);
  Answer(r, Confirm("C:\\Program Files\\LOCATE_DEF"), IDNO);
  Answer(r, kAbandoned, IDOK);
  ExitMenu(r);
}

// The installed version is read afresh on every press: below, above, then on a bound.
TEST(Locate, VersionGateMessages) {
  RegScope user(HKEY_CURRENT_USER, kGlobal, "Gate");
  RegScope machine(HKEY_LOCAL_MACHINE, kGlobal, "Gate");
  ASSERT_TRUE(machine.Put("IsInst", "1"));
  ASSERT_TRUE(machine.Put("InstTo", "C:\\LocateGate"));
  ASSERT_TRUE(user.Put("InstVer", "1"));
  MenuRun r("locate-gate",
                        InstallEnv("Gate", "INSTTO LOCATE_GATE\nCHKREG InstVer\nCHKREGVER 2\nCHKREGVERHIGH 3\n"));
  ASSERT_TRUE(r.menu);

  PressUpdate(r);
  Answer(r, "アップデート元のバージョンが不適合です", IDOK);
  Answer(r, kAbandoned, IDOK);

  ASSERT_TRUE(user.Put("InstVer", "4"));
  PressUpdate(r);
  Answer(r, "既にアップデート適応済みです", IDOK);
  Answer(r, kAbandoned, IDOK);

  ASSERT_TRUE(user.Put("InstVer", "3"));
  PressUpdate(r);
  Answer(r, Confirm("C:\\LocateGate"), IDNO);
  Answer(r, kAbandoned, IDOK);
  ExitMenu(r);
}

// Nothing found: the manual route through SETUP, with the network, root and key-file refusals,
// a typed folder made whole, and cancelling.
TEST(Locate, ManualRouteThroughSetup) {
  FileScope key("C:\\LocateE2E\\手動ソ\\game.exe");
  MenuRun r("locate-manual", InstallEnv("Manual", "INSTTO LOCATE_MAN\nKEYFILE game.exe\n"));
  ASSERT_TRUE(r.menu);

  // The dialog opens centred on the default folder.
  HWND setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  EXPECT_EQ(FieldText(setup, kFolderEdit), "C:\\Program Files\\LOCATE_MAN");
  RECT rc;
  GetWindowRect(setup, &rc);
  EXPECT_NEAR((rc.left + rc.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
  EXPECT_NEAR((rc.top + rc.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
  Screenshot("locate-setup");
  TypeAndGo(setup, "\\\\server\\share");
  Answer(r, "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。", IDOK);
  Answer(r, kAbandoned, IDOK);

  // A drive root is refused with Retry/Cancel; Retry does not reopen the dialog.
  setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  TypeAndGo(setup, "D:");
  Answer(r, "ルートには適応できません", IDRETRY);
  Answer(r, kAbandoned, IDOK);

  setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  TypeAndGo(setup, "C:\\LocateE2E");
  Answer(r, "指定されたフォルダには [ ロケート ] 本体は発見できませんでした", IDOK);
  Answer(r, kAbandoned, IDOK);

  // Forward slashes, no drive, a trailing separator after ソ: made into the full folder.
  setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  TypeAndGo(setup, "/LocateE2E/手動ソ/");
  Answer(r, Confirm("C:\\LocateE2E\\手動ソ"), IDNO);
  Answer(r, kAbandoned, IDOK);

  // More than the folder buffer holds is refused, not cut into another folder's name.
  setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  TypeAndGo(setup, "C:\\LocateE2E\\" + std::string(300, 'x'));
  Answer(r, "指定されたフォルダのパスが長すぎます。\n短いパスのフォルダを指定してください。", IDOK);
  Answer(r, kAbandoned, IDOK);

  setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  Click(setup, IDCANCEL);
  EXPECT_TRUE(WaitGone(setup));
  Answer(r, kAbandoned, IDOK);
  ExitMenu(r);
}

// The folder browser opens over SETUP; cancelling it puts the candidate folder back into the
// field, replacing what was typed.
TEST(Locate, FolderBrowserOpensAndCancels) {
  MenuRun r("locate-browse", InstallEnv("Browse", "INSTTO LOCATE_BROWSE\n"));
  ASSERT_TRUE(r.menu);
  HWND setup = OpenSetup(r);
  ASSERT_TRUE(setup);
  TypeInto(setup, kFolderEdit, "D:\\typed");
  ASSERT_EQ(FieldText(setup, kFolderEdit), "D:\\typed");
  Click(setup, kBrowseButton);
  HWND browser = WaitForOwned(r.pid(), setup);
  ASSERT_TRUE(browser);
  EXPECT_TRUE(HasChildText(browser, "フォルダを作成する場所を選択してください"));
  Screenshot("locate-browser");
  Click(browser, IDCANCEL);
  EXPECT_TRUE(WaitGone(browser));
  Sleep(200);
  EXPECT_EQ(FieldText(setup, kFolderEdit), "C:\\Program Files\\LOCATE_BROWSE");
  Click(setup, IDCANCEL);
  EXPECT_TRUE(WaitGone(setup));
  Answer(r, kAbandoned, IDOK);
  ExitMenu(r);
}

