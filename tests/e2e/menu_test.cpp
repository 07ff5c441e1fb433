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
  const std::uint32_t r = 40 + (x * 5) % 200, g = 30 + (y * 7) % 200, b = (x * 3 + y * 11) % 256;
  return r << 16 | g << 8 | b;
}

struct MenuRun {
  Process process;
  HWND menu = nullptr;
  MenuRun(const std::string& dir, const std::vector<Item>& items)
      : process(Launch(MakeUpdater(dir, items), dir + "\\temp")),
        menu(WaitForBox(process.pi.dwProcessId).hwnd) {}
  void Exit(const std::string& dir) {  // the clean end: exit code 0, no work folder left
    Click(menu, IDC_MENU_SLOT0);
    EXPECT_EQ(WaitExit(process), 0u);
    EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
  }
};

// "" when, left of the buttons, the client area shows the picture at (ox, oy), clipped, and the
// dialog background elsewhere; otherwise the first difference (the picture may be on its way).
std::string PaintDifference(HWND menu, int ox, int oy, int w, int h) {
  RECT button;
  GetWindowRect(GetDlgItem(menu, IDC_MENU_SLOT0), &button);
  POINT left{button.left, button.top};
  ScreenToClient(menu, &left);
  if (w && ox + w >= left.x - 2) return "the picture reaches the buttons";
  std::string difference;
  for (int attempt = 0; attempt < 20; ++attempt, Sleep(150)) {
    const Pixels c = Capture(menu);
    difference = c.width ? "" : "nothing captured";
    for (int y = 0; y < c.height && difference.empty(); ++y) {
      for (int x = 0; x < left.x - 2 && difference.empty(); ++x) {
        const bool inside = x >= ox && y >= oy && x < ox + w && y < oy + h;
        const std::uint32_t want = inside ? Pattern(x - ox, y - oy) : DialogBackground();
        if (c.At(x, y) == want) continue;
        char msg[100];
        std::snprintf(msg, sizeof msg, "client (%d, %d): painted %06X, expected %06X", x, y, c.At(x, y),
                      want);
        difference = msg;
      }
    }
    if (difference.empty()) break;
  }
  return difference;
}

}  // namespace

