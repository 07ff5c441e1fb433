// Damaged and hostile containers through the real updater under Wine: each ends in its report
// and exit code without a crash, and nothing changes on drive C: or in the case's folder, not
// even the install folder (the work folder comes and goes). Each kind of damage is tabled
// natively; here one of each meets the real file system at each stage.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kDamaged[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kGlobal[] = "KovelaHostileE2E";
const char kTitle[] = "ホスタイル アップデータ";
const char kEnv[] =
    "TITLEBAR ホスタイル\nINSTTO HOSTILE_APP\nREG_GLOBAL KovelaHostileE2E\nREG_LOCAL Hostile\n[EOF]\n";
std::string U32(std::uint32_t v) { return Le(v, 4); }

// A file record with its fields as given: the name field as it stands (add the NUL yourself),
// N its length unless one is given.
std::string Record(const std::string& name, std::uint32_t size, std::uint32_t packed, int n = -1) {
  return Le(n < 0 ? name.size() : n, 2) + name + U32(size) + U32(packed) +
         std::string("\x00\xC9\x67\x15\xB4\x10\xD7\x01", 8) + Zlib("x");
}
std::string Items(const std::vector<Item>& items) { return PayloadBytes(items, false); }
std::string Picture(int width, int height, const std::string& data) {
  return std::string("\x98\x5A\x92\x9ATC00", 8) + U32(width) + U32(height) + U32(data.size()) + data;
}

// Measured with Wine 8.0: a run of the updater changes nothing at all on C:, folder times
// included. (This program's tmpfile() writes into its %TEMP% there: no PayloadBytes between walks.)
Snapshot DriveC() {
  Snapshot s;
  Walk("C:", &s);
  return s;
}

// The process's first dialog with that title other than `except`, or none once the process
// has ended (a crash) or after 20 s.
Box WaitWhileRunning(Process& p, const char* title, HWND except = nullptr) {
  for (int i = 0; i < 80 && Running(p); ++i)
    if (Box b = WaitForBox(p.pi.dwProcessId, 250, title, except); b.hwnd) return b;
  return Box{};
}

std::vector<std::string> VisibleWindows() {  // Wine's crash dialog would be one
  std::vector<std::string> out;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, nullptr, nullptr)) != nullptr;)
    if (IsWindowVisible(w)) out.push_back(Text(w));
  return out;
}

// Wine's crash dialog off while the table runs: a crash ends the process at once with its
// exception code (and a backtrace on standard error) instead of waiting for a click.
struct NoCrashDialog {
  const char* key = "Software\\Wine\\WineDbg";
  std::vector<RegValue> before = RegValues(HKEY_CURRENT_USER, key);
  NoCrashDialog() { RegPut(HKEY_CURRENT_USER, key, "ShowCrashDialog", std::string(4, '\0'), REG_DWORD); }
  ~NoCrashDialog() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, Wide(key).c_str(), L"ShowCrashDialog");
    for (const RegValue& v : before)
      if (v.name == "ShowCrashDialog") RegPut(HKEY_CURRENT_USER, key, v.name, v.data, v.type);
  }
};

}  // namespace

// Where the damage is met: by the start-up pass (which stops at the folder record data\bgm, so
// that the records after it are only read by the update), by the update after its
// confirmation, or never (a damaged title picture: the menu opens, its exit button ends with 0).
enum class Stage { Startup, Update, Menu };

