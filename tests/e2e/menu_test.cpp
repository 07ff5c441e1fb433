// The main menu under Wine: its buttons, its title, the title picture's placement, the
// readme button, the ways out (and the ones that must not be), a second updater with the
// same title, and clicks that arrive while a command runs.
#include <gtest/gtest.h>

#include "harness.h"
#include "harness_menu.h"

using namespace e2e;

namespace {

const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";
const char kTitle[] = "テストゲーム アップデータ";
constexpr int kExitButton = 1000;
constexpr int kFirstUnused = 1003, kLastButton = 1008;

// A picture in which neighbouring pixels always differ, so that a picture painted one pixel
// off, scaled or flipped cannot match.
std::uint32_t Pattern(int x, int y) {
  const std::uint32_t r = 40 + (x * 5) % 200, g = 30 + (y * 7) % 200, b = (x * 3 + y * 11) % 256;
  return r << 16 | g << 8 | b;
}
const std::string& PatternPicture() {
  static const std::string rct = RctFromPixels(90, 60, Pattern);
  return rct;
}

struct MenuRun {
  Process process;
  HWND menu = nullptr;
};

// Starts an updater with this payload and waits for its menu.
MenuRun StartMenu(const std::string& dir, const std::vector<Item>& items) {
  MenuRun r;
  std::string exe = MakeUpdater(dir, items);
  r.process = Launch(exe, dir + "\\temp");
  r.menu = WaitForBox(r.process.pi.dwProcessId).hwnd;
  return r;
}

// Ends the menu through its exit button and checks the clean end: exit code 0, no work
// folder left.
void ExitThroughButton(MenuRun& r, const std::string& dir) {
  Click(r.menu, kExitButton);
  EXPECT_EQ(WaitExit(r.process), 0u);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}

// Compares the painted picture with the pixels it was made from, wherever it lies inside
// the client area, and the one-pixel frame around it with the dialog background.
int CountMismatches(const ClientPixels& c, int ox, int oy, int w, int h, std::string* first) {
  int bad = 0;
  const std::uint32_t background = DialogBackground();
  for (int y = oy - 1; y <= oy + h; ++y) {
    for (int x = ox - 1; x <= ox + w; ++x) {
      if (x < 0 || y < 0 || x >= c.width || y >= c.height) continue;
      const bool inside = x >= ox && y >= oy && x < ox + w && y < oy + h;
      const std::uint32_t want = inside ? Pattern(x - ox, y - oy) : background;
      if (c.At(x, y) != want && bad++ == 0) {
        char msg[160];
        std::snprintf(msg, sizeof msg, "client (%d, %d): painted %06X, expected %06X", x, y,
                      static_cast<unsigned>(c.At(x, y)), static_cast<unsigned>(want));
        *first = msg;
      }
    }
  }
  return bad;
}

// The picture may still be on its way to the screen when the menu is first seen.
int MismatchesAfterPainting(HWND menu, int ox, int oy, int w, int h, std::string* first) {
  int bad = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    bad = CountMismatches(CaptureClient(menu), ox, oy, w, h, first);
    if (bad == 0) break;
    Sleep(150);
  }
  return bad;
}

}  // namespace

