// Damaged and hostile containers run through the real updater under Wine: each one ends in
// its report and exit code without a crash, and nothing changes on drive C: or in the case's
// folder except what the run may write (the work folder, which must be gone again, and the
// install folder's files from the records before the damage).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "harness.h"
#include "resource.h"

using namespace e2e;

namespace {

const char kDamaged[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kGlobal[] = "KovelaHostileE2E";
const char kTitle[] = "ホスタイル アップデータ";
const char kEnv[] =
    "TITLEBAR ホスタイル\nINSTTO HOSTILE_APP\nREG_GLOBAL KovelaHostileE2E\nREG_LOCAL Hostile\n[EOF]\n";
constexpr int kExitButton = IDC_MENU_SLOT0, kUpdateButton = IDC_MENU_SLOT1;
constexpr std::uint32_t kPictureColour = 0x3366CC;

std::string U16(std::uint32_t v) { return Le(v, 2); }
std::string U32(std::uint32_t v) { return Le(v, 4); }

// A file record with its fields as given: the name field is `name` as it stands (add the NUL
// yourself) and N is its length unless one is given.
std::string Record(const std::string& name, std::uint32_t size, std::uint32_t packed,
                   const std::string& stream, int n = -1) {
  return U16(n < 0 ? static_cast<std::uint32_t>(name.size()) : n) + name + U32(size) + U32(packed) +
         std::string("\x00\xC9\x67\x15\xB4\x10\xD7\x01", 8) + stream;
}
std::string Z(const std::string& s) { return s + '\0'; }  // a name with its NUL

// A good record of name whose stream went through damage() (the packed size follows it).
template <class F>
std::string DamagedStream(const std::string& name, const std::string& data, F damage) {
  std::string stream = damage(Zlib(data));
  return Record(Z(name), data.size(), stream.size(), stream);
}

std::string Items(const std::vector<Item>& items) { return PayloadBytes(items, false); }

// A title picture of 16 × 8 pixels whose first four rows decode; then a back-reference runs
// past the end of the image, and the rest stays black.
std::string PictureWithRunPastTheEnd() {
  std::string data;
  for (int i = 0; i < 64; ++i) {
    if (i == 1) data += '\x3E';  // a literal run of 63 pixels follows the bare first one
    data += "\xCC\x66\x33";      // kPictureColour, stored blue, green, red
  }
  data += "\xA7\xFF\xFF";  // one row up, 3 × 65535 + 12 bytes
  return std::string(
             "\x98\x5A\x92\x9A"
             "TC00",
             8) +
         U32(16) + U32(8) + U32(data.size()) + data;
}

// 65536 × 65537 pixels: the pixel count overflows 32 bits.
std::string PictureTooLarge() {
  return std::string(
             "\x98\x5A\x92\x9A"
             "TC00",
             8) +
         U32(65536) + U32(65537) + U32(3) + "\xCC\x66\x33";
}

// Measured with Wine 8.0: a run of the updater, its boxes and its menu change nothing at all
// on C:, folder times included, so nothing there is excused. (What did change was this
// program's own doing: tmpfile() writes into its %TEMP%, C:\users\<user>\Temp, so
// PayloadBytes is never called between two walks.)
Snapshot DriveC() {
  Snapshot s;
  Walk("C:", &s);
  return s;
}

// The first of the process's dialogs with that title other than `except`, as WaitForBox
// finds it, or none once the process has ended (a crash) or after 20 s.
Box WaitWhileRunning(Process& p, const char* title, HWND except = nullptr) {
  for (int i = 0; i < 80 && Running(p); ++i)
    if (Box b = WaitForBox(p.pi.dwProcessId, 250, title, except); b.hwnd) return b;
  return Box{};
}

// Titles of the visible top-level windows of every process (Wine's crash dialog would be one).
std::vector<std::string> VisibleWindows() {
  std::vector<std::string> out;
  for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, nullptr)) != nullptr;)
    if (IsWindowVisible(w)) out.push_back(Text(w));
  return out;
}

// Pixels of the picture's colour and of black left of the menu's buttons.
std::pair<int, int> PictureAndBlack(HWND menu) {
  RECT button;
  GetWindowRect(GetDlgItem(menu, kExitButton), &button);
  POINT left{button.left, button.top};
  ScreenToClient(menu, &left);
  const Pixels c = Capture(menu);
  std::pair<int, int> n{0, 0};
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < left.x - 2 && x < c.width; ++x) {
      n.first += c.At(x, y) == kPictureColour;
      n.second += c.At(x, y) == 0;
    }
  return n;
}

