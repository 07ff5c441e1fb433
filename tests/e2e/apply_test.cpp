// The whole update under Wine, as a user does it: the files and their times, the INI and
// registry values, the leftovers, the finish dialog and the readme; a [reg] section made by a
// real registry export.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaApplyE2E";
const char kTitle[] = "テストゲーム アップデータ";
const char kReadmeLabel[] = "説明書を読む";
constexpr std::uint64_t kTimes[] = {0x01D710B41567C980ull, 0x01D8A2B3C4D5E600ull, 0x01D5000011112200ull};
const char* const kTimed[] = {"readme.txt", "game.exe", "data\\update.arc"};

struct Layout {
  std::string start, app, local, key;
};

// The install folder ends in ソ (0x83 0x5C), whose trail byte is no separator. The older
// installation leaves a file the update replaces and leftovers it deletes.
Layout MakeLayout(const std::string& name) {
  Layout l{CaseFolder(name), CaseFolder(name + "-app") + "\\ゲーム\\ソフト", name,
           std::string("Software\\") + kGlobal + "\\" + name};
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, name, l.app);
  for (const char* f : {"game.exe", "keep.dat", "save\\a.tmp", "save\\b.tmp", "..\\outside.txt"})
    WriteFile(l.app + "\\" + f, f);
  return l;
}

std::string MakeFor(const Layout& l, bool readme, const std::string& regLines) {
  std::string env =
      "TITLEBAR テストゲーム\nINSTTO TEST_APP\nREG_GLOBAL " + std::string(kGlobal) + "\nREG_LOCAL " +
      l.local + "\nINI_FILE " + l.app + "\\game.ini\nINI_SECTION 設定\n" +
      (readme ? std::string("INSTREADME ") + kReadmeLabel + "\n" : "") +
      "[EOF]\n[ini]\nDataPath=REP_INSTALL\\data\nDrive=REP_CDROMDRIVE\nNoEquals\n-\n[reg]\n" + regLines +
      "-\n[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nsave\\*.tmp\n..\\outside.txt\n-\nEOF\n";
  return MakeUpdater(l.start,
                     {File("install.env", env),
                      File("insttscr.rct", RctFromPixels(120, 150, [](int x, int y) { return x * y; })),
                      File(kTimed[0], "新しい説明書", kTimes[0]), File(kTimed[1], "new game", kTimes[1]),
                      Folder("data"), File(kTimed[2], "archive", kTimes[2]), Folder("data\\bgm")});
}

std::string CdromRoot() {  // as the updater looks for it, "E:\" when there is none
  for (char c = 'A'; c <= 'Z'; ++c)
    if (GetDriveTypeW(Wide(std::string(1, c) + ":\\").c_str()) == DRIVE_CDROM)
      return std::string(1, c) + ":\\";
  return "E:\\";
}

void ExpectUpdated(const Layout& l) {
  EXPECT_EQ(ListFolder(l.app),
            (std::vector<std::string>{"data", "game.exe", "game.ini", "keep.dat", "readme.txt"}));
  EXPECT_EQ(ListFolder(l.app + "\\data"), (std::vector<std::string>{"bgm", "update.arc"}));
  EXPECT_EQ(ReadFile(l.app + "\\game.exe"), "new game");
  EXPECT_EQ(ReadFile(l.app + "\\keep.dat"), "keep.dat");
  Snapshot s = Take(l.app);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s[l.app + "\\" + kTimed[i]].time, kTimes[i]) << kTimed[i];
  EXPECT_TRUE(Exists(l.app + "\\..\\outside.txt"));
  // The bytes, code page 932 whatever the system's: the line without "=" writes nothing.
  EXPECT_EQ(ReadFile(l.app + "\\game.ini"),
            "[設定]\r\nDataPath=" + l.app + "\\data\r\nDrive=" + CdromRoot() + "\r\n");
  EXPECT_EQ(RegValues(HKEY_CURRENT_USER, l.key),
            (std::vector<RegValue>{{"DataPath", REG_SZ, l.app + "\\data"},
                                   {"Empty", REG_SZ, ""},
                                   {"InstallPath", REG_SZ, l.app},
                                   {"Quote", REG_SZ, "say \"hi\""}}));
}

}  // namespace

