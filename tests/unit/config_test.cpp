// install.env readers: text-mode lines, keyed settings, accessors and sections.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/config.h"
#include "platform/host_control.h"
#include "shell/shell.h"
#include "test_support.h"

namespace {

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

// Each test runs inside a fresh work folder, as the updater reads install.env there.
class ConfigTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    config::ResetForTests();
    shell::EnablePlainNameLookup();
    shell::CreateWorkFolder();
    work_ = host::ToHostPath(shell::WorkFolderPath());
  }
  void TearDown() override {
    config::ResetForTests();
    HostTest::TearDown();
  }
  const char* Path() const { return "install.env"; }
  void Write(const std::string& text) { WriteWholeFile(Path(), text); }
  std::string Get(const char* key) {
    char buf[config::kLineSize];
    return config::GetConfigString(key, buf, sizeof buf, "<absent>");
  }
  std::vector<std::string> Lines(config::SectionId id) {
    std::vector<std::string> out;
    for (const config::SectionLine* n = config::Section(id); n != nullptr; n = n->next) {
      out.push_back(n->text);
    }
    return out;
  }
  std::string work_;
};

// ---- Text mode --------------------------------------------------------------------------

struct ReaderCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> reads;
};

TEST(ConfigTextReader, ReadsLikeWindowsTextMode) {
  const ReaderCase cases[] = {
      {"crlf is one lf", "a\r\nb", {"a\n", "b"}},
      {"lone cr stays", "a\rb\n\r", {"a\rb\n", "\r"}},
      {"cr cr lf", "a\r\r\n", {"a\r\n"}},
      {"0x1a ends the file", "a\nb\x1A" "c\nd\n", {"a\n", "b"}},
      {"0x1a after cr", "a\r\x1A\n", {"a\r"}},
      {"nul is kept", std::string("k\0v\n", 4), {std::string("k\0v\n", 4)}},
      {"511 bytes per read", Repeat('x', 600) + "\n", {Repeat('x', 511), Repeat('x', 89) + "\n"}},
      {"crlf counts one byte", Repeat('x', 510) + "\r\nz", {Repeat('x', 510) + "\n", "z"}},
      {"empty", "", {}},
  };
  for (const ReaderCase& c : cases) {
    config::TextSource src = config::MemorySource(c.bytes.data(), c.bytes.size());
    std::vector<std::string> got;
    char buf[config::kLineSize];
    for (std::size_t n; (n = config::ReadTextLine(src, buf, sizeof buf)) != 0;) {
      got.emplace_back(buf, n);
    }
    EXPECT_EQ(got, c.reads) << c.name;
  }
}

// ---- Keyed settings ---------------------------------------------------------------------

struct KeyCase {
  const char* name;
  std::string file;
  const char* key;
  std::string expect;  // "<absent>" when no entry
};