// Wine's own crash dialog off while the table runs, so that a crash ends the process at once
// with its exception code (and a backtrace on standard error) instead of waiting for a click.
struct NoCrashDialog {
  const char* key = "Software\\Wine\\WineDbg";
  std::vector<RegValue> before = RegValues(HKEY_CURRENT_USER, key);
  NoCrashDialog() { RegPut(HKEY_CURRENT_USER, key, "ShowCrashDialog", std::string(4, '\0'), REG_DWORD); }
  ~NoCrashDialog() {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key, "ShowCrashDialog");
    for (const RegValue& v : before)
      if (v.name == "ShowCrashDialog") RegPut(HKEY_CURRENT_USER, key, v.name, v.data, v.type);
  }
};

}  // namespace

// Where the damage is met: by the start-up pass (which stops at the folder record data\bgm, so
// that the records after it are only read by the update), by the update after its
// confirmation, or never (a damaged title picture: the menu opens, and its exit button ends
// the run with 0).
enum class Stage { Startup, Update, Menu };

TEST(Hostile, DamagedContainersEndInTheReportAndTouchNothingOutside) {
  NoCrashDialog noCrashDialog;
  const std::string startupHead = Items({File("install.env", kEnv)});
  const std::string updateHead =
      Items({File("install.env", kEnv),
             File("insttscr.rct", RctFromPixels(8, 8, [](int, int) { return 0x808080u; })), Folder("data"),
             Folder("data\\bgm")});
  const std::string ogg(3000, 'o');
  const std::string longName(250, 'j');
  const struct {
    const char* name;
    Stage stage;
    std::string records;  // after the head; the end marker follows unless `end` is false
    bool end = true;
    int trailer = 0;  // nonzero: the trailer says file size + trailer
    int picture = 0;  // Menu: pixels of the picture's colour, and as many black
  } cases[] = {
      {"s-parent", Stage::Startup, Items({File("..\\..\\escape.txt", "x")})},
      {"s-slash-parent", Stage::Startup, Items({File("../escape.txt", "x")})},
      {"s-rooted-slash", Stage::Startup, Items({File("/escape.txt", "x")})},
      {"s-name-261", Stage::Startup, Record(Z(std::string(256, 'n') + ".txt"), 1, 9, Zlib("x"))},
      {"s-joined-long", Stage::Startup, Items({File(longName + ".txt", "x")})},
      {"s-size-negative", Stage::Startup, Record(Z("neg.txt"), 0xFFFFFFFE, 9, Zlib("x"))},
      {"s-corrupt-stream", Stage::Startup,
       DamagedStream("readme.txt", "read me", [](std::string s) { return s.replace(3, 2, "\xFF\xFF"); })},
      {"s-trailer-beyond", Stage::Startup, "", true, 16},
      {"s-trailer-inside", Stage::Startup, "", true, -2},

      {"u-parent-in-name", Stage::Update, Items({File("data\\..\\..\\escape.txt", "x")})},
      {"u-parent-folder", Stage::Update, Items({Folder("..\\escape")})},
      {"u-rooted", Stage::Update, Items({File("\\escape.txt", "x")})},
      {"u-drive", Stage::Update, Items({File("C:\\escape.txt", "x")})},
      {"u-stream-name", Stage::Update, Items({File("file.txt:escape", "x")})},
      {"u-name-ffff", Stage::Update, Record(Z(std::string(400, 'n')), 1, 9, Zlib("x"), 0xFFFF)},
      {"u-no-nul", Stage::Update, Record("abcde", 1, 9, Zlib("x"))},
      {"u-joined-long", Stage::Update, Items({File("data\\bgm\\" + longName, "x")})},
      {"u-packed-negative", Stage::Update, Record(Z("data\\bgm\\x.ogg"), 1, 0xFFFFFFFB, Zlib("x"))},
      {"u-packed-huge", Stage::Update, Record(Z("data\\bgm\\x.ogg"), 1, 0x7FFFFFFF, Zlib("x"))},
      {"u-size-2g", Stage::Update, Record(Z("data\\bgm\\x.ogg"), 0x80000000, 9, Zlib("x"))},
      {"u-stream-short", Stage::Update,
       DamagedStream("data\\bgm\\x.ogg", ogg, [](std::string s) { return s.substr(0, s.size() - 1); })},
      {"u-stream-garbage", Stage::Update,
       DamagedStream("data\\bgm\\x.ogg", ogg, [](std::string s) { return s + '\0'; })},
      // Cut after half the size field, and 5 bytes into the stream (N, 15 name bytes, 18 more).
      {"u-cut-header", Stage::Update, Items({File("data\\bgm\\x.ogg", ogg)}).substr(0, 2 + 15 + 2), false},
      {"u-cut-stream", Stage::Update, Items({File("data\\bgm\\x.ogg", ogg)}).substr(0, 2 + 15 + 18 + 5),
       false},
      {"u-no-end", Stage::Update, Items({File("data\\bgm\\x.ogg", ogg)}), false},

      {"m-picture-run-past-end", Stage::Menu, Items({File("insttscr.rct", PictureWithRunPastTheEnd())}), true,
       0, 64},
      {"m-picture-too-large", Stage::Menu, Items({File("insttscr.rct", PictureTooLarge())})},
  };
  Snapshot drive = DriveC();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = CaseFolder(c.name), app = dir + "\\app";
    WriteFile(app + "\\old.dat", "installed before");
    DeleteSoftwareKey(kGlobal);
    WriteInstallRecord(kGlobal, "Hostile", app);
    std::string exe = MakeUpdater(dir, (c.stage == Stage::Update ? updateHead : startupHead) + c.records +
                                           (c.end ? std::string(2, '\0') : ""));
    if (c.trailer) {
      std::string bytes = ReadFile(exe);
      WriteFile(
          exe, bytes.substr(0, bytes.size() - 4) + U32(static_cast<std::uint32_t>(bytes.size() + c.trailer)));
    }
    Snapshot before;
    Walk(dir, &before);

    const std::vector<std::string> windows = VisibleWindows();
    Process p = Launch(exe, dir + "\\temp");
    // Drives the run to its end; a step that fails stops the driving, not the checks below.
    const bool menuStage = c.stage == Stage::Menu;
    [&] {
      if (menuStage) {
        Box menu = WaitWhileRunning(p, kTitle);
        ASSERT_TRUE(menu.hwnd);
        // The picture may still be on its way to the screen; no picture must stay so a while.
        std::pair<int, int> painted;
        const std::pair<int, int> expected(c.picture, c.picture);
        for (int i = 0; i < 20 && ((painted = PictureAndBlack(menu.hwnd)) != expected || i < 3); ++i)
          Sleep(150);
        EXPECT_EQ(painted, expected) << "pixels of the picture's colour, black pixels";
        return Click(menu.hwnd, kExitButton);
      }
      HWND menu = nullptr;
      if (c.stage == Stage::Update) {
        menu = WaitWhileRunning(p, kTitle).hwnd;
        ASSERT_TRUE(menu);
        ASSERT_EQ(Text(menu, kUpdateButton), "アップデート");
        Click(menu, kUpdateButton);
        Box confirm = WaitWhileRunning(p, nullptr, menu);
        ASSERT_EQ(confirm.text, "[" + app + "]をアップデートします");
        Click(confirm.hwnd, IDYES);
        ASSERT_TRUE(WaitGone(confirm.hwnd));
      }
      // The report: owned by the menu and under its title once the menu is up, bare before.
      // (The progress window, which may open and close first, has another title.)
      Box box = WaitWhileRunning(p, menu ? kTitle : nullptr, menu);
      ASSERT_TRUE(box.hwnd);
      EXPECT_EQ(box.text, kDamaged);
      EXPECT_EQ(box.caption, menu ? kTitle : "");
      EXPECT_EQ(box.owner, menu);
      EXPECT_EQ(ClipboardText(), kDamaged);
      if (std::string(c.name) == "u-stream-short") Screenshot("hostile-update-report");
      Click(box.hwnd, IDOK);
    }();
    EXPECT_EQ(WaitExit(p, 10000), menuStage ? 0u : 0xFFFFFFFFu);
    EXPECT_EQ(VisibleWindows(), windows);  // no crash dialog

    // Nothing changed, not even in the install folder; the work folder came and went (its
    // folder's time moved).
    Snapshot after;
    Walk(dir, &after);
    std::vector<std::string> changed;
    for (const std::string& d : Differences(before, after))
      if (d != "~ " + dir + "\\temp") changed.push_back(d);
    EXPECT_EQ(changed, std::vector<std::string>{});
    EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
    for (const std::string& outside : {std::string("Z:"), Env("KOVELA_CASES")})
      for (const char* name : {"\\escape", "\\escape.txt"})
        EXPECT_FALSE(Exists(outside + name)) << outside + name;
    Snapshot now = DriveC();  // the next case's "before"
    EXPECT_EQ(Differences(drive, now), std::vector<std::string>{});
    drive = std::move(now);
  }
  DeleteSoftwareKey(kGlobal);
}
