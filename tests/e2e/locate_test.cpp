// Locating the installed application by hand under Wine: the manual route through the SETUP
// dialog and the folder browser, with the real registry and file system (the decisions of both
// routes are tabled natively). The run ends through the menu's exit button, so nothing is ever
// written into an install folder.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

constexpr char kGlobal[] = "KovelaLocateE2E";
constexpr char kTitle[] = "ロケート アップデータ";
const char kAbandoned[] = "アップデートを中止しました";
const char kDefault[] = "C:\\Program Files\\LOCATE_MAN";

void TypeInto(HWND dialog, const std::string& text) { SetText(dialog, IDC_SETUP_FOLDER, text); }

}  // namespace

// Nothing found: the manual route through SETUP, with the network and root refusals, a typed
// folder made whole and found by its key file, a path longer than the field is read into, and
// the folder browser.
TEST(Locate, ManualRouteThroughSetup) {
  DeleteSoftwareKey(kGlobal);
  WriteFile("C:\\LocateE2E\\手動ソ\\game.exe", "key");
  const std::string dir = CaseFolder("locate-manual");
  const std::string env = std::string("TITLEBAR ロケート\nREG_GLOBAL ") + kGlobal +
                          "\nREG_LOCAL Manual\nINSTTO LOCATE_MAN\nKEYFILE game.exe\n[EOF]\n";
  Process p = Launch(
      MakeUpdater(dir, {File("install.env", env),
                        File("insttscr.rct", RctFromPixels(64, 48, [](int, int) { return 0x204060u; }))}),
      dir + "\\temp");
  HWND menu = WaitForBox(p.pi.dwProcessId, 15000, kTitle).hwnd;
  ASSERT_TRUE(menu);
  auto next = [&](HWND owner, const char* title = nullptr) {  // the next window the owner shows
    return WaitForBox(p.pi.dwProcessId, 10000, title, nullptr, owner).hwnd;
  };
  // A message box over the menu, under its title, with this text: answered, and gone.
  auto answer = [&](const std::string& text, int button) {
    HWND box = next(menu);
    ASSERT_TRUE(box) << "no box for: " << text;
    EXPECT_EQ(Text(box, 0xFFFF), text);
    EXPECT_EQ(Text(box), kTitle);
    Click(box, button);
    EXPECT_TRUE(WaitGone(box));
  };
  auto openSetup = [&] {  // through "not installed" and the manual-route question
    EXPECT_EQ(Text(menu, IDC_MENU_SLOT1), "アップデート");
    Click(menu, IDC_MENU_SLOT1);
    answer("本体がインストールされていません", IDOK);
    answer("[ ロケート ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？",
           IDYES);
    return next(menu, "アップデート先のフォルダの指定");
  };
  const struct {
    std::string typed, message;
    int button;
  } steps[] = {
      {"\\\\server\\share", "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。",
       IDOK},
      {"D:", "ルートには適応できません", IDRETRY},  // Retry does not reopen the dialog
      // Forward slashes, no drive, a trailing separator after ソ: made into the full folder.
      {"/LocateE2E/手動ソ/", "[C:\\LocateE2E\\手動ソ]をアップデートします", IDNO},
      // More than the folder buffer holds is refused, not cut into another folder's name.
      {"C:\\LocateE2E\\" + std::string(300, 'x'),
       "指定されたフォルダのパスが長すぎます。\n短いパスのフォルダを指定してください。", IDOK},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.typed);
    HWND setup = openSetup();
    ASSERT_TRUE(setup);
    if (&s == steps) {  // it opens centred, on the default folder
      EXPECT_EQ(Text(setup, IDC_SETUP_FOLDER), kDefault);
      RECT rc;
      GetWindowRect(setup, &rc);
      EXPECT_NEAR((rc.left + rc.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
      EXPECT_NEAR((rc.top + rc.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
      Screenshot("locate-setup");
    }
    TypeInto(setup, s.typed);
    Click(setup, IDOK);
    EXPECT_TRUE(WaitGone(setup));
    answer(s.message, s.button);
    answer(kAbandoned, IDOK);
  }

  // The browser opens over SETUP; cancelling it puts the candidate folder back into the field,
  // replacing what was typed; cancelling SETUP abandons the update and the menu stays.
  HWND setup = openSetup();
  ASSERT_TRUE(setup);
  TypeInto(setup, "D:\\typed");
  ASSERT_EQ(Text(setup, IDC_SETUP_FOLDER), "D:\\typed");
  Click(setup, IDC_SETUP_BROWSE);
  HWND browser = next(setup);
  ASSERT_TRUE(browser);
  EXPECT_NE(
      FindWindowExW(browser, nullptr, nullptr, Wide("フォルダを作成する場所を選択してください").c_str()),
      nullptr);
  Screenshot("locate-browser");
  Click(browser, IDCANCEL);
  EXPECT_TRUE(WaitGone(browser));
  Sleep(200);
  EXPECT_EQ(Text(setup, IDC_SETUP_FOLDER), kDefault);
  Click(setup, IDCANCEL);
  EXPECT_TRUE(WaitGone(setup));
  answer(kAbandoned, IDOK);
  ASSERT_TRUE(IsWindowVisible(menu));
  Click(menu, IDC_MENU_SLOT0);
  EXPECT_EQ(WaitExit(p), 0u);
  RemoveTree("C:\\LocateE2E");
  DeleteSoftwareKey(kGlobal);
}