TEST(Hostile, DamagedContainersEndInTheReportAndTouchNothingOutside) {
  NoCrashDialog noCrashDialog;
  const std::string startupHead = Items({File("install.env", kEnv)});
  const std::string updateHead =
      Items({File("install.env", kEnv),
             File("insttscr.rct", RctFromPixels(8, 8, [](int, int) { return 0x808080u; })), Folder("data"),
             Folder("data\\bgm")});
  const std::string ogg = Items({File("data\\bgm\\x.ogg", std::string(3000, 'o'))});
  std::string corrupt = Items({File("readme.txt", "read me")}), cut = ogg.substr(0, ogg.size() - 1);
  corrupt.replace(2 + 11 + 16 + 3, 2, "\xFF\xFF");
  cut.replace(2 + 15 + 4, 4, U32(cut.size() - 2 - 15 - 16));  // the stream one byte short
  // 16 × 8 pixels whose first four rows decode (a run of 63 follows the first pixel); then a
  // back-reference one row up, 3 × 65535 + 12 bytes, runs past the end: the rest stays black.
  std::string runPastEnd;
  for (int i = 0; i < 64; ++i) runPastEnd += i == 1 ? "\x3E\xCC\x66\x33" : "\xCC\x66\x33";
  const struct {
    const char* name;
    Stage stage;
    std::string records;  // after the head; the end marker follows unless `end` is false
    bool end = true;
    int trailer = 0;       // nonzero: the trailer says file size + trailer
    bool picture = false;  // Menu: the picture's top half painted in its colour, the rest black
  } cases[] = {
      {"s-parent", Stage::Startup, Items({File("..\\..\\escape.txt", "x")})},
      {"s-name-261", Stage::Startup, Record(std::string(256, 'n') + ".txt" + '\0', 1, 9)},
      {"s-size-negative", Stage::Startup, Record(std::string("neg.txt") + '\0', 0xFFFFFFFE, 9)},
      {"s-corrupt-stream", Stage::Startup, corrupt},
      {"s-trailer-beyond", Stage::Startup, "", true, 16},

      // Unsafe names, impossible sizes and lengths in the update's records are refused by the
      // same reader the start-up pass uses (the native tables hold them); here the damage that
      // the start-up pass does not reach.
      {"u-stream-short", Stage::Update, cut},
      {"u-cut-stream", Stage::Update, ogg.substr(0, 2 + 15 + 18 + 5), false},  // 5 bytes into the stream
      {"u-no-end", Stage::Update, ogg, false},

      {"m-picture-run-past-end", Stage::Menu,
       Items({File("insttscr.rct", Picture(16, 8, runPastEnd + "\xA7\xFF\xFF"))}), true, 0, true},
      // 65536 × 65537 pixels: the pixel count overflows 32 bits.
      {"m-picture-too-large", Stage::Menu,
       Items({File("insttscr.rct", Picture(65536, 65537, "\xCC\x66\x33"))})},
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
      WriteFile(exe, bytes.substr(0, bytes.size() - 4) + U32(bytes.size() + c.trailer));
    }
    const Snapshot before = Take(dir);

    const std::vector<std::string> windows = VisibleWindows();
    Process p = Launch(exe, dir + "\\temp");
    // Drives the run to its end; a step that fails stops the driving, not the checks below.
    [&] {
      if (c.stage == Stage::Menu) {
        Box menu = WaitWhileRunning(p, kTitle);
        ASSERT_TRUE(menu.hwnd);
        Sleep(450);  // no picture must stay so a while
        EXPECT_EQ(
            MenuPaint(menu.hwnd, c.picture ? 16 : 0, 8, [](int, int y) { return y < 4 ? 0x3366CCu : 0u; }),
            "");
        return Click(menu.hwnd, IDC_MENU_SLOT0);
      }
      HWND menu = nullptr, confirm = nullptr;
      if (c.stage == Stage::Update) {
        menu = StartUpdate(p, kTitle, app, IDC_MENU_SLOT1, &confirm);
        ASSERT_TRUE(menu && WaitGone(confirm));
      }
      // The report: owned by the menu and under its title once the menu is up, bare before.
      // (The progress window, which may open and close first, has another title.)
      Box box = WaitWhileRunning(p, menu ? kTitle : nullptr, menu);
      EXPECT_EQ(std::make_tuple(box.text, box.caption, box.owner, ClipboardText()),
                std::make_tuple(std::string(kDamaged), std::string(menu ? kTitle : ""), menu,
                                std::string(kDamaged)));
      if (std::string(c.name) == "u-stream-short") Screenshot("hostile-update-report");
      Click(box.hwnd, IDOK);
    }();
    EXPECT_EQ(WaitExit(p, 10000), c.stage == Stage::Menu ? 0u : 0xFFFFFFFFu);
    EXPECT_EQ(VisibleWindows(), windows);  // no crash dialog

    std::vector<std::string> changed;
    for (const std::string& d : Differences(before, Take(dir)))
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
