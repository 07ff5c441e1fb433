// The whole update under Wine, as a user does it: the menu's update button, the confirmation,
// the files, the INI and registry values, the leftovers, the finish dialogs and the readme;
// an update that cannot write a file; a [reg] section made by a real registry export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "harness.h"
#include "harness_apply.h"
#include "harness_menu.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaApplyE2E";
const char kMenuTitle[] = "テストゲーム アップデータ";
const char kFinishTitle[] = "インストール終了";
const char kReadmeLabel[] = "説明書を読む";
const char kDamaged[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kIniSection[] = "設定";
// The folder ends in ソ (0x83 0x5C): its trail byte must never be taken for a separator.
const char kAppSubfolder[] = "\\ゲーム\\ソフト";

constexpr std::uint64_t kOldTime = 0x01C0000000000000ull;
constexpr std::uint64_t kReadmeTime = 0x01D7116EA6B4B600ull;   // 2021-03-04 05:06:07
constexpr std::uint64_t kGameTime = 0x01D8A2B3C4D5E600ull;
constexpr std::uint64_t kArchiveTime = 0x01D5000011112200ull;

// The first CD-ROM root as the updater looks for it, "E:\" when there is none.
std::string CdromRoot() {
  for (char c = 'A'; c <= 'Z'; ++c) {
    char root[4] = {c, ':', '\\', 0};
    if (GetDriveTypeA(root) == DRIVE_CDROM) return root;
  }
  return "E:\\";
}

struct Layout {
  std::string start;  // holds updater.exe and the temporary-files folder "temp"
  std::string app;    // the installed application
  std::string ini;    // INI_FILE
  std::string local;  // REG_LOCAL
};

Layout MakeLayout(const std::string& name) {
  Layout l;
  l.start = CaseFolder(name);
  std::string outer = CaseFolder(name + "-app");
  CreateDirectoryA((outer + "\\ゲーム").c_str(), nullptr);
  l.app = outer + kAppSubfolder;
  CreateDirectoryA(l.app.c_str(), nullptr);
  l.ini = l.app + "\\game.ini";
  l.local = name;
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, l.local, l.app);
  return l;
}

std::string InstallEnv(const Layout& l, bool readme, const std::string& regSection) {
  std::string env = "TITLEBAR テストゲーム\nINSTTO TEST_APP\nREG_GLOBAL " + std::string(kGlobal) +
                    "\nREG_LOCAL " + l.local + "\nINI_FILE " + l.ini + "\nINI_SECTION " + kIniSection + "\n";
  if (readme) env += std::string("INSTREADME ") + kReadmeLabel + "\n";
  env += "[EOF]\n"
         "[ini]\nDataPath=REP_INSTALL\\data\nDrive=REP_CDROMDRIVE\nNoEquals\n-\n"
         "[reg]\n" + regSection + "-\n"
         "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nsave\\*.tmp\n..\\outside.txt\n-\nEOF\n";
  return env;
}

const char kRegLines[] =
    "\"InstallPath\"=\"REP_INSTALL\"\n"
    "\"DataPath\"=\"REP_INSTALL\\\\data\"\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\n"
    "\"Empty\"=\"\"\n"
    "\"Count\"=dword:00000003\n"
    "@=\"default\"\n";

std::vector<Item> PayloadFor(const std::string& env) {
  std::string title = RctFromPixels(120, 150, [](int x, int y) {
    return static_cast<std::uint32_t>(((x * 2) << 16) | ((y * 255 / 150) << 8) | 0x80);
  });
  return {File("install.env", env),           File("insttscr.rct", title),
          File("readme.txt", "新しい説明書", kReadmeTime), File("game.exe", "new game", kGameTime),
          Folder("data"),                      File("data\\update.arc", "archive", kArchiveTime),
          Folder("data\\bgm")};
}

// What an older installation leaves: files the update replaces and leftovers it deletes.
void FillOldInstallation(const Layout& l) {
  auto write = [](const std::string& path, const std::string& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  };
  write(l.app + "\\game.exe", "old game");
  write(l.app + "\\keep.dat", "user data");
  CreateDirectoryA((l.app + "\\save").c_str(), nullptr);
  write(l.app + "\\save\\a.tmp", "a");
  write(l.app + "\\save\\b.tmp", "b");
  write(l.app + "\\..\\outside.txt", "not ours");
}

// Ends the updater when a failed expectation leaves it running, so that the next case
// does not meet its single-instance guard.
struct EndIfLeftRunning {
  Process& p;
  ~EndIfLeftRunning() {
    if (Running(p.pi)) TerminateProcess(p.pi.hProcess, 1);
  }
};

