// Applying the update on the host platform: the [ini] and [reg] line rules with their
// tokens, the registry writer, the leftover deletion and the whole ApplyUpdate.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "config/config.h"
#include "container_writer.h"
#include "payload/container.h"
#include "platform/host_control.h"
#include "update/apply.h"
#include "update/finish.h"
#include "update/transfers.h"
#include "test_support.h"

namespace {

using update::kLineSize;

class ApplyTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    update::ResetFinishForTests();
    update::RecordInstallFolder("D:\\Games\\App");
  }
  void TearDown() override {
    update::ResetFinishForTests();
    HostTest::TearDown();
  }
  void LoadConfig(const std::string& text) {
    ASSERT_EQ(config::LoadSetupConfigFromMemory(text.data(), text.size()), 0);
    config::LoadSetupSectionsFromMemory(text.data(), text.size());
  }
};

struct LineCase {
  const char* line;
  char cdrom;  // 0: no CD-ROM drive
  int result;
  const char* key;
  const char* value;
};

TEST_F(ApplyTest, IniLines) {
  const LineCase cases[] = {
      {"DataPath=REP_INSTALL\\data", 0, 0, "DataPath", "D:\\Games\\App\\data"},
      {"Twice=REP_INSTALL;REP_INSTALL", 0, 0, "Twice", "D:\\Games\\App;REP_INSTALL"},
      {"NoSeparator", 0, -1, nullptr, nullptr},
      {"=leading", 0, 0, "", "leading"},
      {"trailing=", 0, 0, "trailing", ""},
      {"a=b=c", 0, 0, "a", "b=c"},
      {" spaced = kept ", 0, 0, " spaced ", " kept "},
      {"REP_INSTALL=REP_INSTALL", 0, 0, "D:\\Games\\App", "REP_INSTALL"},
      {"Cd=REP_CDROMDRIVE", 'Q', 0, "Cd", "Q:\\"},
      {"Cd=REP_CDROMDRIVE", 0, 0, "Cd", "E:\\"},
      {"Cd=REP_CDROMDRIVEmovie\\REP_INSTALL", 'F', 0, "Cd", "F:\\movie\\D:\\Games\\App"},
      // A double-byte character is one unit: the trail byte R (0x52) of コ never starts a
      // token, the trail byte 0x5C of ソ is not a backslash.
      {"表示=コEP_INSTALL", 0, 0, "表示", "コEP_INSTALL"},
      {"ソフト=REP_INSTALL\\ソ", 0, 0, "ソフト", "D:\\Games\\App\\ソ"},
  };
  for (const LineCase& c : cases) {
    host::SetCdromDrive(c.cdrom);
    char key[kLineSize] = "untouched", value[kLineSize] = "untouched";
    EXPECT_EQ(update::ParseIniLine(c.line, key, value), c.result) << c.line;
    if (c.result != 0) continue;
    EXPECT_STREQ(key, c.key) << c.line;
    EXPECT_STREQ(value, c.value) << c.line;
  }
}

TEST_F(ApplyTest, RegLinesAsARegistryEditorExportsThem) {
  const LineCase cases[] = {
      {"\"Path\"=\"REP_INSTALL\\\\data\"", 0, 0, "Path", "D:\\Games\\App\\data"},
      {"\"Dir\"=\"C:\\\\Games\\\\\"", 0, 0, "Dir", "C:\\Games\\"},
      {"\"Quote\"=\"say \\\"hi\\\"\"", 0, 0, "Quote", "say \"hi\""},
      {"\"Eq\"=\"a\\\"=\\\"b\"", 0, 0, "Eq", "a\"=\"b"},
      {"\"Empty\"=\"\"", 0, 0, "Empty", ""},
      {"\"名前\"=\"ソフト表示\"", 0, 0, "名前", "ソフト表示"},
      {"\"Lone\"=\"x\"\\", 0, 0, "Lone", "x"},
      {"\"Letter\"=\"\\a\\b\"", 0, 0, "Letter", "ab"},
      {"\"Num\"=dword:00000001", 0, -1, nullptr, nullptr},
      {"\"Bin\"=hex:01,02", 0, -1, nullptr, nullptr},
      {"@=\"default\"", 0, -1, nullptr, nullptr},
      {"[HKEY_CURRENT_USER\\Software\\Maker\\Game]", 0, -1, nullptr, nullptr},
      {"Windows Registry Editor Version 5.00", 0, -1, nullptr, nullptr},
      {"\"=\"orphan\"", 0, -1, nullptr, nullptr},
      // The CD-ROM token of [reg] is the shorter one.
      {"\"Cd\"=\"REP_CDROM\\\\movie\"", 'Q', 0, "Cd", "Q:\\\\movie"},
      {"\"Cd\"=\"REP_CDROMDRIVE\"", 'Q', 0, "Cd", "Q:\\DRIVE"},
      {"\"Cd\"=\"REP_CDROMDRIVE\"", 0, 0, "Cd", "E:\\DRIVE"},
      // Unescaping comes first: the inserted folder keeps its single backslashes.
      {"\"REP_INSTALL\"=\"REP_INSTALL\"", 0, 0, "D:\\Games\\App", "REP_INSTALL"},
  };
  for (const LineCase& c : cases) {
    host::SetCdromDrive(c.cdrom);
    char name[kLineSize] = "untouched", value[kLineSize] = "untouched";
    EXPECT_EQ(update::ParseRegLine(c.line, name, value), c.result) << c.line;
    if (c.result != 0) continue;
    EXPECT_STREQ(name, c.key) << c.line;
    EXPECT_STREQ(value, c.value) << c.line;
  }
}

