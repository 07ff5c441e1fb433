// Applying the update on the host platform: the [ini] and [reg] line rules with their
// tokens, the registry writer, the leftover deletion and the whole ApplyUpdate.
#include "update/apply.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "config/config.h"
#include "fake.h"
#include "test_support.h"
#include "update/finish.h"
#include "update/ini.h"
#include "update/transfers.h"

namespace {

using update::kLineSize;

class ApplyTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    update::RecordInstallFolder("D:\\Games\\App");
    fake::SetWindowsFolder(dir_);  // where a bare INI_FILE lands
  }
  // The bytes of an INI file in the Windows folder; "<none>" when there is none.
  std::string Ini(const char* name) const {
    std::FILE* f = std::fopen((dir_ + "/" + name).c_str(), "rb");
    if (!f) return "<none>";
    std::fclose(f);
    return ReadWholeFile(dir_ + "/" + name);
  }
  void LoadConfig(const std::string& text) {
    config::ResetForTests();
    ASSERT_EQ(config::LoadSetupConfigFromMemory(text.data(), text.size()), 0);
    config::SectionFailure failure;
    config::LoadSetupSectionsFromMemory(text.data(), text.size(), &failure);
  }
  // A REG_SZ value under HKEY_CURRENT_USER\Software, or "<none>".
  static std::string UserValue(const std::string& key, const char* name) {
    std::uint32_t type = 0;
    std::string data;
    if (!fake::RegGet(plat::RegRoot::CurrentUser, "Software\\" + key, name, &type, &data)) return "<none>";
    EXPECT_EQ(type, plat::kRegSz) << name;
    return data;
  }
};

struct LineCase {  // cdrom 0: no CD-ROM drive; key nullptr: not a line to write
  const char* line;
  char cdrom;
  const char *key, *value;
};

using Parser = int (*)(const char*, char (&)[kLineSize], char (&)[kLineSize]);
void CheckLines(Parser parse, const std::vector<LineCase>& cases) {
  for (const LineCase& c : cases) {
    fake::SetCdromDrive(c.cdrom);
    char key[kLineSize] = "untouched", value[kLineSize] = "untouched";
    EXPECT_EQ(parse(c.line, key, value), c.key ? 0 : -1) << c.line;
    if (!c.key) continue;
    EXPECT_STREQ(key, c.key) << c.line;
    EXPECT_STREQ(value, c.value) << c.line;
  }
}

// Entries land as the system's own INI writer puts them, in code page 932 bytes: the section
// and key found without ASCII case and around blanks, everything else kept as it stands.
TEST(Ini, EntriesLandAsTheSystemWritesThem) {
  const struct {
    const char *before, *section, *key, *value, *after;
  } cases[] = {
      {"", "設定", "パス", "C:\\ゲーム\\ソ", "[設定]\r\nパス=C:\\ゲーム\\ソ\r\n"},
      {"[a]\r\nk=1\r\n", "A", "K", "2", "[a]\r\nK=2\r\n"},
      {" [ a ] \nx=0\n  k  = 1\n\n[b]\nk=3\n", "a", "k", "2", " [ a ] \nx=0\nk=2\n\n[b]\nk=3\n"},
      {"[a]\r\nx=0\r\n\r\n[b]\r\n", "a", "k", "1", "[a]\r\nx=0\r\nk=1\r\n\r\n[b]\r\n"},
      {"[a]\r\n;k=0\r\n", "a", "k", "1", "[a]\r\n;k=0\r\nk=1\r\n"},
      {"[a]\r\nx=0", "a", "k", "1", "[a]\r\nx=0\r\nk=1\r\n"},
      {"[a]\r\nk=0", "a", "k", "1", "[a]\r\nk=1"},
      {"[a]\r\nx=0", "b", "k", "", "[a]\r\nx=0\r\n[b]\r\nk=\r\n"},
      // ソ ends in 0x5C and 表 too; a trail byte that looks like "a" folds nothing.
      {"[ソ表]\r\nk=0\r\n", "ソ表", "k", "1", "[ソ表]\r\nk=1\r\n"},
      {"[\x83\x61]\r\nk=0\r\n", "\x83\x41", "k", "1", "[\x83\x61]\r\nk=0\r\n[\x83\x41]\r\nk=1\r\n"},
  };
  for (const auto& c : cases) {
    std::string out(update::IniEditRoom(std::strlen(c.before), c.section, c.key, c.value), '\0');
    out.resize(update::EditIni(c.before, std::strlen(c.before), c.section, c.key, c.value, &out[0]));
    EXPECT_EQ(out, c.after) << c.before;
  }
}