// Each row: the configuration, the buttons and title it gives, the picture and where it is
// painted (a picture taller than the client area starts above it: the halving of the client
// height less the picture's truncates toward zero), the readme button's document, Esc doing
// nothing, and one way out.
TEST(Menu, ConfigurationButtonsPictureReadmeAndExits) {
  struct Case {
    const char* name;
    std::string env;
    const char* title;
    const char* texts[3];             // slots 0 to 2; none = the button is gone, as slots 3 to 8 always are
    int pictureWidth, pictureHeight;  // 0 x 0: undecodable; height below 0: client height + -height
    const char* opened;               // what the readme button opens, with its content
    bool closeBox;                    // leaves through the title bar's close box, else through 終了
  } cases[] = {
      {"no-readme-key", kEnv, kTitle, {"終了", "アップデート", nullptr}, 90, 60, nullptr, false},
      // Any value that starts with "-" means "no readme button".
      {"readme-dash-prefix",
       "TITLEBAR テストゲーム\nINSTREADME -説明書\n[EOF]\n",
       kTitle,
       {"終了", "アップデート", nullptr},
       20,
       -41,
       nullptr,
       true},
      // "表" ends in the byte 0x5C: the name must reach the shell whole.
      {"readme-caption",
       "TITLEBAR テストゲーム\nINSTREADME 説明書を読む\nINSTREADMEFL ソフト表.txt\n[EOF]\n",
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
       true},
  };
  int clientHeight = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(std::string("menu-") + c.name);
    const int h = c.pictureHeight < 0 ? clientHeight - c.pictureHeight : c.pictureHeight;
    ASSERT_TRUE(h > 0 || c.pictureWidth == 0);
    RecordTxtOpens();
    MenuRun r(dir, {File("install.env", c.env),
                    File("insttscr.rct", c.pictureWidth ? RctFromPixels(c.pictureWidth, h, Pattern)
                                                        : "this is not a title picture"),
                    File("readme.txt", "readme.txt"), File("ソフト表.txt", "ソフト表.txt")});
    ASSERT_TRUE(r.menu);
    EXPECT_EQ(Text(r.menu), c.title);
    for (int i = 0; i < 9; ++i) {  // slots 0 to 8
      const char* want = i < 3 ? c.texts[i] : nullptr;
      EXPECT_EQ(GetDlgItem(r.menu, IDC_MENU_SLOT0 + i) != nullptr, want != nullptr) << IDC_MENU_SLOT0 + i;
      EXPECT_EQ(Text(r.menu, IDC_MENU_SLOT0 + i), want ? want : "") << IDC_MENU_SLOT0 + i;
    }
    std::vector<std::string> work = WorkFolders(dir + "\\temp");
    ASSERT_EQ(work.size(), 1u);

    RECT client;
    GetClientRect(r.menu, &client);
    clientHeight = client.bottom;
    ASSERT_NE(client.right, clientHeight) << "a square client area could not tell height from width";
    EXPECT_EQ(PaintDifference(r.menu, (clientHeight - c.pictureWidth) / 2, (clientHeight - h) / 2,
                              c.pictureWidth, h),
              "");
    Screenshot(std::string("menu-") + c.name);

    if (c.opened) {  // the document in the work folder; the menu stays as it was
      Click(r.menu, IDC_MENU_SLOT1);
      std::string path, content;
      ASSERT_TRUE(WaitForOpened(&path, &content, 10000)) << "no document was opened";
      EXPECT_EQ(path, dir + "\\temp\\" + work[0] + "\\" + c.opened);
      EXPECT_EQ(content, c.opened);
      EXPECT_EQ(Text(r.menu, IDC_MENU_SLOT1), c.texts[1]);
    }

    // Esc (and the IDCANCEL it becomes) matches no button: the menu stays.
    HWND exitButton = GetDlgItem(r.menu, IDC_MENU_SLOT0);
    PostMessageA(exitButton, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(exitButton, WM_KEYUP, VK_ESCAPE, 0);
    PostMessageA(r.menu, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    EXPECT_TRUE(Running(r.process));
    EXPECT_TRUE(IsWindowVisible(r.menu));

    c.closeBox ? (void)PostMessageA(r.menu, WM_SYSCOMMAND, SC_CLOSE, 0) : Click(r.menu, IDC_MENU_SLOT0);
    EXPECT_EQ(WaitExit(r.process), 0u);
    EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
  }
}

TEST(Menu, SecondUpdaterWithTheSameTitleIsTurnedAway) {
  std::string dir = CaseFolder("menu-second");
  CreateDirectoryA((dir + "\\temp2").c_str(), nullptr);
  MenuRun first(dir, {File("install.env", kEnv), File("insttscr.rct", RctFromPixels(90, 60, Pattern))});
  ASSERT_TRUE(first.menu);

  Process second = Launch(dir + "\\updater.exe", dir + "\\temp2");
  Box box = WaitForBox(second.pi.dwProcessId);
  ASSERT_TRUE(box.hwnd);
  EXPECT_EQ(box.text, std::string("[ ") + kTitle + " ] は既に起動中です");
  EXPECT_EQ(box.caption, "テストゲーム");
  EXPECT_EQ(box.owner, nullptr);
  Screenshot("menu-second-instance");
  Click(box.hwnd, IDOK);
  EXPECT_EQ(WaitExit(second), 0u);
  EXPECT_TRUE(ListFolder(dir + "\\temp2").empty());

  // The first one still answers and ends as usual.
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(first.menu, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0);
  EXPECT_EQ(WorkFolders(dir + "\\temp").size(), 1u);
  first.Exit(dir);
}

TEST(Menu, ClicksAndCloseRequestsWhileTheUpdateRunsAreIgnored) {
  std::string dir = CaseFolder("menu-busy");
  MenuRun r(dir, {File("install.env", kEnv), File("insttscr.rct", RctFromPixels(90, 60, Pattern))});
  ASSERT_TRUE(r.menu);
  Click(r.menu, IDC_MENU_SLOT1);  // アップデート
  HWND shown = WaitForBox(r.process.pi.dwProcessId, 10000, nullptr, r.menu).hwnd;
  ASSERT_TRUE(shown) << "the update showed nothing";
  Screenshot("menu-busy");

  // The update's window runs its own loop; messages for the menu still reach it there.
  PostMessageA(r.menu, WM_COMMAND, IDC_MENU_SLOT0,
               reinterpret_cast<LPARAM>(GetDlgItem(r.menu, IDC_MENU_SLOT0)));
  PostMessageA(r.menu, WM_CLOSE, 0, 0);
  Sleep(700);
  EXPECT_TRUE(Running(r.process));
  EXPECT_TRUE(IsWindow(r.menu));

  // Dismiss whatever the update shows until it has given up: message boxes with OK, other
  // dialogs with Cancel. An abandoned update leaves the menu usable.
  for (int round = 0; shown && round < 6; ++round) {
    PostMessageA(shown, WM_COMMAND, GetDlgItem(shown, 0xFFFF) ? IDOK : IDCANCEL, 0);
    Sleep(300);
    shown = WaitForBox(r.process.pi.dwProcessId, 1500, nullptr, r.menu).hwnd;
  }
  ASSERT_EQ(shown, nullptr);
  ASSERT_TRUE(Running(r.process));
  EXPECT_EQ(Text(r.menu, IDC_MENU_SLOT1), "アップデート");
  r.Exit(dir);
}

// An updater whose menu template has gone: every attempt to make the dialog would fail the
// same way, so the run ends with -1 and takes its work folder with it.
TEST(Menu, MenuThatCannotBeCreatedEndsTheRunInsteadOfRetrying) {
  std::string dir = CaseFolder("menu-no-template");
  std::string stub = ReadFile(Env("KOVELA_STUB"));
  std::string name;  // UTF-16 in the resource directory
  for (const char* c = RESOURCE_NAME(IDD_MENU); *c; ++c) name += {*c, '\0'};
  const std::size_t at = stub.find(name);
  ASSERT_NE(at, std::string::npos) << "the stub has no " RESOURCE_NAME(IDD_MENU) " resource name";
  stub[at + name.size() - 2] = 'X';  // MAINDIALOX
  Process p = Launch(MakeUpdater(dir, PayloadBytes({File("install.env", kEnv)}), stub), dir + "\\temp");
  EXPECT_EQ(WaitExit(p, 10000), 0xFFFFFFFFu);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}
