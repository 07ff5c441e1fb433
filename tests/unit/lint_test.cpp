// mkupdater lint over install.env texts: each finding on its line, naming its key or section.
#include "lint.h"

#include <cstdio>

#include "test_support.h"

namespace {

std::string RunLint(const std::string& text, int* errors, int* warnings) {
  std::FILE* out = std::tmpfile();
  *errors = mkupdater::LintInstallEnvText("install.env", text.data(), text.size(), out, warnings);
  std::string printed;
  std::rewind(out);
  char buf[512];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) printed.append(buf, n);
  std::fclose(out);
  return printed;
}

// Every kind of line the updater reads as meant: no finding.
const char kClean[] =
    "// KOVELA update\nREG_GLOBAL Maker\nREG_LOCAL Game\nTITLEBAR My|Game\nINSTTO GAME\n"
    "CHKREG Ver\nCHKREGVER 100\nCHKREGVERHIGH 199\nINSTREADME Readme|file\nINI_FILE C:\\game.ini\n\n"
    "[ini]\n// comment\nSound=1\n-\n[reg]\n\"Path\"=\"REP_INSTALL\"\n- end of reg\n[EOF]\n"
    "[delfiles_afterinst]\nold.dat\n-\nnotes after the end are fine\n";

std::vector<std::string> Split(const std::string& s, char at) {
  std::vector<std::string> out;
  for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1)
    out.push_back(s.substr(start, (end = s.find(at, start)) - start));
  return out;
}

