// The whole update under Wine, as a user does it: the menu's update button, the confirmation,
// the files, the INI and registry values, the leftovers, the finish dialogs and the readme;
// an update that cannot write a file; a [reg] section made by a real registry export.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "resource.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaApplyE2E";
const char kMenuTitle[] = "テストゲーム アップデータ";
const char kReadmeLabel[] = "説明書を読む";
const char kIniSection[] = "設定";

constexpr std::uint64_t kReadmeTime = 0x01D710B41567C980ull;  // 2021-03-04 05:06:07
constexpr std::uint64_t kGameTime = 0x01D8A2B3C4D5E600ull;
constexpr std::uint64_t kArchiveTime = 0x01D5000011112200ull;

struct Layout {
  std::string start;  // holds updater.exe and the temporary-files folder "temp"
  std::string app;    // the installed application
  std::string ini;    // INI_FILE
  std::string local;  // REG_LOCAL
  std::string key;    // HKCU Software\<REG_GLOBAL>\<REG_LOCAL>
};

// The install folder ends in ソ (0x83 0x5C): its trail byte must never be taken for a separator.
// The older installation there leaves files the update replaces and leftovers it deletes.
Layout MakeLayout(const std::string& name) {
  Layout l{CaseFolder(name), CaseFolder(name + "-app") + "\\ゲーム\\ソフト", "", name,
           std::string("Software\\") + kGlobal + "\\" + name};
  l.ini = l.app + "\\game.ini";
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, name, l.app);
  WriteFile(l.app + "\\game.exe", "old game");
  WriteFile(l.app + "\\keep.dat", "user data");
  WriteFile(l.app + "\\save\\a.tmp", "a");
  WriteFile(l.app + "\\save\\b.tmp", "b");
  WriteFile(l.app + "\\..\\outside.txt", "not ours");
  return l;
}

const char kRegLines[] =
    "\"InstallPath\"=\"REP_INSTALL\"\n"
    "\"DataPath\"=\"REP_INSTALL\\\\data\"\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\n"
    "\"Empty\"=\"\"\n"
    "\"Count\"=dword:00000003\n"
    "@=\"default\"\n";

// An updater for the layout; its [reg] section is regLines.
std::string MakeFor(const Layout& l, bool readme, const std::string& regLines) {
  std::string env = "TITLEBAR テストゲーム\nINSTTO TEST_APP\nREG_GLOBAL " + std::string(kGlobal) +
                    "\nREG_LOCAL " + l.local + "\nINI_FILE " + l.ini + "\nINI_SECTION " + kIniSection + "\n";
  if (readme) env += std::string("INSTREADME ") + kReadmeLabel + "\n";
  env +=
      "[EOF]\n"
      "[ini]\nDataPath=REP_INSTALL\\data\nDrive=REP_CDROMDRIVE\nNoEquals\n-\n"
      "[reg]\n" +
      regLines +
      "-\n"
      "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nsave\\*.tmp\n..\\outside.txt\n-\nEOF\n";
  std::string title = RctFromPixels(120, 150, [](int x, int y) {
    return static_cast<std::uint32_t>(((x * 2) << 16) | ((y * 255 / 150) << 8) | 0x80);
  });
  return MakeUpdater(
      l.start, {File("install.env", env), File("insttscr.rct", title),
                File("readme.txt", "新しい説明書", kReadmeTime), File("game.exe", "new game", kGameTime),
                Folder("data"), File("data\\update.arc", "archive", kArchiveTime), Folder("data\\bgm")});
}

// Through the menu's update button and the confirmation; returns the menu, or none.
HWND StartUpdate(Process& p, const Layout& l, int updateButton, const std::string& shot) {
  Box menu = WaitForBox(p.pi.dwProcessId, 15000, kMenuTitle);
  EXPECT_TRUE(menu.hwnd) << "no menu";
  if (!menu.hwnd) return nullptr;
  EXPECT_EQ(Text(menu.hwnd, updateButton), "アップデート");
  if (!shot.empty()) Screenshot(shot + "-1-menu");
  Click(menu.hwnd, updateButton);
  Box confirm = WaitForBox(p.pi.dwProcessId, 15000, nullptr, menu.hwnd);
  EXPECT_EQ(confirm.text, "[" + l.app + "]をアップデートします");
  if (!confirm.hwnd) return nullptr;
  if (!shot.empty()) Screenshot(shot + "-2-confirm");
  Click(confirm.hwnd, IDYES);
  EXPECT_TRUE(WaitGone(confirm.hwnd));
  return menu.hwnd;
}