TEST_F(ConfigTest, KeyLines) {
  const std::string nearValue = "KEY" + Repeat('\t', 99) + "v\n";  // begins at L + 99
  const std::string farValue = "KEY" + Repeat(' ', 100) + "v\n";   // begins at L + 100
  const KeyCase cases[] = {
      {"first of duplicates", "REG_GLOBAL first\nREG_GLOBAL second\n", "REG_GLOBAL", "first"},
      {"lower case key", "reg_global x\n", "REG_GLOBAL", "<absent>"},
      {"longer key", "REG_GLOBALX x\n", "REG_GLOBAL", "<absent>"},
      {"semicolon key stored", ";REG_LOCAL v\n", ";REG_LOCAL", "v"},
      {"space indented", " REG_LOCAL v\n", "REG_LOCAL", "<absent>"},
      {"tab indented", "\tREG_LOCAL v\n", "REG_LOCAL", "<absent>"},
      {"slash comment", "/REG_LOCAL v\n", "/REG_LOCAL", "<absent>"},
      {"comment after value", "KEY v trailing words\n", "KEY", "v"},
      {"bars become spaces", "KEY a|b||c\n", "KEY", "a b  c"},
      {"trail byte 0x7C kept", "KEY \x83\x7C|\x83\x7C\n", "KEY", "\x83\x7C \x83\x7C"},
      {"lead byte at the end", "KEY a\x83\n", "KEY", "a\x83"},
      {"value within reach", nearValue, "KEY", "v"},
      {"value beyond reach", farValue, "KEY", "<absent>"},
      {"key without value", "KEY\n", "KEY", "<absent>"},
      {"nul separates", std::string("KEY\0v\n", 6), "KEY", "v"},
      {"crlf line", "KEY v\r\nK2 w\r\n", "K2", "w"},
      {"keys after [EOF]", "A 1\n[EOF]\nKEY v\n", "KEY", "<absent>"},
      {"line beginning with [EOF]", "[EOF]junk\nKEY v\n", "KEY", "<absent>"},
      {"[eof] is not [EOF]", "[eof]\nKEY v\n", "KEY", "v"},
      {"0x1a ends the keys", "A 1\n\x1AKEY v\n", "KEY", "<absent>"},
      {"close line with comment", "[ini]\na b\n- end\n", "-", "end"},
      {"section line read as key", "[reg]\nKEY v\n-\n", "KEY", "v"},
      {"read 400 is seen", Repeat('\n', 399) + "KEY v\n", "KEY", "v"},
      {"read 401 is not", Repeat('\n', 400) + "KEY v\n", "KEY", "<absent>"},
      {"long line takes two reads", Repeat('x', 600) + "\n" + Repeat('\n', 398) + "KEY v\n",
       "KEY", "<absent>"},
  };
  for (const KeyCase& c : cases) {
    config::ResetForTests();
    Write(c.file);
    EXPECT_EQ(config::LoadSetupConfig(Path()), 0) << c.name;
    EXPECT_EQ(Get(c.key), c.expect) << c.name;
  }
  EXPECT_TRUE(host::Boxes().empty());
}

TEST_F(ConfigTest, Integers) {
  const struct {
    const char* value;
    int expect;
  } cases[] = {
      {"12abc", 12}, {"abc", 0}, {"-7", -7}, {"+5", 5}, {"|42", 42},
      {"4294967297", 1},  // no range check: wraps like the 32-bit conversion
  };
  for (const auto& c : cases) {
    config::ResetForTests();
    std::string text = std::string("INSTMAKEFOL ") + c.value + "\nCHKREGVER 3\n";
    ASSERT_EQ(config::LoadSetupConfigFromMemory(text.data(), text.size()), 0);
    EXPECT_EQ(config::InstMakeFol(), c.expect) << c.value;
    EXPECT_EQ(config::ChkRegVer(), 3);
    EXPECT_EQ(config::ChkRegVerHigh(), 0);
  }
}

TEST_F(ConfigTest, DefaultsWhenNothingIsSet) {
  Write("// nothing\n");
  config::LoadSetupConfig(Path());
  EXPECT_STREQ(config::TitleBar(), "ＫＯＶＥＬＡ アプリケーション");
  EXPECT_STREQ(config::InstTo(), "KOVELA_APP");
  EXPECT_STREQ(config::RegGlobal(), "-");
  EXPECT_STREQ(config::IniFile(), "-");
  EXPECT_STREQ(config::KeyFile(), "");
  EXPECT_STREQ(config::InstFol(), "");
  EXPECT_STREQ(config::ChkReg(), "");
  EXPECT_EQ(config::InstMakeFol(), 0);
  EXPECT_EQ(config::ChkRegVerHigh(), 0);
  char buf[128];
  EXPECT_STREQ(config::InstReadme(buf, sizeof buf), "-");
  EXPECT_STREQ(config::InstReadmeFl(buf, sizeof buf), "readme.txt");
  EXPECT_STREQ(config::UpdaterTitle(), "ＫＯＶＥＬＡ アプリケーション アップデータ");
}