// The first CD-ROM drive from A to Z stands for its token, E: when there is none.
TEST_F(ApplyTest, IniLines) {
  const std::vector<LineCase> cases = {
      {"DataPath=REP_INSTALL\\data", 0, "DataPath", "D:\\Games\\App\\data"},
      {"Twice=REP_INSTALL;REP_INSTALL", 0, "Twice", "D:\\Games\\App;REP_INSTALL"},
      {"NoSeparator", 0, nullptr, nullptr},
      {"=leading", 0, "", "leading"},
      {"trailing=", 0, "trailing", ""},
      {"a=b=c", 0, "a", "b=c"},
      {" spaced = kept ", 0, " spaced ", " kept "},
      {"REP_INSTALL=REP_INSTALL", 0, "D:\\Games\\App", "REP_INSTALL"},
      {"Cd=REP_CDROMDRIVE", 'A', "Cd", "A:\\"},
      {"Cd=REP_CDROMDRIVE", 0, "Cd", "E:\\"},
      {"Cd=REP_CDROMDRIVEmovie\\REP_INSTALL", 'Z', "Cd", "Z:\\movie\\D:\\Games\\App"},
      // A double-byte character is one unit: the trail byte R (0x52) of コ never starts a
      // token, the trail byte 0x5C of ソ is not a backslash.
      {"表示=コEP_INSTALL", 0, "表示", "コEP_INSTALL"},
      {"ソフト=REP_INSTALL\\ソ", 0, "ソフト", "D:\\Games\\App\\ソ"},
  };
  CheckLines(update::ParseIniLine, cases);
  // A recorded folder ending in a lone lead byte takes the '=' after the token as its trail
  // byte: the line has no separator left and is not written.
  ASSERT_EQ(update::RecordInstallFolder("D:\\\x94"), 0);
  CheckLines(update::ParseIniLine, {{"REP_INSTALL=x", 0, nullptr, nullptr}});
  CheckLines(update::ParseRegLine, {{"\"REP_INSTALL\"=\"x\"", 0, nullptr, nullptr}});
}

TEST_F(ApplyTest, RegLinesAsARegistryEditorExportsThem) {
  const std::vector<LineCase> cases = {
      {"\"Path\"=\"REP_INSTALL\\\\data\"", 0, "Path", "D:\\Games\\App\\data"},
      {"\"Dir\"=\"C:\\\\Games\\\\\"", 0, "Dir", "C:\\Games\\"},
      {"\"Quote\"=\"say \\\"hi\\\"\"", 0, "Quote", "say \"hi\""},
      {"\"Eq\"=\"a\\\"=\\\"b\"", 0, "Eq", "a\"=\"b"},
      {"\"Empty\"=\"\"", 0, "Empty", ""},
      {"\"名前\"=\"ソフト表示\"", 0, "名前", "ソフト表示"},
      {"\"Lone\"=\"x\"\\", 0, "Lone", "x"},
      {"\"Letter\"=\"\\a\\b\"", 0, "Letter", "ab"},
      {"\"Num\"=dword:00000001", 0, nullptr, nullptr},
      {"@=\"default\"", 0, nullptr, nullptr},
      {"\"=\"orphan\"", 0, nullptr, nullptr},
      // The CD-ROM token of [reg] is the shorter one.
      {"\"Cd\"=\"REP_CDROM\\\\movie\"", 'Q', "Cd", "Q:\\\\movie"},
      {"\"Cd\"=\"REP_CDROMDRIVE\"", 'Q', "Cd", "Q:\\DRIVE"},
      {"\"Cd\"=\"REP_CDROMDRIVE\"", 0, "Cd", "E:\\DRIVE"},
      // Unescaping comes first: the inserted folder keeps its single backslashes.
      {"\"REP_INSTALL\"=\"REP_INSTALL\"", 0, "D:\\Games\\App", "REP_INSTALL"},
  };
  CheckLines(update::ParseRegLine, cases);
  // ソ and 表 end in 0x5C; the backslash after 表 escapes the quote that follows.
  EXPECT_STREQ(update::UnescapeRegLine("ソ表\\\"\\\\"), "ソ表\"\\");
  EXPECT_STREQ(update::UnescapeRegLine("\\ソx"), "ソx");
  EXPECT_STREQ(update::UnescapeRegLine("\\"), "");
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
  const std::string v400(400, 'v');
  LoadConfig(
      "INI_FILE game.ini\nINI_SECTION Main\nREG_GLOBAL Maker\nREG_LOCAL "
      "Game\n[EOF]\n[ini]\nLong=REP_INSTALL" +
      v400 + "\nShort=REP_INSTALL\n-\n[reg]\n\"Long\"=\"REP_INSTALL" + v400 +
      "\"\n\"Short\"=\"x\"\n-\nEOF\n");
  update::TransferIniLines();
  update::TransferRegLines();
  EXPECT_EQ(Ini("game.ini"), "[Main]\r\nShort=" + folder + "\r\n");
  EXPECT_EQ(UserValue("Maker\\Game", "Long"), "<none>");
  EXPECT_EQ(UserValue("Maker\\Game", "Short"), "x");
}

