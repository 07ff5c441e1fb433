// mkupdater lint over install.env texts: each finding on its line, naming its key or section.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lint.h"

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

const char kClean[] =
    "// KOVELA update\n"
    "REG_GLOBAL Maker\n"
    "REG_LOCAL Game\n"
    "TITLEBAR My|Game  the window title\n"
    "INSTTO GAME\n"
    "CHKREGVER 100\n"
    "CHKREGVERHIGH 199\n"
    "INSTREADME Readme|file\n"
    "\n"
    "[ini]\n"
    "// comment\n"
    "Sound=1\n"
    "-\n"
    "[reg]\n"
    "Path REP_INSTALL\n"
    "- end of reg\n"
    "[EOF]\n"
    "[delfiles_afterinst]\n"
    "old.dat\n"
    "-\n"
    "notes after the end are fine\n";

TEST(LintInstallEnv, CleanFileIsSilent) {
  int errors = -1, warnings = -1;
  EXPECT_EQ(RunLint(kClean, &errors, &warnings), "");
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(warnings, 0);
}

struct Expect {
  const char* prefix;  // "install.env:<line>: <kind>: "
  std::vector<const char*> words;
};

struct LintCase {
  const char* name;
  std::string text;
  int errors;
  std::vector<Expect> findings;  // in output order, one per printed line
};

std::vector<std::string> SplitLines(const std::string& s) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1) {
    out.push_back(s.substr(start, nl - start));
  }
  return out;
}