TEST_F(ConfigTest, LongValuesAreCutToTheCallersBuffer) {
  std::string value = Repeat('v', 200);
  Write("REG_GLOBAL " + value + "\nTITLEBAR " + value + "\nINSTREADME " + value + "\n");
  config::LoadSetupConfig(Path());
  EXPECT_EQ(std::string(config::RegGlobal()), Repeat('v', 127));
  EXPECT_EQ(std::string(config::TitleBar()), Repeat('v', 127));
  char menu[128];
  char finish[512];
  EXPECT_EQ(std::string(config::InstReadme(menu, sizeof menu)), Repeat('v', 127));
  EXPECT_EQ(std::string(config::InstReadme(finish, sizeof finish)), value);
  EXPECT_EQ(std::string(config::UpdaterTitle()), Repeat('v', 127) + " アップデータ");
}

TEST_F(ConfigTest, CachedKeysKeepTheirFirstLookup) {
  Write("REG_GLOBAL soft\nTITLEBAR Game\nCHKREGVER 5\n");
  config::LoadSetupConfig(Path());
  EXPECT_STREQ(config::RegGlobal(), "soft");
  EXPECT_STREQ(config::TitleBar(), "Game");
  EXPECT_EQ(config::ChkRegVer(), 5);
  config::FreeSetupConfig();  // the table is gone: only the kept values survive
  EXPECT_STREQ(config::RegGlobal(), "soft");
  EXPECT_EQ(config::ChkRegVer(), 5);
  EXPECT_STREQ(config::TitleBar(), "ＫＯＶＥＬＡ アプリケーション");
  EXPECT_STREQ(config::UpdaterTitle(), "ＫＯＶＥＬＡ アプリケーション アップデータ");
}

TEST_F(ConfigTest, FreeIsRegisteredOnceAndRunsAtExit) {
  const std::string text = "TITLEBAR Game\n";
  std::size_t before = host::ExitActionCount();
  config::LoadSetupConfigFromMemory(text.data(), text.size());
  config::LoadSetupConfigFromMemory(text.data(), text.size());
  EXPECT_EQ(host::ExitActionCount(), before + 1);
  EXPECT_STREQ(config::TitleBar(), "Game");
  try {
    plat::Exit(0);
  } catch (const host::ProcessExit&) {
  }
  EXPECT_STREQ(config::TitleBar(), "ＫＯＶＥＬＡ アプリケーション");
}

// ---- Sections ---------------------------------------------------------------------------

struct SectionCase {
  const char* name;
  std::string file;
  std::vector<std::string> ini, reg, after;
};

TEST_F(ConfigTest, SectionLines) {
  const SectionCase cases[] = {
      {"content kept raw, trailing blanks cut",
       "[ini]\nA=1 \t\n  B = 2  \n-\n[reg]\nR x\n-\n", {"A=1", "  B = 2"}, {"R x"}, {}},
      {"comments inside a section", "[ini]\n//c\n;c\nA\n\n-\n", {"A"}, {}, {}},
      {"dash with text closes", "[ini]\nA\n-- end\nB\n", {"A"}, {}, {}},
      {"outside lines ignored", "A\n[delfiles_afterinst]\nx.dat\n-\ny.dat\n", {}, {}, {"x.dat"}},
      {"repeated header starts afresh", "[ini]\nA\n-\n[ini]\nB\n-\n", {"B"}, {}, {}},
      {"reopened while open", "[ini]\nA\n[ini]\nB\n-\n", {"B"}, {}, {}},
      {"header with trailing text", "[reg] values\nR\n-\n", {}, {"R"}, {}},
      {"EOF stops reading", "[ini]\nA\n-\nEOF\n[reg]\nR\n", {"A"}, {}, {}},
      {"[EOF] does not stop it", "[EOF]\n[reg]\nR\n-\n", {}, {"R"}, {}},
      {"[EOF] inside is content", "[reg]\n[EOF]\n-\n", {}, {"[EOF]"}, {}},
      {"crlf lines", "[ini]\r\nA=1\r\n-\r\n", {"A=1"}, {}, {}},
      {"0x1a ends the file", "[ini]\nA\n-\n\x1A[reg]\nR\n", {"A"}, {}, {}},
      {"delfiles lists apart", "[delfiles]\nd\n-\n[delfiles_user]\nu\n-\n[reg]\nR\n-\n", {},
       {"R"}, {}},
  };
  for (const SectionCase& c : cases) {
    config::ResetForTests();
    Write(c.file);
    config::LoadSetupSections(Path());
    EXPECT_EQ(Lines(config::SectionId::Ini), c.ini) << c.name;
    EXPECT_EQ(Lines(config::SectionId::Reg), c.reg) << c.name;
    EXPECT_EQ(Lines(config::SectionId::DelfilesAfterInst), c.after) << c.name;
  }
  EXPECT_TRUE(host::Boxes().empty());
  Write("[delfiles]\nd\n-\n[delfiles_user]\nu\n-\n");
  config::LoadSetupSections(Path());
  EXPECT_EQ(Lines(config::SectionId::Delfiles), std::vector<std::string>{"d"});
  EXPECT_EQ(Lines(config::SectionId::DelfilesUser), std::vector<std::string>{"u"});
}

