// The main menu under Wine: its buttons and title, the title picture's placement, the readme
// button, the ways out (and the ones that must not be), a second updater with the same title,
// clicks that arrive while a command runs, and a menu that cannot be made.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";
const char kTitle[] = "テストゲーム アップデータ";

// A picture in which neighbouring pixels always differ, so that a picture painted one pixel
// off, scaled or flipped cannot match.
std::uint32_t Pattern(int x, int y) {
  return (40 + (x * 5) % 200) << 16 | (30 + (y * 7) % 200) << 8 | (x * 3 + y * 11) % 256;
}

}  // namespace

// Each row: the configuration, the buttons and title it gives, the picture and where it is
// painted (a picture taller than the client area starts above it: the halving of the client
// height less the picture's truncates toward zero), the readme button's document, Esc doing
// nothing, and one way out.
TEST(Menu, ConfigurationButtonsPictureReadmeAndExits) {
  const std::string readme = "TITLEBAR テストゲーム\nINSTREADME ";
  struct Case {
    const char* name;
    std::string env;
    const char* title;
    std::vector<const char*> texts;   // slots 0 to 2; none = the button is gone, as slots 3 to 8 always are
    int pictureWidth, pictureHeight;  // 0 x 0: undecodable; height below 0: client height + -height
    const char* opened;               // what the readme button opens, with its content
    bool closeBox;                    // leaves through the title bar's close box, else through 終了
  } cases[] = {{"no-readme-key", kEnv, kTitle, {"終了", "アップデート"}, 90, 60, nullptr, false},
               // Any value that starts with "-" means "no readme button".
               {"readme-dash-prefix",
                readme + "-説明書\n[EOF]\n",
                kTitle,
                {"終了", "アップデート"},
                20,
                -41,
                nullptr,
                true},
               // "表" ends in the byte 0x5C: the name must reach the shell whole.
               {"readme-caption",
                readme + "説明書を読む\nINSTREADMEFL ソフト表.txt\n[EOF]\n",
                kTitle,
                {"終了", "説明書を読む", "アップデート"},
                0,
                0,
                "ソフト表.txt",
                false},
               {"default-title",
                "INSTREADME お読みください\n[EOF]\n",
                "ＫＯＶＥＬＡ アプリケーション アップデータ",
                {"終了", "お読みください", "アップデート"},
                90,
                60,
                "readme.txt",
                true}};
  int clientHeight = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(std::string("menu-") + c.name);
    const int h = c.pictureHeight < 0 ? clientHeight - c.pictureHeight : c.pictureHeight;
    ASSERT_TRUE(h > 0 || c.pictureWidth == 0);
    RecordTxtOpens();
    Process p = Launch(
        MakeUpdater(dir, {File("install.env", c.env),
                          File("insttscr.rct", c.pictureWidth ? RctFromPixels(c.pictureWidth, h, Pattern)
                                                              : "this is not a title picture"),
                          File("readme.txt", "readme.txt"), File("ソフト表.txt", "ソフト表.txt")}),
        dir + "\\temp");
    HWND menu = WaitForBox(p.pi.dwProcessId).hwnd;
    ASSERT_TRUE(menu);
    EXPECT_EQ(Text(menu), c.title);
    for (int i = 0; i < 9; ++i) {  // slots 0 to 8
      const char* want = i < static_cast<int>(c.texts.size()) ? c.texts[i] : nullptr;
      EXPECT_EQ(GetDlgItem(menu, IDC_MENU_SLOT0 + i) != nullptr, want != nullptr) << i;
      EXPECT_EQ(Text(menu, IDC_MENU_SLOT0 + i), want ? want : "") << i;
    }
    std::vector<std::string> work = WorkFolders(dir + "\\temp");
    ASSERT_EQ(work.size(), 1u);
    RECT client;
    GetClientRect(menu, &client);
    clientHeight = client.bottom;
    ASSERT_NE(client.right, clientHeight) << "a square client area could not tell height from width";
    EXPECT_EQ(MenuPaint(menu, c.pictureWidth, h, Pattern), "");
    Screenshot(std::string("menu-") + c.name);

    if (c.opened) {  // the document in the work folder; the menu stays as it was
      Click(menu, IDC_MENU_SLOT1);
      std::string path, content;
      ASSERT_TRUE(WaitForOpened(&path, &content, 10000)) << "no document was opened";
      EXPECT_EQ(path, dir + "\\temp\\" + work[0] + "\\" + c.opened);
      EXPECT_EQ(content, c.opened);
      EXPECT_EQ(Text(menu, IDC_MENU_SLOT1), c.texts[1]);
    }
    // Esc (and the IDCANCEL it becomes) matches no button: the menu stays.
    for (UINT m : {WM_KEYDOWN, WM_KEYUP}) PostMessageA(GetDlgItem(menu, IDC_MENU_SLOT0), m, VK_ESCAPE, 0);
    PostMessageA(menu, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    EXPECT_TRUE(Running(p) && IsWindowVisible(menu));
    c.closeBox ? (void)PostMessageA(menu, WM_SYSCOMMAND, SC_CLOSE, 0) : Click(menu, IDC_MENU_SLOT0);
    EXPECT_EQ(WaitExit(p), 0u);
    EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
  }
}