TEST_F(ApplyTest, UnescapeKeepsDoubleByteCharactersWhole) {
  // ソ and 表 end in 0x5C; the backslash after 表 escapes the quote that follows.
  EXPECT_STREQ(update::UnescapeRegLine("ソ表\\\"\\\\"), "ソ表\"\\");
  EXPECT_STREQ(update::UnescapeRegLine("\\ソx"), "ソx");
  EXPECT_STREQ(update::UnescapeRegLine("\\"), "");
}

TEST_F(ApplyTest, FindCdromRootTakesTheFirstCdromDrive) {
  EXPECT_STREQ(update::FindCdromRoot(), "E:\\");
  host::SetCdromDrive('A');
  EXPECT_STREQ(update::FindCdromRoot(), "A:\\");
  host::SetCdromDrive('Z');
  EXPECT_STREQ(update::FindCdromRoot(), "Z:\\");
}

// Nothing longer than 511 bytes is ever produced, and nothing cut short is written: such a
// line is skipped whole.
TEST_F(ApplyTest, OverlongLinesAreSkippedNotCut) {
  std::string folder = "D:\\" + std::string(200, 'f');  // 203 bytes replace 11
  ASSERT_EQ(update::RecordInstallFolder(folder.c_str()), 0);
  char a[kLineSize], b[kLineSize];
  // 511 bytes after substitution fit exactly; one more does not.
  std::string fits = "K=REP_INSTALL" + std::string(511 - 2 - folder.size(), 'v');
  ASSERT_EQ(update::ParseIniLine(fits.c_str(), a, b), 0);
  EXPECT_EQ(std::strlen(b), 509u);
  EXPECT_EQ(update::ParseIniLine((fits + "v").c_str(), a, b), update::kTooLong);
  std::string reg = "\"K\"=\"REP_INSTALL" + std::string(511 - 6 - folder.size(), 'v') + "\"";
  ASSERT_EQ(update::ParseRegLine(reg.c_str(), a, b), 0);
  EXPECT_EQ(update::ParseRegLine(("\"K\"=\"v" + reg.substr(5)).c_str(), a, b), update::kTooLong);
  EXPECT_EQ(update::UnescapeRegLine(std::string(512, 'x').c_str()), nullptr);
  EXPECT_EQ(update::SubstituteIniTokens(std::string(512, 'x').c_str()), nullptr);
  // A folder too long to hold: its token is never replaced by anything else.
  EXPECT_EQ(update::RecordInstallFolder(std::string(600, 'f').c_str()), -1);
  EXPECT_EQ(update::ParseIniLine("K=REP_INSTALL", a, b), update::kTooLong);
  EXPECT_EQ(update::ParseIniLine("K=plain", a, b), 0);

  // Through the transfers: the long lines are skipped, the others still written.
  ASSERT_EQ(update::RecordInstallFolder(folder.c_str()), 0);
  LoadConfig("INI_FILE game.ini\nINI_SECTION Main\nREG_GLOBAL Maker\nREG_LOCAL Game\n[EOF]\n"
             "[ini]\nLong=REP_INSTALL" + std::string(400, 'v') + "\nShort=REP_INSTALL\n-\n"
             "[reg]\n\"Long\"=\"REP_INSTALL" + std::string(400, 'v') + "\"\n\"Short\"=\"x\"\n-\nEOF\n");
  update::TransferIniLines();
  update::TransferRegLines();
  EXPECT_EQ(host::ProfileValue("game.ini", "Main", "Long"), "");
  EXPECT_EQ(host::ProfileValue("game.ini", "Main", "Short"), folder);
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\Maker\\Game", "Long", &type, &data));
  EXPECT_TRUE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\Maker\\Game", "Short", &type, &data));
}