TEST(Menu, ButtonsFollowTheReadmeSettingAndEveryExitIsClean) {
  enum class Leave { Button, CloseBox };
  struct Case {
    const char* name;
    std::string env;
    const char* title;
    const char* texts[3];  // 1000, 1001, 1002; none = the button is gone
    Leave leave;
  } cases[] = {
      {"no-readme-key", kEnv, kTitle, {"終了", "アップデート", nullptr}, Leave::Button},
      // Any value that starts with "-" means "no readme button".
      {"readme-dash-prefix", "TITLEBAR テストゲーム\nINSTREADME -説明書\n[EOF]\n", kTitle,
       {"終了", "アップデート", nullptr}, Leave::CloseBox},
      {"readme-caption", "TITLEBAR テストゲーム\nINSTREADME 説明書を読む\n[EOF]\n", kTitle,
       {"終了", "説明書を読む", "アップデート"}, Leave::Button},
      {"default-title", "INSTREADME お読みください\n[EOF]\n",
       "ＫＯＶＥＬＡ アプリケーション アップデータ", {"終了", "お読みください", "アップデート"},
       Leave::CloseBox},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(std::string("menu-") + c.name);
    MenuRun r = StartMenu(dir, {File("install.env", c.env), File("insttscr.rct", PatternPicture())});
    ASSERT_TRUE(r.menu);
    char title[256] = {};
    GetWindowTextA(r.menu, title, sizeof title);
    EXPECT_STREQ(title, c.title);
    for (int i = 0; i < 3; ++i) {
      bool exists = false;
      std::string text = ItemText(r.menu, kExitButton + i, &exists);
      EXPECT_EQ(exists, c.texts[i] != nullptr) << "button " << kExitButton + i;
      if (c.texts[i]) {
        EXPECT_EQ(text, c.texts[i]) << "button " << kExitButton + i;
      }
    }
    for (int id = kFirstUnused; id <= kLastButton; ++id)
      EXPECT_EQ(GetDlgItem(r.menu, id), nullptr) << "button " << id;
    ASSERT_EQ(WorkFolders(dir + "\\temp").size(), 1u);
    Screenshot(std::string("menu-") + c.name);

    // Esc (and the IDCANCEL it becomes) matches no button: the menu stays.
    HWND exitButton = GetDlgItem(r.menu, kExitButton);
    PostMessageA(exitButton, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(exitButton, WM_KEYUP, VK_ESCAPE, 0);
    PostMessageA(r.menu, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    EXPECT_TRUE(Running(r.process.pi));
    EXPECT_TRUE(IsWindowVisible(r.menu));

    if (c.leave == Leave::Button) {
      ExitThroughButton(r, dir);
    } else {
      PostMessageA(r.menu, WM_SYSCOMMAND, SC_CLOSE, 0);
      EXPECT_EQ(WaitExit(r.process), 0u);
      EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
    }
  }
}

TEST(Menu, TitlePictureSitsAtTheOriginTakenFromTheClientHeight) {
  // A picture that fits: its left margin equals its top margin, both from the client height.
  std::string dir = CaseFolder("menu-picture");
  MenuRun r = StartMenu(dir, {File("install.env", kEnv), File("insttscr.rct", PatternPicture())});
  ASSERT_TRUE(r.menu);
  RECT client;
  GetClientRect(r.menu, &client);
  const int height = client.bottom;
  ASSERT_NE(client.right, height) << "a square client area could not tell height from width";
  std::string first;
  EXPECT_EQ(MismatchesAfterPainting(r.menu, (height - 90) / 2, (height - 60) / 2, 90, 60, &first), 0)
      << first;
  Screenshot("menu-title-picture");
  ExitThroughButton(r, dir);

  // A picture 41 pixels taller than the client area starts 20 pixels above it: the halving
  // truncates toward zero.
  std::string tallDir = CaseFolder("menu-picture-tall");
  const int tall = height + 41;
  MenuRun t = StartMenu(tallDir, {File("install.env", kEnv),
                                   File("insttscr.rct", RctFromPixels(20, tall, Pattern))});
  ASSERT_TRUE(t.menu);
  EXPECT_EQ(MismatchesAfterPainting(t.menu, (height - 20) / 2, -20, 20, tall, &first), 0) << first;
  ExitThroughButton(t, tallDir);
}

TEST(Menu, UndecodableTitlePicturePaintsNothingAndTheMenuWorks) {
  std::string dir = CaseFolder("menu-no-picture");
  MenuRun r = StartMenu(dir, {File("install.env", kEnv),
                               File("insttscr.rct", "this is not a title picture")});
  ASSERT_TRUE(r.menu);
  Sleep(300);
  RECT button;
  GetWindowRect(GetDlgItem(r.menu, kExitButton), &button);
  POINT left{button.left, button.top};
  ScreenToClient(r.menu, &left);
  ClientPixels c = CaptureClient(r.menu);
  ASSERT_GT(c.width, 0);
  int painted = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < left.x - 2; ++x) painted += c.At(x, y) != DialogBackground();
  EXPECT_EQ(painted, 0);
  Screenshot("menu-no-picture");
  ExitThroughButton(r, dir);
}

TEST(Menu, ReadmeButtonOpensTheConfiguredDocumentFromTheWorkFolder) {
  // "表" ends in the byte 0x5C: the name must reach the shell whole.
  struct Case {
    const char* name;
    const char* env;
    const char* opened;
    const char* content;
  } cases[] = {
      {"named", "TITLEBAR テストゲーム\nINSTREADME 説明書\nINSTREADMEFL ソフト表.txt\n[EOF]\n",
       "ソフト表.txt", "the configured document"},
      {"default", "TITLEBAR テストゲーム\nINSTREADME 説明書\n[EOF]\n", "readme.txt",
       "the default document"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(std::string("menu-readme-") + c.name);
    std::string record = dir + "\\opened.rec";
    TxtRecorder recorder(record);
    MenuRun r = StartMenu(dir, {File("install.env", c.env),
                                 File("insttscr.rct", PatternPicture()),
                                 File("readme.txt", "the default document"),
                                 File("ソフト表.txt", "the configured document")});
    ASSERT_TRUE(r.menu);
    std::vector<std::string> work = WorkFolders(dir + "\\temp");
    ASSERT_EQ(work.size(), 1u);
    Click(r.menu, 1001);
    Opened opened;
    ASSERT_TRUE(WaitForOpened(record, &opened, 10000)) << "no document was opened";
    EXPECT_EQ(opened.path, dir + "\\temp\\" + work[0] + "\\" + c.opened);
    EXPECT_EQ(opened.content, c.content);
    // Opening a document leaves the menu as it was.
    Sleep(300);
    EXPECT_TRUE(Running(r.process.pi));
    EXPECT_EQ(ItemText(r.menu, 1001), "説明書");
    ExitThroughButton(r, dir);
  }
}

TEST(Menu, SecondUpdaterWithTheSameTitleIsTurnedAway) {
  std::string dir = CaseFolder("menu-second");
  CreateDirectoryA((dir + "\\temp2").c_str(), nullptr);
  MenuRun first = StartMenu(dir, {File("install.env", kEnv), File("insttscr.rct", PatternPicture())});
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
  ExitThroughButton(first, dir);
}

TEST(Menu, ClicksAndCloseRequestsWhileTheUpdateRunsAreIgnored) {
  std::string dir = CaseFolder("menu-busy");
  MenuRun r = StartMenu(dir, {File("install.env", kEnv), File("insttscr.rct", PatternPicture())});
  ASSERT_TRUE(r.menu);
  Click(r.menu, 1001);  // アップデート
  HWND shown = WaitForOtherDialog(r.process.pi.dwProcessId, r.menu, 10000);
  ASSERT_TRUE(shown) << "the update showed nothing";
  Screenshot("menu-busy");

  // The update's window runs its own loop; messages for the menu still reach it there.
  PostMessageA(r.menu, WM_COMMAND, kExitButton, reinterpret_cast<LPARAM>(GetDlgItem(r.menu, kExitButton)));
  PostMessageA(r.menu, WM_CLOSE, 0, 0);
  Sleep(700);
  EXPECT_TRUE(Running(r.process.pi));
  EXPECT_TRUE(IsWindow(r.menu));

  // Dismiss whatever the update shows until it has given up: message boxes with OK, other
  // dialogs with Cancel.
  for (int round = 0; shown && round < 6; ++round) {
    bool messageBox = GetDlgItem(shown, 0xFFFF) != nullptr;
    PostMessageA(shown, WM_COMMAND, messageBox ? IDOK : IDCANCEL, 0);
    Sleep(300);
    shown = WaitForOtherDialog(r.process.pi.dwProcessId, r.menu, 1500);
  }
  ASSERT_EQ(shown, nullptr);
  // An abandoned update leaves the menu usable.
  ASSERT_TRUE(Running(r.process.pi));
  EXPECT_EQ(ItemText(r.menu, 1001), "アップデート");
  ExitThroughButton(r, dir);
}

TEST(Menu, MenuThatCannotBeCreatedEndsTheRunInsteadOfRetrying) {
  // An updater whose menu template has gone: the dialog cannot be made, every attempt would
  // fail the same way, so the run ends with -1 and takes its work folder with it.
  std::string dir = CaseFolder("menu-no-template");
  std::string stub = RenameResource(ReadFile(Env("KOVELA_STUB")), "MAINDIALOG", "MAINDIALOX");
  ASSERT_FALSE(stub.empty()) << "the stub has no MAINDIALOG resource name";
  std::string exe = MakeUpdaterFromStub(dir, stub, {File("install.env", kEnv)});
  Process p = Launch(exe, dir + "\\temp");
  EXPECT_EQ(WaitExit(p, 10000), 0xFFFFFFFFu);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}