TEST_F(ApplyTest, RegistryWriterAndUnusedSettings) {
  EXPECT_EQ(update::WriteUserRegString("Maker", "ゲーム", "Empty", ""), 0);
  EXPECT_EQ(UserValue("Maker\\ゲーム", "Empty"), "");
  // A key path that would not fit is not cut short into another key.
  EXPECT_EQ(update::WriteUserRegString(std::string(600, 'g').c_str(), "L", "V", "x"), -1);
  fake::RegDenyFullAccess(plat::RegRoot::CurrentUser, "Software\\Maker\\Locked", true);
  EXPECT_EQ(update::WriteUserRegString("Maker", "Locked", "V", "x"), -1);
  // INI_FILE and REG_GLOBAL "-" leave their section unused.
  LoadConfig("INI_FILE -\nREG_GLOBAL -\nREG_LOCAL Game\n[EOF]\n[ini]\nA=1\n-\n[reg]\n\"A\"=\"1\"\n-\nEOF\n");
  update::TransferIniLines();
  update::TransferRegLines();
  EXPECT_EQ(Ini("-"), "<none>");
  EXPECT_EQ(UserValue("-\\Game", "A"), "<none>");
}

TEST_F(ApplyTest, DeleteAfterInstallFiles) {
  const std::string inst = dir_ + "/inst";
  MakeFolders(inst, {"", "/save", "/keep", "/subdir", "/data", "/data/sub", "/nested"});
  for (const char* f : {"/install.env", "/insttscr.rct", "/game.exe", "/save/a.tmp", "/save/b.tmp",
                        "/keep/c.tmp", "/keep/slot1.dat", "/data/sub/x.dat", "/nested/n.tmp"})
    WriteWholeFile(inst + f, "x");
  WriteWholeFile(dir_ + "/outside.txt", "x");
  WriteWholeFile(dir_ + "/outside.env", "x");
  LoadConfig(
      "[EOF]\n[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nsave\\*.tmp\nkeep\\*.tmp\n"
      "sub*\ndata\\sub\\*.dat\n..\\outside.txt\n..\\*.env\nmissing\\*.*\n-\nEOF\n");
  update::DeleteAfterInstallFiles(inst.c_str());
  // save emptied and removed; keep and data still hold something; sub* matched only a
  // folder; nested was not named; nothing outside the install folder went.
  EXPECT_EQ(ListTree(inst), (Names{"data/", "data/sub/", "game.exe", "keep/", "keep/slot1.dat", "nested/",
                                   "nested/n.tmp", "subdir/"}));
  EXPECT_TRUE(PathExists(dir_ + "/outside.txt"));
  EXPECT_TRUE(PathExists(dir_ + "/outside.env"));
  EXPECT_EQ(CurrentFolder(), dir_);
}