TEST_F(ApplyTest, WriteUserRegString) {
  std::uint32_t type = 0;
  std::string data;
  EXPECT_EQ(update::WriteUserRegString("Maker", "ゲーム", "Path", "C:\\x"), 0);
  ASSERT_TRUE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\Maker\\ゲーム", "Path", &type, &data));
  EXPECT_EQ(type, plat::kRegSz);
  EXPECT_EQ(data, "C:\\x");
  EXPECT_EQ(update::WriteUserRegString("Maker", "ゲーム", "Empty", ""), 0);
  ASSERT_TRUE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\Maker\\ゲーム", "Empty", &type, &data));
  EXPECT_EQ(data, "");
  // A key path that would not fit is not cut short into another key.
  std::string global(600, 'g');
  EXPECT_EQ(update::WriteUserRegString(global.c_str(), "L", "V", "x"), -1);
  host::RegDenyFullAccess(plat::RegRoot::CurrentUser, "Software\\Maker\\Locked", true);
  EXPECT_EQ(update::WriteUserRegString("Maker", "Locked", "V", "x"), -1);
}

TEST_F(ApplyTest, TransfersAreSkippedWhenTheirSettingIsUnused) {
  LoadConfig("INI_FILE -\nREG_GLOBAL -\nREG_LOCAL Game\n[EOF]\n"
             "[ini]\nA=1\n-\n[reg]\n\"A\"=\"1\"\n-\nEOF\n");
  update::TransferIniLines();
  update::TransferRegLines();
  EXPECT_EQ(host::ProfileValue("-", "-", "A"), "");
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\-\\Game", "A", &type, &data));
}