// Starts the updater and goes through the menu's update button and the confirmation.
// Returns the finish dialog, or none.
HWND UpdateUntilFinish(Process& p, const Layout& l, int updateButton, const std::string& shot) {
  Box menu = WaitForBox(p.pi.dwProcessId, 15000, kMenuTitle);
  EXPECT_TRUE(menu.hwnd) << "no menu";
  if (!menu.hwnd) return nullptr;
  EXPECT_EQ(ItemText(menu.hwnd, updateButton), "アップデート");
  if (!shot.empty()) Screenshot(shot + "-1-menu");
  Click(menu.hwnd, updateButton);

  HWND confirm = WaitForOtherDialog(p.pi.dwProcessId, menu.hwnd, 15000);
  EXPECT_TRUE(confirm) << "no confirmation";
  if (!confirm) return nullptr;
  EXPECT_EQ(ItemText(confirm, 0xFFFF), "[" + l.app + "]をアップデートします");
  if (!shot.empty()) Screenshot(shot + "-2-confirm");
  Click(confirm, IDYES);

  Box finish = WaitForBox(p.pi.dwProcessId, 20000, kFinishTitle);
  EXPECT_TRUE(finish.hwnd) << "no finish dialog";
  if (finish.hwnd) {
    EXPECT_EQ(finish.owner, menu.hwnd);
  }
  return finish.hwnd;
}

// Everything the update leaves in the install folder, the INI file and the registry.
void ExpectUpdated(const Layout& l) {
  EXPECT_EQ(ListFolder(l.app), (std::vector<std::string>{"data", "game.exe", "game.ini", "keep.dat",
                                                          "readme.txt"}));
  EXPECT_EQ(ListFolder(l.app + "\\data"), (std::vector<std::string>{"bgm", "update.arc"}));
  EXPECT_EQ(ReadFile(l.app + "\\game.exe"), "new game");
  EXPECT_EQ(ReadFile(l.app + "\\keep.dat"), "user data");
  EXPECT_EQ(WriteTime(l.app + "\\readme.txt"), kReadmeTime);
  EXPECT_EQ(WriteTime(l.app + "\\game.exe"), kGameTime);
  EXPECT_EQ(WriteTime(l.app + "\\data\\update.arc"), kArchiveTime);
  EXPECT_TRUE(Exists(l.app + "\\..\\outside.txt"));

  EXPECT_EQ(IniValue(l.ini, kIniSection, "DataPath"), l.app + "\\data");
  EXPECT_EQ(IniValue(l.ini, kIniSection, "Drive"), CdromRoot());
  EXPECT_EQ(IniValue(l.ini, kIniSection, "NoEquals"), "(missing)");

  std::string key = std::string("Software\\") + kGlobal + "\\" + l.local;
  EXPECT_EQ(UserValues(key), (std::vector<RegValue>{{"DataPath", REG_SZ, l.app + "\\data"},
                                                    {"Empty", REG_SZ, ""},
                                                    {"InstallPath", REG_SZ, l.app},
                                                    {"Quote", REG_SZ, "say \"hi\""}}));
}

}  // namespace