// Each finding, in output order, is one printed line "install.env:<where>: ..." holding the
// words: a row's findings are "where|word|word" joined by '\n'.
TEST(LintInstallEnv, Findings) {
  const std::string so = u8"ソ", key = u8"キー", v200(200, 'v'),
                    patterns = "save\\*.tmp\nsave\\..\\..\\*.env\n\\Windows\\*.ini\nC:*.dat\n";
  const struct {
    const char* name;
    std::string text;
    int errors;
    std::string findings;
  } cases[] = {
      {"clean file", kClean, 0, ""},
      {"unclosed reg", "TITLEBAR a\n[reg]\n\"R\"=\"v\"\n", 1, "2: error|[reg]|end of the file"},
      {"open at EOF line", "[ini]\nA=1\nEOF\n-\n", 1, "1: error|[ini]|line 3"},
      {"key after [EOF]", "[EOF]\nINSTTO x\nfree text here\n", 0, "2: warning|INSTTO|[EOF]|line 1"},
      {"key past 400 reads", std::string(400, '\n') + "KEYFILE a.exe\n", 0, "401: warning|KEYFILE|400"},
      {"wrong case", "reg_global x\n", 0, "1: warning|reg_global|REG_GLOBAL"},
      {"indented", "  TITLEBAR x\n\tnotes are fine\n", 0, "1: warning|TITLEBAR|indented"},
      {"no value", "KEYFILE\nINSTTO\n", 0,
       "1: warning|KEYFILE|no value|not taken by itself\n2: warning|'KOVELA_APP'"},
      {"value out of reach", "INSTTO" + std::string(100, ' ') + "x\n", 0, "1: warning|INSTTO|100 bytes"},
      {"too long", "TITLEBAR " + v200 + "\n", 0, "1: warning|TITLEBAR|200 bytes|first 127"},
      {"too long for the menu", "INSTREADMEFL " + v200 + "\n", 0,
       "1: warning|INSTREADMEFL|first 127|keeps 200"},
      {"cut splits a character", "INSTTO " + std::string(126, 'a') + "\x83\x41\n", 0,
       "1: warning|INSTTO|double-byte"},
      {"unknown key", "TITLEBR x\n", 0, "1: warning|TITLEBR|unknown"},
      {"repeated key", "INSTTO a\n\nINSTTO b\n", 0, "3: warning|INSTTO|line 1"},
      {"repeated section", "[ini]\nA=1\n-\n[ini]\nB=1\n-\n", 0, "4: warning|[ini]|line 1"},
      {"section opened inside another", "[ini]\nA=1\n[reg]\n\"B\"=\"1\"\n-\n", 0, "3: warning|[reg]|[ini]"},
      {"digits then letters", "INSTMAKEFOL 1x\nCHKREGVER abc\nCHKREGVERHIGH 99999999999\n", 0,
       "1: warning|INSTMAKEFOL|reads 1\n2: warning|CHKREGVER|reads 0\n3: warning|CHKREGVERHIGH|32 bits"},
      {"section line read as key", "[reg]\nTITLEBAR x\n-\nTITLEBAR y\n", 0,
       "2: warning|not in the form\n2: warning|[reg]|TITLEBAR\n4: warning|TITLEBAR|line 2"},
      {"unknown header", "[INI]\nA\nTITLEBAR x\n-\nINSTTO y\n", 0,
       "1: warning|[INI]\n3: warning|[INI]|TITLEBAR"},
      {"section after EOF line", "EOF\n[reg]\nR v\n-\n", 0, "2: warning|[reg]|line 1"},
      {"0x1a inside", "INSTTO a\n\x1AINSTFOL b\n", 0, "2: warning|0x1A|10 bytes"},
      {"long line", "INSTTO " + std::string(600, 'x') + "\n", 0,
       "1: warning|511|INSTTO\n1: warning|INSTTO|first 127"},
      {"delete patterns outside the install folder",
       "[delfiles_afterinst]\n" + patterns + "/etc/x\na\\\\b\n\x83\x5C\\..\\x\n-\n", 0,
       "3: warning|save\\..\\..\\*.env|'..'\n4: warning|rooted\n5: warning|rooted\n6: warning|rooted\n"
       "7: warning|dots-only\n8: warning|" +
           so + "|'..'"},
      // What the updater reads otherwise than meant.
      {"a blank inside a value", "TITLEBAR 月影の館 ver1.20 更新パッチ\n", 0,
       u8"1: warning|reads '月影の館'|TITLEBAR 月影の館|ver1.20|更新パッチ"},
      {"lines in the wrong form", "[reg]\nPath=C:\\x\n\"Ok\"=\"1\"\n-\n[ini]\nnoequals\n-\n", 0,
       "2: warning|[reg]|skips\n6: warning|[ini]|skips"},
      {"lists never acted on", "[delfiles]\na\nb\n-\n[delfiles_user]\nc\n-\n", 0,
       "2: warning|[delfiles]|[delfiles_afterinst]\n6: warning|[delfiles_user]"},
      {"a version range no version passes", "CHKREG V\nCHKREGVER 120\nCHKREGVERHIGH 110\n", 1,
       "3: error|120 is above CHKREGVERHIGH 110"},
      {"no upper bound", "CHKREG V\n", 0, "1: warning|CHKREGVERHIGH"},
      {"a relative INI_FILE", "INI_FILE game.ini\n", 0, "1: warning|Windows folder"},
      {"cp932 key shown as utf-8", "\x83\x4C\x81\x5B x\n", 0, "1: warning|" + key},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int errors = -1, warnings = -1;
    std::vector<std::string> lines = Split(RunLint(c.text, &errors, &warnings), '\n');
    lines.pop_back();  // after the last newline
    const std::vector<std::string> findings =
        c.findings.empty() ? std::vector<std::string>{} : Split(c.findings, '\n');
    EXPECT_EQ(errors, c.errors);
    ASSERT_EQ(lines.size(), findings.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ(warnings + errors, static_cast<int>(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::vector<std::string> words = Split(findings[i], '|');
      EXPECT_EQ(lines[i].rfind("install.env:" + words[0] + ": ", 0), 0u) << lines[i];
      for (std::size_t w = 1; w < words.size(); ++w)
        EXPECT_NE(lines[i].find(words[w]), std::string::npos) << lines[i] << " lacks " << words[w];
    }
  }
}

// The lint command over files as authors save them: its exit code and words of its output.
TEST(LintCommand, EncodingsAndExitCodes) {
  const std::string dir = MakeTempFolder();
  int n = 0;
  auto file = [&](const std::string& text) {
    const std::string path = dir + "/" + std::to_string(++n) + ".env";
    WriteWholeFile(path, text);
    return path;
  };
  const std::string clean = file(kClean), bom = "\xEF\xBB\xBF";
  WriteWholeFile(dir + "/readme.txt", "the readme that kClean offers");
  const struct {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> words;
  } cases[] = {
      {{"lint"}, 1, {}},
      {{"lint", clean}, 0, {"read as ASCII"}},
      {{"lint", file("FOO bar\n")}, 0, {":1: warning", "FOO"}},
      {{"lint", clean, file("[reg]\nR v\n")}, 1, {"read as ASCII", ":1: error: "}},
      {{"lint", dir + "/missing.env"}, 1, {"cannot read"}},
      {{"lint", file("INSTREADME Read\nINSTREADMEFL notes.txt\n")}, 1, {":2: error: ", "notes.txt"}},
      {{"lint", file("INSTREADME Read\nINSTREADMEFL README.TXT\n")}, 0, {}},
      {{"lint", file("TITLEBAR 星\n")}, 0, {"read as code page 932\n"}},
      {{"lint", file(u8"TITLEBAR 星\nreg_global x\n")}, 0, {":2: warning", "REG_GLOBAL", "read as UTF-8;"}},
      {{"lint", file(bom + u8"TITLEBAR 星\n")}, 0, {"UTF-8 with a byte-order mark; build stores"}},
      {{"lint", file(u8"A b\n\nTITLEBAR 雪☃\n")}, 1, {":3: error: ", u8"'☃' (U+2603)"}},
      {{"lint", file(bom + "TITLEBAR x\nINSTTO \xFF\n")}, 1, {":2: error: ", "0xFF at column 8"}},
      {{"lint", file("TITLEBAR x\nINSTTO \x81\x20\n")},
       1,
       {":2: error: ", "neither UTF-8 nor code page 932"}},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(RunTool(mkupdater::RunLintCommand, c.args, &out, &err), c.code) << c.args.back();
    for (const std::string& w : c.words) EXPECT_NE(out.find(w), std::string::npos) << out << " lacks " << w;
  }
  std::string stored;
  WriteWholeFile(dir + "/install.env", bom + u8"TITLEBAR 星の灯台\r\n");
  EXPECT_EQ(mkupdater::LintInstallEnvFile(dir + "/install.env", nullptr, nullptr, &stored), 0);
  EXPECT_EQ(stored, "TITLEBAR 星の灯台\r\n");  // code page 932 bytes: the literal's own
  RemoveTree(dir);
}

}  // namespace
