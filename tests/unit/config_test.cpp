// install.env readers: text-mode lines, keyed settings, accessors and sections.
#include "config/config.h"

#include "base/workfolder.h"
#include "fake.h"
#include "test_support.h"

namespace {

using S = std::string;

// Each test runs inside a fresh work folder, as the updater reads install.env there.
class ConfigTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    base::CreateWorkFolder();
  }
  // Writes install.env and reads it with both readers as asked.
  void Load(const S& text, bool keys = true, bool sections = false) {
    config::ResetForTests();
    WriteWholeFile("install.env", text);
    if (keys) { EXPECT_EQ(config::LoadSetupConfig("install.env"), 0); }
    config::SectionFailure failure;
    if (sections) config::LoadSetupSections("install.env", &failure);
  }
  S Get(const char* key) {
    char buf[config::kLineSize];
    return config::GetConfigString(key, buf, sizeof buf, "<absent>");
  }
  Names Section(config::SectionId id) {
    Names out;
    for (const config::SectionLine* n = config::Section(id); n != nullptr; n = n->next)
      out.push_back(n->text);
    return out;
  }
};

// Both readers take their lines from here, from a file or from memory alike.
TEST(ConfigTextReader, ReadsLikeWindowsTextMode) {
  const struct {
    const char* name;
    S bytes;
    Names reads;
  } cases[] = {
      {"crlf is one lf", "a\r\nb", {"a\n", "b"}},
      {"lone cr stays", "a\rb\n\r", {"a\rb\n", "\r"}},
      {"cr cr lf", "a\r\r\n", {"a\r\n"}},
      {"empty", "", {}},
      {"0x1a ends the file", "a\nb\032c\nd\n", {"a\n", "b"}},
      {"0x1a after cr", "a\r\x1A\n", {"a\r"}},
      {"nul is kept", S("k\0v\n", 4), {S("k\0v\n", 4)}},
      {"511 bytes per read", S(600, 'x') + "\n", {S(511, 'x'), S(89, 'x') + "\n"}},
      {"crlf counts one byte", S(510, 'x') + "\r\nz", {S(510, 'x') + "\n", "z"}},
  };
  for (const auto& c : cases) {
    config::TextSource src = config::MemorySource(c.bytes.data(), c.bytes.size());
    Names got;
    char buf[config::kLineSize];
    for (std::size_t n; (n = config::ReadTextLine(src, buf, sizeof buf)) != 0;) got.emplace_back(buf, n);
    EXPECT_EQ(got, c.reads) << c.name;
  }
}

// Keyed lines, and the integer conversion of INSTMAKEFOL's value (no range check: it wraps
// like the 32-bit conversion).
TEST_F(ConfigTest, KeyLinesAndIntegers) {
  const char* kAbsent = "<absent>";
  const struct {
    const char* name;
    S file;
    const char *key, *expect;
  } cases[] = {
      {"first of duplicates", "REG_GLOBAL first\nREG_GLOBAL second\n", "REG_GLOBAL", "first"},
      {"lower case key", "reg_global x\n", "REG_GLOBAL", kAbsent},
      {"longer key", "REG_GLOBALX x\n", "REG_GLOBAL", kAbsent},
      {"semicolon key stored", ";REG_LOCAL v\n", ";REG_LOCAL", "v"},
      {"space indented", " REG_LOCAL v\n", "REG_LOCAL", kAbsent},
      {"slash comment", "/REG_LOCAL v\n", "/REG_LOCAL", kAbsent},
      {"comment after value", "KEY v trailing words\n", "KEY", "v"},
      {"bars become spaces", "KEY a|b||c\n", "KEY", "a b  c"},
      {"trail byte 0x7C kept", "KEY \x83\x7C|\x83\x7C\n", "KEY", "\x83\x7C \x83\x7C"},
      {"lead byte at the end", "KEY a\x83\n", "KEY", "a\x83"},
      {"value within reach", "KEY" + S(99, '\t') + "v\n", "KEY", "v"},  // begins at L + 99
      {"value beyond reach", "KEY" + S(100, ' ') + "v\n", "KEY", kAbsent},
      {"key without value", "KEY\n", "KEY", kAbsent},
      {"nul separates", S("KEY\0v\n", 6), "KEY", "v"},
      {"line beginning with [EOF]", "[EOF]junk\nKEY v\n", "KEY", kAbsent},
      {"[eof] is not [EOF]", "[eof]\nKEY v\n", "KEY", "v"},
      {"close line with comment", "[ini]\na b\n- end\n", "-", "end"},
      {"section line read as key", "[reg]\nKEY v\n-\n", "KEY", "v"},
      {"read 400 is seen", S(399, '\n') + "KEY v\n", "KEY", "v"},
      {"read 401 is not", S(400, '\n') + "KEY v\n", "KEY", kAbsent},
      {"long line takes two reads", S(600, 'x') + "\n" + S(398, '\n') + "KEY v\n", "KEY", kAbsent},
  };
  for (const auto& c : cases) {
    Load(c.file);
    EXPECT_EQ(Get(c.key), c.expect) << c.name;
  }
  const std::pair<const char*, int> integers[] = {{"12abc", 12}, {"abc", 0},  {"-7", -7},
                                                  {"+5", 5},     {"|42", 42}, {"4294967297", 1}};
  for (const auto& [value, expect] : integers) {
    Load(S("INSTMAKEFOL ") + value + "\n");
    EXPECT_EQ(config::InstMakeFol(), expect) << value;
  }
  EXPECT_TRUE(fake::Boxes().empty());
}