TEST_F(ConfigTest, KeysAfterEofButSectionsStillRead) {
  Write("TITLEBAR Game\n[EOF]\nINSTTO Late\n[reg]\nR v\n-\n");
  config::LoadSetupConfig(Path());
  config::LoadSetupSections(Path());
  EXPECT_STREQ(config::TitleBar(), "Game");
  EXPECT_STREQ(config::InstTo(), "KOVELA_APP");
  EXPECT_EQ(Lines(config::SectionId::Reg), std::vector<std::string>{"R v"});
}

struct FatalCase {
  const char* name;
  std::string file;
  int answer;
  const char* text;
};

// Either button ends the run with -1, and the work folder is left alone.
TEST_F(ConfigTest, SectionReaderFatalReports) {
  const FatalCase cases[] = {
      {"unclosed reg, cancel", "[reg]\nR v\n", plat::kIdCancel, "[設定.env]の[reg]が終了していません"},
      {"unclosed reg, retry", "[reg]\nR v\n", plat::kIdRetry, "[設定.env]の[reg]が終了していません"},
      {"open at EOF line", "[ini]\nA\nEOF\n-\n", plat::kIdCancel, "[設定.env]の[ini]が終了していません"},
      {"open at 0x1a", "[delfiles_afterinst]\nx\n\x1A-\n", plat::kIdRetry,
       "[設定.env]の[delfiles_afterinst]が終了していません"},
  };
  for (const FatalCase& c : cases) {
    host::Reset();
    config::ResetForTests();
    Write(c.file);
    host::ScriptAnswers({c.answer});
    int code = 0;
    try {
      config::LoadSetupSections(Path());
      ADD_FAILURE() << c.name << ": returned";
    } catch (const host::ProcessExit& e) {
      code = e.code;
    }
    EXPECT_EQ(code, -1) << c.name;
    ASSERT_EQ(host::Boxes().size(), 1u) << c.name;
    EXPECT_EQ(host::Boxes()[0].text, c.text) << c.name;
    EXPECT_EQ(host::Boxes()[0].style, plat::kMbRetryCancel | plat::kMbIconError);
    EXPECT_TRUE(PathExists(work_ + "/install.env")) << c.name;
  }
}

TEST_F(ConfigTest, SectionReaderCannotOpen) {
  for (int answer : {plat::kIdRetry, plat::kIdCancel}) {
    host::Reset();
    host::ScriptAnswers({answer});
    std::string missing = "missing.env";
    int code = 0;
    try {
      config::LoadSetupSections(missing.c_str());
    } catch (const host::ProcessExit& e) {
      code = e.code;
    }
    EXPECT_EQ(code, -1);
    ASSERT_EQ(host::Boxes().size(), 1u);  // no retry loop
    EXPECT_EQ(host::Boxes()[0].text, "[" + missing + "]ファイルを開けませんでした。");
  }
}

}  // namespace