// The whole step on the host: a built container as the running executable, configuration
// from memory, the stand-in finish dialog answering as scripted.
TEST_F(ApplyTest, WholeUpdateWithEachFinishAnswer) {
  using A = update::FinishAnswer;
  const struct {
    const char* readmeKeys;
    A answer;
    const char* templateName;
    Names opened;
  } cases[] = {
      {"INSTREADME Read_me\n", A::OkTicked, "ENDINSTALL", {"readme.txt"}},
      {"INSTREADME Read_me\nINSTREADMEFL doc\\manual.txt\n", A::OkTicked, "ENDINSTALL", {"doc\\manual.txt"}},
      {"INSTREADME Read_me\n", A::Ok, "ENDINSTALL", {}},
      {"INSTREADME Read_me\n", A::Escape, "ENDINSTALL", {}},
      {"", A::OkTicked, "ENDINSTALL_SHORT", {}},
  };
  const std::string inst = dir_ + "/inst";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.readmeKeys);
    fake::Reset();
    fake::SetWindowsFolder(dir_);
    update::ResetFinishForTests();
    InstallUpdater(dir_ + "/updater.exe", Payload({{"install.env", "env"},
                                                   {"insttscr.rct", "rct"},
                                                   {"readme.txt", "new readme"},
                                                   Dir("data"),
                                                   {"data\\update.arc", "archive"}}));
    LoadConfig(std::string("INI_FILE game.ini\nINI_SECTION Main\nREG_GLOBAL Maker\nREG_LOCAL Game\n") +
               c.readmeKeys +
               "[EOF]\n[ini]\nDataPath=REP_INSTALL\\data\n-\n"
               "[reg]\n\"InstallPath\"=\"REP_INSTALL\"\n\"Num\"=dword:00000002\n-\n"
               "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nold\\*.*\n-\nEOF\n");
    RemoveTree(inst);
    MakeFolders(inst, {"", "/old"});
    WriteWholeFile(inst + "/old/stale.dat", "x");
    WriteWholeFile(inst + "/readme.txt", "old readme");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    update::ScriptFinishAnswer(c.answer);

    EXPECT_EQ(update::ApplyUpdate(inst.c_str()), 0);

    EXPECT_EQ(ListTree(inst), (Names{"data/", "data/update.arc", "readme.txt"}));
    EXPECT_EQ(ReadWholeFile(inst + "/readme.txt"), "new readme");
    EXPECT_EQ(WriteTime(inst + "/data/update.arc"), kFileTime);
    EXPECT_EQ(Ini("game.ini"), "[Main]\r\nDataPath=" + inst + "\\data\r\n");
    std::remove((dir_ + "/game.ini").c_str());
    EXPECT_EQ(UserValue("Maker\\Game", "InstallPath"), inst);
    EXPECT_EQ(UserValue("Maker\\Game", "Num"), "<none>");
    EXPECT_STREQ(update::LastFinishDialog().templateName, c.templateName);
    EXPECT_EQ(update::LastFinishDialog().count, 1);
    EXPECT_STREQ(update::LastFinishDialog().label,
                 std::strcmp(c.templateName, "ENDINSTALL") ? "" : "Read_me");
    EXPECT_EQ(fake::ShellOpened(), c.opened);
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_EQ(CurrentFolder(), inst);
  }
}

// An update that does not land ends the run with the message that says why, and the folder
// stays as it was.
TEST_F(ApplyTest, AnUpdateThatDoesNotLandEndsWithItsMessage) {
  const std::string inst = dir_ + "/inst";
  std::string damaged = Payload({{"install.env", "env"}, {"a.dat", Rnd(300000, 1)}});
  damaged[damaged.find("a.dat") + 6 + 16 + 1000] ^= 0x55;  // inside the stream
  const struct {
    const char* what;
    std::string payload;
    bool folder;
    std::string box;
  } cases[] = {
      {"damaged stream", damaged, true,
       "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。"},
      {"install folder missing", Payload({{"a.dat", "a"}}), false,
       "インストール先のフォルダ[" + inst + "]が見つかりません。\nアップデートは行われませんでした。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake::Reset();
    InstallUpdater(dir_ + "/updater.exe", c.payload);
    LoadConfig("[EOF]\n");
    RemoveTree(inst);
    if (c.folder) MakeTree(inst, {"a.dat"}, "old");
    const std::string before = c.folder ? Snapshot(inst) : "";
    EXPECT_EQ(ExitCodeOf([&] { update::ApplyUpdate(inst.c_str()); }), -1);
    ASSERT_EQ(fake::Boxes().size(), 1u);
    EXPECT_EQ(fake::Boxes()[0].text, c.box);
    EXPECT_EQ(c.folder ? Snapshot(inst) : "", before);
  }
}

}  // namespace