// Each way of closing the finish dialog: the readme is opened only after OK with the box
// ticked; Esc clears the tick; without INSTREADME the short dialog has no box at all.
TEST(Apply, WholeUpdateThroughTheMenu) {
  const struct {
    const char* name;
    bool readme;
    bool tick;
    int close;  // IDOK, or IDCANCEL as Esc sends it
    bool opened;
  } cases[] = {
      {"apply-ticked", true, true, IDOK, true},
      {"apply-unticked", true, false, IDOK, false},
      {"apply-esc", true, true, IDCANCEL, false},
      {"apply-short", false, false, IDOK, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layout l = MakeLayout(c.name);
    FillOldInstallation(l);
    std::string exe = MakeUpdater(l.start, PayloadFor(InstallEnv(l, c.readme, kRegLines)));
    std::string record = l.start + "-opened.txt";
    DeleteFileA(record.c_str());
    TxtRecorder recorder(record);
    bool shots = std::strcmp(c.name, "apply-ticked") == 0 || std::strcmp(c.name, "apply-short") == 0;

    Process p = Launch(exe, l.start + "\\temp");
    EndIfLeftRunning guard{p};
    HWND finish = UpdateUntilFinish(p, l, c.readme ? 1002 : 1001, shots ? c.name : "");
    ASSERT_TRUE(finish);

    // While the finish dialog is up, the update is complete.
    ExpectUpdated(l);
    bool hasBox = false;
    EXPECT_EQ(ItemText(finish, 1007, &hasBox), c.readme ? kReadmeLabel : "");
    EXPECT_EQ(hasBox, c.readme);
    EXPECT_EQ(ItemText(finish, 0xFFFF),
              c.readme ? "インストールを終了しました。\n以下のメニューを選択してＯＫを押して下さい。"
                       : "インストールを終了しました。");
    if (hasBox) {
      EXPECT_EQ(SendMessageA(GetDlgItem(finish, 1007), BM_GETCHECK, 0, 0), BST_UNCHECKED);
      if (shots) Screenshot(std::string(c.name) + "-3-finish");
      if (c.tick) {
        Click(finish, 1007);
        for (int i = 0; i < 40 && SendMessageA(GetDlgItem(finish, 1007), BM_GETCHECK, 0, 0) != BST_CHECKED; ++i)
          Sleep(50);
        EXPECT_EQ(SendMessageA(GetDlgItem(finish, 1007), BM_GETCHECK, 0, 0), BST_CHECKED);
        if (shots) Screenshot(std::string(c.name) + "-4-ticked");
      }
    } else if (shots) {
      Screenshot(std::string(c.name) + "-3-finish");
    }
    if (c.close == IDOK)
      Click(finish, IDOK);
    else
      PostMessageA(finish, WM_COMMAND, IDCANCEL, 0);

    EXPECT_EQ(WaitExit(p), 0u);
    Opened opened;
    bool wasOpened = WaitForOpened(record, &opened, c.opened ? 10000 : 2000);
    EXPECT_EQ(wasOpened, c.opened);
    if (wasOpened) {
      EXPECT_EQ(opened.path, l.app + "\\readme.txt");
      EXPECT_EQ(opened.content, "新しい説明書");
    }
    EXPECT_TRUE(ListFolder(l.start + "\\temp").empty());
    EXPECT_EQ(ListFolder(l.start), (std::vector<std::string>{"temp", "updater.exe"}));
    DeleteFileA(record.c_str());
  }
  DeleteSoftwareKey(kGlobal);
}

// A file of the old installation that cannot be replaced: the extraction's damaged-file
// report, exit -1, and none of the later steps.
TEST(Apply, ReadOnlyFileInTheInstallFolderEndsWithTheDamagedFileReport) {
  Layout l = MakeLayout("apply-readonly");
  FillOldInstallation(l);
  std::string locked = l.app + "\\game.exe";
  ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
  // Wine run by root writes read-only files all the same; then an exclusive handle of ours
  // keeps the file from being replaced, as the attribute does on Windows.
  HANDLE probe = CreateFileA(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE hold = INVALID_HANDLE_VALUE;
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  }
  std::string exe = MakeUpdater(l.start, PayloadFor(InstallEnv(l, true, kRegLines)));

  Process p = Launch(exe, l.start + "\\temp");
  EndIfLeftRunning guard{p};
  Box menu = WaitForBox(p.pi.dwProcessId, 15000, kMenuTitle);
  ASSERT_TRUE(menu.hwnd);
  Click(menu.hwnd, 1002);
  HWND confirm = WaitForOtherDialog(p.pi.dwProcessId, menu.hwnd, 15000);
  ASSERT_TRUE(confirm);
  Click(confirm, IDYES);
  HWND box = nullptr;
  for (int i = 0; i < 300 && !box; ++i) {  // the progress window may come and go first
    HWND w = WaitForOtherDialog(p.pi.dwProcessId, menu.hwnd, 100);
    if (w && ItemText(w, 0xFFFF) == kDamaged) box = w;
  }
  ASSERT_TRUE(box) << "no damaged-file report";
  Screenshot("apply-readonly-report");
  Click(box, IDOK);
  EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
  if (hold != INVALID_HANDLE_VALUE) CloseHandle(hold);

  EXPECT_EQ(ReadFile(l.app + "\\game.exe"), "old game");
  EXPECT_FALSE(Exists(l.ini));
  EXPECT_TRUE(UserValues(std::string("Software\\") + kGlobal + "\\" + l.local).empty());
  EXPECT_TRUE(Exists(l.app + "\\save\\a.tmp"));
  EXPECT_TRUE(ListFolder(l.start + "\\temp").empty());
  SetFileAttributesA((l.app + "\\game.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteSoftwareKey(kGlobal);
}

// Values set in the registry, exported by regedit, converted to code page 932 and used as
// the [reg] section, come back unchanged; the dword and the default value stay behind.
TEST(Apply, RegistryExportRoundTrip) {
  Layout l = MakeLayout("apply-export");
  std::string source = std::string("Software\\") + kGlobal + "\\Source";
  const std::vector<RegValue> strings = {
      {"Path", REG_SZ, "C:\\Program Files\\Game\\"},
      {"Quote", REG_SZ, "say \"hi\" \\ \"bye\""},
      {"Japanese", REG_SZ, "ソフト表示\\データ"},
      {"名前", REG_SZ, "値"},
      {"Empty", REG_SZ, ""},
      {"Equals", REG_SZ, "a\"=\"b"},
      {"Say\"it", REG_SZ, "x"},
  };
  for (const RegValue& v : strings) SetUserString(source, v.name, v.data);
  SetUserDword(source, "Count", 3);
  SetUserString(source, "", "default value");
  std::string exported = ExportUserKeyCp932(source);
  ASSERT_NE(exported.find("\"Path\"="), std::string::npos) << exported;
  if (std::FILE* f = std::fopen((l.start + "-export.reg").c_str(), "wb")) {  // kept for a look
    std::fwrite(exported.data(), 1, exported.size(), f);
    std::fclose(f);
  }

  std::string exe = MakeUpdater(l.start, PayloadFor(InstallEnv(l, false, exported)));
  Process p = Launch(exe, l.start + "\\temp");
  EndIfLeftRunning guard{p};
  HWND finish = UpdateUntilFinish(p, l, 1001, "");
  ASSERT_TRUE(finish);
  Click(finish, IDOK);
  EXPECT_EQ(WaitExit(p), 0u);

  std::vector<RegValue> expected = strings;
  std::sort(expected.begin(), expected.end(),
            [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
  EXPECT_EQ(UserValues(std::string("Software\\") + kGlobal + "\\" + l.local), expected) << exported;
  DeleteSoftwareKey(kGlobal);
}

// The finish templates as built into the executable.
TEST(Apply, FinishTemplatesAsTabled) {
  struct Control {
    int id;
    WORD atom;
    std::string text;
    short x, y, cx, cy;
    DWORD style;
    bool operator==(const Control& o) const {
      return id == o.id && atom == o.atom && text == o.text && x == o.x && y == o.y && cx == o.cx &&
             cy == o.cy && style == o.style;
    }
  };
  HMODULE m = LoadLibraryExA(Env("KOVELA_STUB").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(m);
  auto narrow = [](const WCHAR*& p) {
    std::wstring w;
    while (*p) w.push_back(static_cast<wchar_t>(*p++));
    ++p;
    char buf[512] = {};
    WideCharToMultiByte(932, 0, w.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
    return std::string(buf);
  };
  auto read = [&](const char* name, DWORD* style, short* size, std::string* title, std::string* font) {
    std::vector<Control> out;
    HRSRC r = FindResourceA(m, name, MAKEINTRESOURCEA(5));
    if (!r) return out;
    const auto* t = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(m, r)));
    *style = t->style;
    EXPECT_EQ(t->dwExtendedStyle, 0u);
    size[0] = t->cx;
    size[1] = t->cy;
    const WCHAR* p = reinterpret_cast<const WCHAR*>(t + 1);
    p += 2;  // no menu, default class
    *title = narrow(p);
    WORD points = *p++;
    *font = std::to_string(points) + " " + narrow(p);
    for (int i = 0; i < t->cdit; ++i) {
      p = reinterpret_cast<const WCHAR*>((reinterpret_cast<UINT_PTR>(p) + 3) & ~UINT_PTR(3));
      const auto* it = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
      Control c{static_cast<short>(it->id), 0, "", it->x, it->y, it->cx, it->cy, it->style};
      p = reinterpret_cast<const WCHAR*>(it + 1);
      if (*p == 0xFFFF) {
        c.atom = p[1];
        p += 2;
      } else {
        narrow(p);
      }
      c.text = narrow(p);
      p += 1 + *p / sizeof(WCHAR);
      out.push_back(c);
    }
    return out;
  };
  DWORD style = 0;
  short size[2];
  std::string title, font;
  EXPECT_EQ(read("ENDINSTALL", &style, size, &title, &font),
            (std::vector<Control>{
                {1, 0x80, "OK", 121, 50, 50, 14, 0x50010001},
                {-1, 0x82, "インストールを終了しました。\n以下のメニューを選択してＯＫを押して下さい。", 6, 5, 165, 20, 0x50020000},
                {1007, 0x80, "readme", 5, 35, 160, 10, 0x50010003}}));
  EXPECT_EQ(style, 0x80C800C0u);
  EXPECT_EQ(size[0], 178);
  EXPECT_EQ(size[1], 71);
  EXPECT_EQ(title, kFinishTitle);
  EXPECT_EQ(font, "9 ＭＳ Ｐゴシック");
  EXPECT_EQ(read("ENDINSTALL_SHORT", &style, size, &title, &font),
            (std::vector<Control>{{1, 0x80, "OK", 62, 34, 50, 14, 0x50010001},
                                  {-1, 0x82, "インストールを終了しました。", 5, 5, 165, 20, 0x50020000}}));
  EXPECT_EQ(style, 0x80C800C0u);
  EXPECT_EQ(size[0], 175);
  EXPECT_EQ(size[1], 55);
  EXPECT_EQ(title, kFinishTitle);
  EXPECT_EQ(font, "9 ＭＳ Ｐゴシック");
  FreeLibrary(m);
}