TEST(LintInstallEnv, Findings) {
  const std::string longValue(200, 'v');
  const LintCase cases[] = {
      {"unclosed reg", "TITLEBAR a\n[reg]\nR v\n", 1,
       {{"install.env:2: error: ", {"[reg]", "end of the file"}}}},
      {"open at EOF line", "[ini]\nA\nEOF\n-\n", 1,
       {{"install.env:1: error: ", {"[ini]", "line 3"}}}},
      {"key after [EOF]", "[EOF]\nINSTTO x\nfree text here\n", 0,
       {{"install.env:2: warning: ", {"INSTTO", "[EOF]", "line 1"}}}},
      {"key past 400 reads", std::string(400, '\n') + "KEYFILE a.exe\n", 0,
       {{"install.env:401: warning: ", {"KEYFILE", "400"}}}},
      {"wrong case", "reg_global x\n", 0, {{"install.env:1: warning: ", {"reg_global", "REG_GLOBAL"}}}},
      {"indented", "  TITLEBAR x\n\tnotes are fine\n", 0,
       {{"install.env:1: warning: ", {"TITLEBAR", "indented"}}}},
      {"no value", "KEYFILE\n", 0, {{"install.env:1: warning: ", {"KEYFILE", "no value"}}}},
      {"value out of reach", "INSTTO" + std::string(100, ' ') + "x\n", 0,
       {{"install.env:1: warning: ", {"INSTTO", "100 bytes"}}}},
      {"too long", "TITLEBAR " + longValue + "\n", 0,
       {{"install.env:1: warning: ", {"TITLEBAR", "200 bytes", "first 127"}}}},
      {"too long for the menu", "INSTREADMEFL " + longValue + "\n", 0,
       {{"install.env:1: warning: ", {"INSTREADMEFL", "first 127", "keeps 200"}}}},
      {"cut splits a character", "INSTTO " + std::string(126, 'a') + "\x83\x41\n", 0,
       {{"install.env:1: warning: ", {"INSTTO", "double-byte"}}}},
      {"unknown key", "TITLEBR x\n", 0, {{"install.env:1: warning: ", {"TITLEBR", "unknown"}}}},
      {"repeated key", "INSTTO a\n\nINSTTO b\n", 0,
       {{"install.env:3: warning: ", {"INSTTO", "line 1"}}}},
      {"repeated section", "[ini]\nA\n-\n[ini]\nB\n-\n", 0,
       {{"install.env:4: warning: ", {"[ini]", "line 1"}}}},
      {"section opened inside another", "[ini]\nA\n[reg]\nB\n-\n", 0,
       {{"install.env:3: warning: ", {"[reg]", "[ini]"}}}},
      {"digits then letters", "INSTMAKEFOL 1x\nCHKREGVER abc\nCHKREGVERHIGH 99999999999\n", 0,
       {{"install.env:1: warning: ", {"INSTMAKEFOL", "reads 1"}},
        {"install.env:2: warning: ", {"CHKREGVER", "reads 0"}},
        {"install.env:3: warning: ", {"CHKREGVERHIGH", "32 bits"}}}},
      {"section line read as key", "[reg]\nTITLEBAR x\n-\nTITLEBAR y\n", 0,
       {{"install.env:2: warning: ", {"[reg]", "TITLEBAR"}},
        {"install.env:4: warning: ", {"TITLEBAR", "line 2"}}}},
      {"unknown header", "[INI]\nA\nTITLEBAR x\n-\nINSTTO y\n", 0,
       {{"install.env:1: warning: ", {"[INI]"}}, {"install.env:3: warning: ", {"[INI]", "TITLEBAR"}}}},
      {"section after EOF line", "EOF\n[reg]\nR v\n-\n", 0,
       {{"install.env:2: warning: ", {"[reg]", "line 1"}}}},
      {"0x1a inside", "INSTTO a\n\x1AINSTFOL b\n", 0,
       {{"install.env:2: warning: ", {"0x1A", "10 bytes"}}}},
      {"long line", "INSTTO " + std::string(600, 'x') + "\n", 0,
       {{"install.env:1: warning: ", {"511", "INSTTO"}},
        {"install.env:1: warning: ", {"INSTTO", "first 127"}}}},
      {"cp932 key shown as utf-8", "\x83\x4C\x81\x5B x\n", 0,
       {{"install.env:1: warning: ", {u8"キー"}}}},
  };
  for (const LintCase& c : cases) {
    int errors = -1, warnings = -1;
    std::vector<std::string> lines = SplitLines(RunLint(c.text, &errors, &warnings));
    EXPECT_EQ(errors, c.errors) << c.name;
    ASSERT_EQ(lines.size(), c.findings.size()) << c.name << "\n" << ::testing::PrintToString(lines);
    EXPECT_EQ(warnings + errors, static_cast<int>(lines.size())) << c.name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(c.findings[i].prefix, 0), 0u) << c.name << ": " << lines[i];
      for (const char* w : c.findings[i].words) {
        EXPECT_NE(lines[i].find(w), std::string::npos) << c.name << ": " << lines[i] << " lacks " << w;
      }
    }
  }
}

TEST(LintCommand, ExitCodes) {
  char pattern[] = "/tmp/lint_test_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  auto write = [&](const char* name, const std::string& text) {
    std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
  };
  std::string clean = write("install.env", kClean);
  std::string warned = write("warned.env", "FOO bar\n");
  std::string broken = write("broken.env", "[reg]\nR v\n");
  std::string missing = dir + "/missing.env";
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"lint"}, 1}, {{"lint", clean}, 0}, {{"lint", warned}, 0},
      {{"lint", broken}, 1}, {{"lint", clean, broken}, 1}, {{"lint", missing}, 1},
  };
  for (const auto& c : cases) {
    std::vector<char*> argv;
    for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int code = mkupdater::RunLintCommand(static_cast<int>(argv.size()), argv.data());
    std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, c.code) << c.args.back();
    if (c.code == 1 && c.args.size() > 1) {
      EXPECT_NE(out.find(": error: "), std::string::npos) << out;
    }
  }
  EXPECT_EQ(mkupdater::LintFolderInstallEnv(dir.c_str(), nullptr), 0);
  for (const char* name : {"install.env", "warned.env", "broken.env"}) {
    std::remove((dir + "/" + name).c_str());
  }
  rmdir(dir.c_str());
}

}  // namespace