// While the menu is up, a second updater with its title is turned away; while its update runs,
// the menu's exit button and close requests are ignored; an abandoned update leaves it usable.
TEST(Menu, SecondUpdaterAndRequestsDuringAnUpdateAreTurnedAway) {
  std::string dir = CaseFolder("menu-second");
  CreateDirectoryW(Wide(dir + "\\temp2").c_str(), nullptr);
  Process p = Launch(
      MakeUpdater(dir, {File("install.env", kEnv), File("insttscr.rct", RctFromPixels(90, 60, Pattern))}),
      dir + "\\temp");
  HWND menu = WaitForBox(p.pi.dwProcessId).hwnd;
  ASSERT_TRUE(menu);
  Process second = Launch(dir + "\\updater.exe", dir + "\\temp2");
  Box box = WaitForBox(second.pi.dwProcessId);
  EXPECT_EQ(std::make_tuple(box.text, box.caption, box.owner),
            std::make_tuple(std::string("[ ") + kTitle + " ] は既に起動中です", std::string("テストゲーム"),
                            HWND{}));
  Screenshot("menu-second-instance");
  Click(box.hwnd, IDOK);
  EXPECT_EQ(WaitExit(second), 0u);
  EXPECT_TRUE(ListFolder(dir + "\\temp2").empty());
  EXPECT_EQ(WorkFolders(dir + "\\temp").size(), 1u);

  Click(menu, IDC_MENU_SLOT1);  // アップデート
  HWND shown = WaitForBox(p.pi.dwProcessId, 10000, nullptr, menu).hwnd;
  ASSERT_TRUE(shown) << "the update showed nothing";
  Screenshot("menu-busy");
  // The update's window runs its own loop; messages for the menu still reach it there.
  PostMessageA(menu, WM_COMMAND, IDC_MENU_SLOT0, reinterpret_cast<LPARAM>(GetDlgItem(menu, IDC_MENU_SLOT0)));
  PostMessageA(menu, WM_CLOSE, 0, 0);
  Sleep(700);
  EXPECT_TRUE(Running(p) && IsWindow(menu));
  // Dismiss whatever the update shows until it has given up: message boxes with OK, other
  // dialogs with Cancel.
  for (int round = 0; shown && round < 6; ++round) {
    PostMessageA(shown, WM_COMMAND, GetDlgItem(shown, 0xFFFF) ? IDOK : IDCANCEL, 0);
    Sleep(300);
    shown = WaitForBox(p.pi.dwProcessId, 1500, nullptr, menu).hwnd;
  }
  ASSERT_TRUE(!shown && Running(p));
  EXPECT_EQ(Text(menu, IDC_MENU_SLOT1), "アップデート");
  Click(menu, IDC_MENU_SLOT0);
  EXPECT_EQ(WaitExit(p), 0u);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}

// An updater whose menu template has gone: every attempt to make the dialog would fail the
// same way, so the run ends with -1 and takes its work folder with it.
TEST(Menu, MenuThatCannotBeCreatedEndsTheRunInsteadOfRetrying) {
  std::string dir = CaseFolder("menu-no-template");
  std::string stub = ReadFile(Env("KOVELA_STUB")), name;  // name: UTF-16 in the resource directory
  for (const char* c = RESOURCE_NAME(IDD_MENU); *c; ++c) name += {*c, '\0'};
  const std::size_t at = stub.find(name);
  ASSERT_NE(at, std::string::npos) << "the stub has no " RESOURCE_NAME(IDD_MENU) " resource name";
  stub[at + name.size() - 2] = 'X';  // MAINDIALOX
  Process p = Launch(MakeUpdater(dir, PayloadBytes({File("install.env", kEnv)}), stub), dir + "\\temp");
  EXPECT_EQ(WaitExit(p, 10000), 0xFFFFFFFFu);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}