// Each way of closing the finish dialog: the readme is opened only after OK with the box
// ticked; Esc clears the tick; without INSTREADME the short dialog has no box at all. What the
// update did to the folder, the INI file and the registry is checked once, in the first run.
TEST(Apply, WholeUpdateThroughTheMenu) {
  const struct {
    const char* name;
    bool readme, tick;
    int close;  // IDOK, or IDCANCEL as Esc sends it
    bool opened;
  } cases[] = {{"apply-ticked", true, true, IDOK, true},
               {"apply-unticked", true, false, IDOK, false},
               {"apply-esc", true, true, IDCANCEL, false},
               {"apply-short", false, false, IDOK, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layout l = MakeLayout(c.name);
    RecordTxtOpens();
    Process p = Launch(MakeFor(l, c.readme,
                               "\"InstallPath\"=\"REP_INSTALL\"\n\"DataPath\"=\"REP_INSTALL\\\\data\"\n"
                               "\"Quote\"=\"say \\\"hi\\\"\"\n\"Empty\"=\"\"\n\"Count\"=dword:00000003\n"
                               "@=\"default\"\n"),
                       l.start + "\\temp");
    HWND menu = StartUpdate(p, kTitle, l.app, c.readme ? IDC_MENU_SLOT2 : IDC_MENU_SLOT1);
    ASSERT_TRUE(menu);
    HWND finish = WaitForBox(p.pi.dwProcessId, 30000, "インストール終了").hwnd,
         box = GetDlgItem(finish, IDC_FINISH_README);
    ASSERT_TRUE(finish);
    EXPECT_EQ(GetWindow(finish, GW_OWNER), menu);
    if (&c == cases) ExpectUpdated(l);  // complete while the finish dialog is up; the same every time
    EXPECT_EQ(box != nullptr, c.readme);
    EXPECT_EQ(Text(finish, IDC_FINISH_README), c.readme ? kReadmeLabel : "");
    EXPECT_EQ(Text(finish, 0xFFFF), std::string("インストールを終了しました。") +
                                        (c.readme ? "\n以下のメニューを選択してＯＫを押して下さい。" : ""));
    if (box) {
      EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
      if (c.tick) Click(finish, IDC_FINISH_README);
      for (int i = 0; i < 40 && c.tick && SendMessageA(box, BM_GETCHECK, 0, 0) != BST_CHECKED; ++i) Sleep(50);
      EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), c.tick ? BST_CHECKED : BST_UNCHECKED);
    }
    if (c.tick || !c.readme) Screenshot(std::string(c.name) + "-finish");
    c.close == IDOK ? Click(finish, IDOK) : (void)PostMessageA(finish, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitExit(p), 0u);
    std::string path, content;
    EXPECT_EQ(WaitForOpened(&path, &content, c.opened ? 10000 : 2000), c.opened);
    EXPECT_EQ(path + "|" + content, c.opened ? l.app + "\\readme.txt|新しい説明書" : "|");
    EXPECT_EQ(ListFolder(l.start), (std::vector<std::string>{"temp", "updater.exe"}));
    EXPECT_TRUE(ListFolder(l.start + "\\temp").empty());
  }
  DeleteSoftwareKey(kGlobal);
}

// Values that regedit exports (UTF-16LE, made code page 932 with LF line ends as an author
// would) come back unchanged through the [reg] section; the dword and the default value do not.
TEST(Apply, RegistryExportRoundTrip) {
  Layout l = MakeLayout("apply-export");
  const std::string source = std::string("Software\\") + kGlobal + "\\Source";
  std::vector<RegValue> strings = {{"Empty", REG_SZ, ""},
                                   {"Equals", REG_SZ, "a\"=\"b"},
                                   {"Japanese", REG_SZ, "ソフト表示\\データ"},
                                   {"Path", REG_SZ, "C:\\Program Files\\Game\\"},
                                   {"Quote", REG_SZ, "say \"hi\" \\ \"bye\""},
                                   {"Say\"it", REG_SZ, "x"},
                                   {"名前", REG_SZ, "値"}};
  for (const RegValue& v : strings) RegPut(HKEY_CURRENT_USER, source, v.name, v.data);
  RegPut(HKEY_CURRENT_USER, source, "Count", std::string("\3\0\0\0", 4), REG_DWORD);
  RegPut(HKEY_CURRENT_USER, source, "", "default value");
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::string file = l.start + "-export.reg";
  Process regedit = Launch(Narrow(windows) + "\\regedit.exe", l.start + "\\temp",
                           "/e \"" + file + "\" \"HKEY_CURRENT_USER\\" + source + "\"");
  ASSERT_EQ(WaitExit(regedit, 30000), 0u);
  const std::string raw = ReadFile(file);
  ASSERT_EQ(raw.compare(0, 2, "\xFF\xFE"), 0) << raw;
  const std::wstring wide(reinterpret_cast<const wchar_t*>(raw.data() + 2), (raw.size() - 2) / 2);
  std::string exported(wide.size() * 2, '\0');
  exported.resize(WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), &exported[0],
                                      static_cast<int>(exported.size()), nullptr, nullptr));
  exported.erase(std::remove(exported.begin(), exported.end(), '\r'), exported.end());

  MakeFor(l, false, exported);
  EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
  EXPECT_EQ(RegValues(HKEY_CURRENT_USER, l.key), strings) << exported;
  DeleteSoftwareKey(kGlobal);
}