// Values are cut to the caller's buffer; defaults fill in for absent keys. The first load
// registers the release once, and after it every key gives its default.
TEST_F(ConfigTest, AccessorsAndTheTableFreedAtExit) {
  const S value(200, 'v'), cut(127, 'v');
  Load("REG_GLOBAL " + value + "\nTITLEBAR " + value + "\nINSTREADME " + value + "\n");
  char menu[128], finish[512];
  EXPECT_EQ((Names{config::RegGlobal(), config::TitleBar(), config::InstReadme(menu, sizeof menu)}),
            Names(3, cut));
  EXPECT_EQ(S(config::InstReadme(finish, sizeof finish)), value);
  EXPECT_EQ(S(config::UpdaterTitle()), cut + " アップデータ");

  config::ResetForTests();
  const S text = "REG_LOCAL soft\nTITLEBAR Game\nCHKREGVER 5\n";
  std::size_t before = fake::ExitActionCount();
  for (int i = 0; i < 2; ++i) config::LoadSetupConfigFromMemory(text.data(), text.size());
  EXPECT_EQ(fake::ExitActionCount(), before + 1);
  EXPECT_EQ((Names{config::RegLocal(), config::RegGlobal(), config::IniFile(), config::IniSection(),
                   config::TitleBar()}),
            (Names{"soft", "-", "-", "-", "Game"}));
  EXPECT_EQ(std::make_pair(config::ChkRegVer(), config::ChkRegVerHigh()), std::make_pair(5, 0));
  EXPECT_EQ(ExitCodeOf([] { plat::Exit(0); }), 0);
  EXPECT_EQ((Names{config::RegLocal(), config::UpdaterTitle()}),
            (Names{"-", "ＫＯＶＥＬＡ アプリケーション アップデータ"}));
}

TEST_F(ConfigTest, SectionLines) {
  const struct {
    const char* name;
    S file;
    Names ini, reg, after;
  } cases[] = {
      {"kept raw, blanks cut",
       "[ini]\nA=1 \t\n  B = 2  \n-\n[reg]\nR x\n-\n",
       {"A=1", "  B = 2"},
       {"R x"},
       {}},
      {"comments inside a section", "[ini]\n//c\n;c\nA\n\n-\n", {"A"}, {}, {}},
      {"dash with text closes", "[ini]\nA\n-- end\nB\n", {"A"}, {}, {}},
      {"outside lines ignored", "A\n[delfiles_afterinst]\nx.dat\n-\ny.dat\n", {}, {}, {"x.dat"}},
      {"repeated header starts afresh", "[ini]\nA\n-\n[ini]\nB\n-\n", {"B"}, {}, {}},
      {"reopened while open", "[ini]\nA\n[ini]\nB\n-\n", {"B"}, {}, {}},
      {"header with trailing text", "[reg] values\nR\n-\n", {}, {"R"}, {}},
      {"EOF stops reading", "[ini]\nA\n-\nEOF\n[reg]\nR\n", {"A"}, {}, {}},
      {"[EOF] does not stop it", "[EOF]\n[reg]\nR\n-\n", {}, {"R"}, {}},
      {"[EOF] inside is content", "[reg]\n[EOF]\n-\n", {}, {"[EOF]"}, {}},
      {"delfiles lists apart", "[delfiles]\nd\n-\n[delfiles_user]\nu\n-\n[reg]\nR\n-\n", {}, {"R"}, {}},
  };
  for (const auto& c : cases) {
    Load(c.file, false, true);
    EXPECT_EQ(Section(config::SectionId::Ini), c.ini) << c.name;
    EXPECT_EQ(Section(config::SectionId::Reg), c.reg) << c.name;
    EXPECT_EQ(Section(config::SectionId::DelfilesAfterInst), c.after) << c.name;
  }
  EXPECT_EQ(Section(config::SectionId::Delfiles), Names{"d"});
  EXPECT_EQ(Section(config::SectionId::DelfilesUser), Names{"u"});
  EXPECT_TRUE(fake::Boxes().empty());
}

// A section still open where reading stops, or a file that cannot be opened, is reported to
// the caller (start-up shows it and ends the run).
TEST_F(ConfigTest, SectionReaderFailures) {
  using K = config::SectionFailure::Kind;
  const struct {
    const char* file;
    K kind;
    const char* section;
  } cases[] = {
      {"[reg]\nR v\n", K::NotClosed, "reg"},  // file nullptr: no such file
      {"[ini]\nA\nEOF\n-\n", K::NotClosed, "ini"},
      {"[delfiles_afterinst]\nx\n\x1A-\n", K::NotClosed, "delfiles_afterinst"},
      {nullptr, K::CannotOpen, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "missing");
    if (c.file) WriteWholeFile("install.env", c.file);
    config::SectionFailure f;
    EXPECT_EQ(config::LoadSetupSections(c.file ? "install.env" : "missing.env", &f), -1);
    EXPECT_EQ(f.kind, c.kind);
    if (c.section) { EXPECT_STREQ(config::kSections[f.section].name, c.section); }
  }
  EXPECT_TRUE(fake::Boxes().empty());
}

}  // namespace