// The finish dialog, owned by the menu.
HWND WaitForFinish(Process& p, HWND menu) {
  Box finish = WaitForBox(p.pi.dwProcessId, 20000, "インストール終了");
  EXPECT_TRUE(finish.hwnd) << "no finish dialog";
  EXPECT_EQ(finish.owner, menu);
  return finish.hwnd;
}

std::uint64_t WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d);
  return (static_cast<std::uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
         d.ftLastWriteTime.dwLowDateTime;
}

std::string IniValue(const Layout& l, const char* key) {
  char buf[1024] = {};
  GetPrivateProfileStringA(kIniSection, key, "(missing)", buf, sizeof buf, l.ini.c_str());
  return buf;
}

// The first CD-ROM root as the updater looks for it, "E:\" when there is none.
std::string CdromRoot() {
  for (char c = 'A'; c <= 'Z'; ++c)
    if (GetDriveTypeA((std::string(1, c) + ":\\").c_str()) == DRIVE_CDROM) return std::string(1, c) + ":\\";
  return "E:\\";
}

// Everything the update leaves in the install folder, the INI file and the registry.
void ExpectUpdated(const Layout& l) {
  EXPECT_EQ(ListFolder(l.app),
            (std::vector<std::string>{"data", "game.exe", "game.ini", "keep.dat", "readme.txt"}));
  EXPECT_EQ(ListFolder(l.app + "\\data"), (std::vector<std::string>{"bgm", "update.arc"}));
  EXPECT_EQ(ReadFile(l.app + "\\game.exe"), "new game");
  EXPECT_EQ(ReadFile(l.app + "\\keep.dat"), "user data");
  EXPECT_EQ(WriteTime(l.app + "\\readme.txt"), kReadmeTime);
  EXPECT_EQ(WriteTime(l.app + "\\game.exe"), kGameTime);
  EXPECT_EQ(WriteTime(l.app + "\\data\\update.arc"), kArchiveTime);
  EXPECT_TRUE(Exists(l.app + "\\..\\outside.txt"));
  EXPECT_EQ(IniValue(l, "DataPath"), l.app + "\\data");
  EXPECT_EQ(IniValue(l, "Drive"), CdromRoot());
  EXPECT_EQ(IniValue(l, "NoEquals"), "(missing)");
  EXPECT_EQ(RegValues(HKEY_CURRENT_USER, l.key),
            (std::vector<RegValue>{{"DataPath", REG_SZ, l.app + "\\data"},
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
    bool readme, tick;
    int close;  // IDOK, or IDCANCEL as Esc sends it
    bool opened, shots;
  } cases[] = {
      {"apply-ticked", true, true, IDOK, true, true},
      {"apply-unticked", true, false, IDOK, false, false},
      {"apply-esc", true, true, IDCANCEL, false, false},
      {"apply-short", false, false, IDOK, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layout l = MakeLayout(c.name);
    RecordTxtOpens();
    Process p = Launch(MakeFor(l, c.readme, kRegLines), l.start + "\\temp");
    const std::string shot = c.shots ? c.name : "";
    HWND finish = WaitForFinish(p, StartUpdate(p, l, c.readme ? IDC_MENU_SLOT2 : IDC_MENU_SLOT1, shot));
    ASSERT_TRUE(finish);

    // While the finish dialog is up, the update is complete.
    ExpectUpdated(l);
    HWND box = GetDlgItem(finish, IDC_FINISH_README);
    EXPECT_EQ(box != nullptr, c.readme);
    EXPECT_EQ(Text(finish, IDC_FINISH_README), c.readme ? kReadmeLabel : "");
    EXPECT_EQ(Text(finish, 0xFFFF), std::string("インストールを終了しました。") +
                                        (c.readme ? "\n以下のメニューを選択してＯＫを押して下さい。" : ""));
    if (c.shots) Screenshot(shot + "-3-finish");
    if (box) {
      EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
      if (c.tick) {
        Click(finish, IDC_FINISH_README);
        for (int i = 0; i < 40 && SendMessageA(box, BM_GETCHECK, 0, 0) != BST_CHECKED; ++i) Sleep(50);
        EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
        if (c.shots) Screenshot(shot + "-4-ticked");
      }
    }
    if (c.close == IDOK)
      Click(finish, IDOK);
    else
      PostMessageA(finish, WM_COMMAND, IDCANCEL, 0);

    EXPECT_EQ(WaitExit(p), 0u);
    std::string path, content;
    EXPECT_EQ(WaitForOpened(&path, &content, c.opened ? 10000 : 2000), c.opened);
    if (c.opened) {
      EXPECT_EQ(path, l.app + "\\readme.txt");
      EXPECT_EQ(content, "新しい説明書");
    }
    EXPECT_TRUE(ListFolder(l.start + "\\temp").empty());
    EXPECT_EQ(ListFolder(l.start), (std::vector<std::string>{"temp", "updater.exe"}));
  }
  DeleteSoftwareKey(kGlobal);
}

// Values set in the registry, exported by regedit, converted to code page 932 and used as the
// [reg] section, come back unchanged; the dword and the default value stay behind.
TEST(Apply, RegistryExportRoundTrip) {
  Layout l = MakeLayout("apply-export");
  const std::string source = std::string("Software\\") + kGlobal + "\\Source";
  std::vector<RegValue> strings = {
      {"Path", REG_SZ, "C:\\Program Files\\Game\\"},
      {"Quote", REG_SZ, "say \"hi\" \\ \"bye\""},
      {"Japanese", REG_SZ, "ソフト表示\\データ"},
      {"名前", REG_SZ, "値"},
      {"Empty", REG_SZ, ""},
      {"Equals", REG_SZ, "a\"=\"b"},
      {"Say\"it", REG_SZ, "x"},
  };
  for (const RegValue& v : strings) RegPut(HKEY_CURRENT_USER, source, v.name, v.data);
  RegPut(HKEY_CURRENT_USER, source, "Count", std::string("\3\0\0\0", 4), REG_DWORD);
  RegPut(HKEY_CURRENT_USER, source, "", "default value");

  // regedit /e writes UTF-16LE; the section takes code page 932 with LF line ends.
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  const std::string file = l.start + "-export.reg";  // kept for a look
  Process regedit = Launch(std::string(windows) + "\\regedit.exe", l.start + "\\temp",
                           "/e \"" + file + "\" \"HKEY_CURRENT_USER\\" + source + "\"");
  ASSERT_EQ(WaitExit(regedit, 30000), 0u);
  const std::string raw = ReadFile(file);
  ASSERT_EQ(raw.compare(0, 2, "\xFF\xFE"), 0) << raw;
  const std::wstring wide(reinterpret_cast<const wchar_t*>(raw.data() + 2), (raw.size() - 2) / 2);
  std::string exported(wide.size() * 2, '\0');
  exported.resize(WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), &exported[0],
                                      static_cast<int>(exported.size()), nullptr, nullptr));
  exported.erase(std::remove(exported.begin(), exported.end(), '\r'), exported.end());
  ASSERT_NE(exported.find("\"Path\"="), std::string::npos) << exported;

  Process p = Launch(MakeFor(l, false, exported), l.start + "\\temp");
  HWND finish = WaitForFinish(p, StartUpdate(p, l, IDC_MENU_SLOT1, ""));
  ASSERT_TRUE(finish);
  Click(finish, IDOK);
  EXPECT_EQ(WaitExit(p), 0u);
  std::sort(strings.begin(), strings.end(),
            [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
  EXPECT_EQ(RegValues(HKEY_CURRENT_USER, l.key), strings) << exported;
  DeleteSoftwareKey(kGlobal);
}