TEST_F(ApplyTest, PatternsThatCouldLeaveTheFolder) {
  const struct {
    const char* pattern;
    bool inside;
  } cases[] = {
      {"*.tmp", true},          {"save\\*.tmp", true},       {"ソ\\*.*", true},
      {"..\\*.*", false},       {"save\\..\\..\\x", false},  {"\\Windows\\*.*", false},
      {"C:\\*.*", false},       {"C:x.txt", false},          {"../x", false},
      {". .\\x", false},        {"...\\x", false},           {"save\\\\x", false},
      {"file.txt:stream", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(update::IsPatternInsideFolder(c.pattern), c.inside) << c.pattern;
}

TEST_F(ApplyTest, DeleteAfterInstallFiles) {
  std::string inst = dir_ + "/inst";
  for (const char* d : {"", "/save", "/keep", "/subdir", "/data", "/data/sub", "/nested"})
    ASSERT_EQ(mkdir((inst + d).c_str(), 0777), 0);
  for (const char* f : {"/install.env", "/insttscr.rct", "/game.exe", "/save/a.tmp", "/save/b.tmp",
                        "/keep/c.tmp", "/keep/slot1.dat", "/data/sub/x.dat", "/nested/n.tmp"})
    WriteWholeFile(inst + f, "x");
  WriteWholeFile(dir_ + "/outside.txt", "x");
  WriteWholeFile(dir_ + "/outside.env", "x");
  LoadConfig("[EOF]\n[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nsave\\*.tmp\nkeep\\*.tmp\n"
             "sub*\ndata\\sub\\*.dat\n..\\outside.txt\n..\\*.env\nmissing\\*.*\n-\nEOF\n");
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  update::DeleteAfterInstallFiles(inst.c_str());
  // save emptied and removed; keep and data still hold something; sub* matched only a
  // folder; nested was not named; nothing outside the install folder went.
  EXPECT_EQ(ListTree(inst), (std::vector<std::string>{"data/", "data/sub/", "game.exe", "keep/",
                                                       "keep/slot1.dat", "nested/", "nested/n.tmp",
                                                       "subdir/"}));
  EXPECT_TRUE(PathExists(dir_ + "/outside.txt"));
  EXPECT_TRUE(PathExists(dir_ + "/outside.env"));
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  EXPECT_EQ(std::string(cwd), dir_);
}

// The whole step on the host: a built container as the running executable, configuration
// from memory, the stand-in finish dialog answering as scripted.
class ApplyUpdateTest : public ApplyTest {
 protected:
  static constexpr std::uint64_t kTime = 0x01D7116EA6B4B600ull;
  void MakeExecutable() {
    std::FILE* t = std::tmpfile();
    auto file = [&](const char* name, const std::string& d) {
      mkupdater::WriteFileRecord(t, name, std::vector<std::uint8_t>(d.begin(), d.end()), kTime, 9);
    };
    file("install.env", "env");
    file("insttscr.rct", "rct");
    file("readme.txt", "new readme");
    mkupdater::WriteFolderRecord(t, "data");
    file("data\\update.arc", "archive");
    std::fwrite("\0\0\0\0", 1, 4, t);
    std::string payload(static_cast<std::size_t>(std::ftell(t)), '\0');
    std::rewind(t);
    ASSERT_EQ(std::fread(&payload[0], 1, payload.size(), t), payload.size());
    std::fclose(t);
    std::string exe = dir_ + "/updater.exe";
    WriteWholeFile(exe, "MZ" + payload + std::string("\x02\0\0\0", 4));
    host::SetModulePath(exe);
  }
  std::string Env(const char* readme) {
    return std::string("TITLEBAR テスト\nINI_FILE game.ini\nINI_SECTION Main\nREG_GLOBAL Maker\n"
                       "REG_LOCAL Game\n") + readme +
           "[EOF]\n[ini]\nDataPath=REP_INSTALL\\data\n-\n"
           "[reg]\n\"InstallPath\"=\"REP_INSTALL\"\n\"Num\"=dword:00000002\n-\n"
           "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nold\\*.*\n-\nEOF\n";
  }
};

TEST_F(ApplyUpdateTest, WholeUpdateWithEachFinishAnswer) {
  const struct {
    const char* readmeKeys;
    update::FinishAnswer answer;
    const char* templateName;
    std::vector<std::string> opened;
  } cases[] = {
      {"INSTREADME Read_me\n", update::FinishAnswer::OkTicked, "ENDINSTALL", {"readme.txt"}},
      {"INSTREADME Read_me\nINSTREADMEFL doc\\manual.txt\n", update::FinishAnswer::OkTicked,
       "ENDINSTALL", {"doc\\manual.txt"}},
      {"INSTREADME Read_me\n", update::FinishAnswer::Ok, "ENDINSTALL", {}},
      {"INSTREADME Read_me\n", update::FinishAnswer::Escape, "ENDINSTALL", {}},
      {"", update::FinishAnswer::OkTicked, "ENDINSTALL_SHORT", {}},
  };
  for (const auto& c : cases) {
    host::Reset();
    config::ResetForTests();
    update::ResetFinishForTests();
    MakeExecutable();
    LoadConfig(Env(c.readmeKeys));
    std::string inst = dir_ + "/inst";
    RemoveTree(inst);
    ASSERT_EQ(mkdir(inst.c_str(), 0777), 0);
    ASSERT_EQ(mkdir((inst + "/old").c_str(), 0777), 0);
    WriteWholeFile(inst + "/old/stale.dat", "x");
    WriteWholeFile(inst + "/readme.txt", "old readme");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    update::ScriptFinishAnswer(c.answer);

    EXPECT_EQ(update::ApplyUpdate(inst.c_str()), 0);

    EXPECT_EQ(ListTree(inst), (std::vector<std::string>{"data/", "data/update.arc", "readme.txt"}));
    EXPECT_EQ(ReadWholeFile(inst + "/readme.txt"), "new readme");
    std::uint64_t time = 0;
    ASSERT_EQ(plat::GetFileWriteTime((inst + "/data/update.arc").c_str(), &time), 0);
    EXPECT_EQ(time, kTime);
    EXPECT_EQ(host::ProfileValue("game.ini", "Main", "DataPath"), inst + "\\data");
    std::uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\Maker\\Game", "InstallPath",
                             &type, &data));
    EXPECT_EQ(data, inst);
    EXPECT_FALSE(host::RegGet(plat::RegRoot::CurrentUser, "Software\\Maker\\Game", "Num", &type, &data));
    EXPECT_STREQ(update::LastFinishDialog().templateName, c.templateName);
    EXPECT_EQ(update::LastFinishDialog().count, 1);
    if (std::strcmp(c.templateName, "ENDINSTALL") == 0) {
      EXPECT_STREQ(update::LastFinishDialog().label, "Read_me");
    }
    EXPECT_EQ(host::ShellOpened(), c.opened);
    EXPECT_TRUE(host::Boxes().empty());
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    EXPECT_EQ(std::string(cwd), inst);
  }
}

}  // namespace
