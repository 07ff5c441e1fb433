// Shell services and path helpers through the host platform.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "config/config.h"
#include "container_writer.h"
#include "platform/host_control.h"
#include "shell/paths.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "test_support.h"

namespace {

int ExitCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const host::ProcessExit& e) {
    return e.code;
  }
  return INT32_MIN;
}
constexpr int kReturned = INT32_MIN;

TEST(Paths, TrailingBackslash) {
  struct Case {
    const char* in;
    const char* appended;
    const char* stripped;
  } cases[] = {
      {"C:\\Temp", "C:\\Temp\\", "C:\\Temp"},
      {"C:\\Temp\\", "C:\\Temp\\", "C:\\Temp"},
      {"D:\\Games\\", "D:\\Games\\", "D:\\Games"},
      {"C:\\ソ", "C:\\ソ\\", "C:\\ソ"},      // trail byte 0x5C is no separator
      {"C:\\表", "C:\\表\\", "C:\\表"},
      {"C:\\ソ\\", "C:\\ソ\\", "C:\\ソ"},
      {"\\", "\\", ""},
      {"", "\\", ""},
      {"ab\\\\", "ab\\\\", "ab\\"},          // only one is removed
      {"\x83", "\x83\\", "\x83"},            // a lone lead byte at the end
  };
  for (const Case& c : cases) {
    char a[32], s[32];
    std::strcpy(a, c.in);
    std::strcpy(s, c.in);
    EXPECT_STREQ(paths::AppendTrailingBackslash(a, sizeof a), c.appended) << c.in;
    EXPECT_STREQ(paths::StripTrailingBackslash(s), c.stripped) << c.in;
  }
  char full[4] = "abc";
  EXPECT_STREQ(paths::AppendTrailingBackslash(full, sizeof full), "abc");  // no room: unchanged
}

TEST(Paths, LeadBytesAndSearches) {
  for (int b = 0; b < 256; ++b) {
    bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(paths::IsLeadByte(b), lead ? 1 : 0) << b;
    EXPECT_EQ(paths::IsLeadByte(b + 0x100), lead ? 1 : 0) << b;
  }
  const char* s = "ソ\\x";
  EXPECT_EQ(paths::FindChar(s, '\\'), s + 2);
  EXPECT_EQ(paths::FindText("表示", "\x5C"), nullptr);
  char out[8];
  EXPECT_EQ(paths::JoinPath(out, sizeof out, "ab", "cdef"), 0);
  EXPECT_STREQ(out, "ab\\cdef");
  EXPECT_EQ(paths::JoinPath(out, sizeof out, "ab", "cdefg"), -1);
  EXPECT_STREQ(out, "");
}

class ShellTest : public HostTest {};

TEST_F(ShellTest, DeleteMatchingFilesStaysInsideItsFolder) {
  std::string tree = dir_ + "/w";
  mkdir(tree.c_str(), 0777);
  mkdir((tree + "/sub").c_str(), 0777);
  mkdir((tree + "/save").c_str(), 0777);
  for (const char* f : {"a.txt", "b.dat", "sub/keep.txt", "save/1.tmp", "save/2.tmp", "save/x.sav"})
    WriteWholeFile(tree + "/" + f, "x");
  WriteWholeFile(dir_ + "/outside.txt", "x");
  ASSERT_EQ(chdir(dir_.c_str()), 0);

  paths::DeleteMatchingFiles(tree.c_str(), "save\\*.tmp");
  EXPECT_EQ(ListTree(tree), (std::vector<std::string>{"a.txt", "b.dat", "save/", "save/x.sav", "sub/",
                                                      "sub/keep.txt"}));
  paths::DeleteMatchingFiles(tree.c_str(), "*.*");
  EXPECT_EQ(ListTree(tree), (std::vector<std::string>{"save/", "save/x.sav", "sub/", "sub/keep.txt"}));
  paths::DeleteMatchingFiles((tree + "/missing").c_str(), "*.*");
  EXPECT_TRUE(PathExists(dir_ + "/outside.txt"));
  EXPECT_TRUE(PathExists(tree + "/sub/keep.txt"));
  char cwd[4096];
  EXPECT_EQ(std::string(getcwd(cwd, sizeof cwd)), dir_);  // restored every time
}

TEST_F(ShellTest, FileScanYieldsThePatternsFolder) {
  mkdir((dir_ + "/save").c_str(), 0777);
  WriteWholeFile(dir_ + "/save/1.tmp", "x");
  WriteWholeFile(dir_ + "/save/2.tmp", "x");
  mkdir((dir_ + "/save/d.tmp").c_str(), 0777);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  ASSERT_EQ(paths::FileScanStart("save\\*.tmp"), 0);
  std::vector<std::string> got;
  while (const char* p = paths::FileScanNext()) got.push_back(p);
  EXPECT_EQ(got, (std::vector<std::string>{"save\\1.tmp", "save\\2.tmp"}));
  EXPECT_EQ(paths::FileScanNext(), nullptr);
  EXPECT_EQ(paths::FileScanStart("save\\*.none"), 1);
  EXPECT_EQ(paths::FileScanNext(), nullptr);
}

TEST(WorkFolder, NameFromTickCount) {
  struct Case {
    std::uint32_t ticks;
    const char* name;
  } cases[] = {
      {0, "TempGPInstallFolder_000000000"},
      {12345, "TempGPInstallFolder_000012345"},
      {1234567890, "TempGPInstallFolder_1234567890"},
      {3000000000u, "TempGPInstallFolder_-1294967296"},
  };
  for (const Case& c : cases) {
    char out[128];
    shell::FormatWorkFolderName(c.ticks, out, sizeof out);
    EXPECT_STREQ(out, c.name);
  }
}

TEST_F(ShellTest, WorkFolderIsEmptiedButSubfoldersStay) {
  host::SetTickCount(42);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  for (const char* temp : {"\\tmp", "\\tmp\\"}) {  // with and without a trailing separator
    SCOPED_TRACE(temp);
    shell::ResetForTests();
    host::SetTempFolder(dir_ + temp);
    shell::CreateWorkFolder();
    std::string work = dir_ + "/tmp/TempGPInstallFolder_000000042";
    EXPECT_EQ(shell::WorkFolderPath(), dir_ + "\\tmp\\TempGPInstallFolder_000000042");
    char cwd[4096];
    EXPECT_EQ(std::string(getcwd(cwd, sizeof cwd)), work);
    WriteWholeFile(work + "/install.env", "x");
    shell::RemoveWorkFolder();
    EXPECT_FALSE(PathExists(work));
    EXPECT_EQ(std::string(getcwd(cwd, sizeof cwd)), dir_);
  }
  // A folder of that name that exists already is used; a subfolder keeps it on disk.
  shell::ResetForTests();
  std::string work = dir_ + "/tmp/TempGPInstallFolder_000000042";
  mkdir(work.c_str(), 0777);
  mkdir((work + "/sub").c_str(), 0777);
  WriteWholeFile(work + "/a", "x");
  WriteWholeFile(work + "/sub/b", "x");
  shell::CreateWorkFolder();
  shell::RemoveWorkFolder();
  EXPECT_EQ(ListTree(work), (std::vector<std::string>{"sub/", "sub/b"}));
  EXPECT_TRUE(host::Boxes().empty());
}

TEST_F(ShellTest, UnusableTempFolderDeletesNothing) {
  std::string start = dir_ + "/start";
  mkdir(start.c_str(), 0777);
  WriteWholeFile(start + "/precious.txt", "x");
  ASSERT_EQ(chdir(start.c_str()), 0);
  for (std::string temp : {dir_ + "/no/such/folder/", std::string(), std::string(255, 'x')}) {
    shell::ResetForTests();
    host::SetTempFolder(temp);
    shell::CreateWorkFolder();
    shell::RemoveWorkFolder();
    EXPECT_TRUE(PathExists(start + "/precious.txt"));
  }
}

TEST_F(ShellTest, MessageBoxes) {
  // Before the menu: no owner, empty caption; afterwards the owner's current title.
  shell::ReportError("a %s %d", "text", 5);
  plat::Window menu = host::MakeWindow("Title アップデータ");
  shell::SetOwnerWindow(menu);
  host::ScriptAnswers({plat::kIdRetry, plat::kIdYes, plat::kIdNo, 0, 0, 0});
  shell::ReportFatal("fatal %d", 1);
  host::SetClipboard("before");
  EXPECT_EQ(shell::AskYesNo("q1"), 1);
  EXPECT_EQ(shell::AskYesNo("q2"), 0);
  EXPECT_EQ(shell::AskYesNo("q3"), 0);  // a box that cannot be shown counts as No
  shell::ReportFatal("fatal %d", 2);     // ... and as Retry
  shell::ReportError("last");

  struct Want {
    plat::Window owner;
    const char* text;
    const char* caption;
    unsigned style;
  } want[] = {
      {nullptr, "a text 5", "", 0x10},        {menu, "fatal 1", "Title アップデータ", 0x15},
      {menu, "q1", "Title アップデータ", 0x24}, {menu, "q2", "Title アップデータ", 0x24},
      {menu, "q3", "Title アップデータ", 0x24}, {menu, "fatal 2", "Title アップデータ", 0x15},
      {menu, "last", "Title アップデータ", 0x10},
  };
  const auto& boxes = host::Boxes();
  ASSERT_EQ(boxes.size(), std::size(want));
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(boxes[i].owner, want[i].owner);
    EXPECT_EQ(boxes[i].text, want[i].text);
    EXPECT_EQ(boxes[i].caption, want[i].caption);
    EXPECT_EQ(boxes[i].style, want[i].style);
  }
  EXPECT_EQ(host::Clipboard(), "last");  // questions leave the clipboard alone
  EXPECT_EQ(host::ForegroundCalls().size(), 6u);

  host::FailClipboardAlloc(true);
  shell::ReportError("not copied");
  EXPECT_EQ(host::Clipboard(), "last");
  EXPECT_EQ(host::Boxes().back().text, "not copied");

  // Over-long texts are cut to the 1024-byte buffer.
  shell::ReportError("%s", std::string(3000, 'x').c_str());
  EXPECT_EQ(host::Boxes().back().text.size(), 1023u);
}

TEST_F(ShellTest, FatalCancelEndsTheProcess) {
  host::ScriptAnswers({plat::kIdCancel});
  EXPECT_EQ(ExitCodeOf([] { shell::ReportFatal("x"); }), -1);
  host::ScriptAnswers({plat::kIdOk});
  EXPECT_EQ(ExitCodeOf([] { shell::ReportError("x"); }), kReturned);
}

TEST_F(ShellTest, FfopenAsksUntilTheFileOpensOrTheUserCancels) {
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  shell::EnablePlainNameLookup();
  host::ScriptAnswers({plat::kIdRetry, plat::kIdRetry, plat::kIdCancel});
  EXPECT_EQ(ExitCodeOf([] { shell::Ffopen("missing.env", "rt"); }), -1);
  ASSERT_EQ(host::Boxes().size(), 3u);
  for (const auto& b : host::Boxes()) {
    EXPECT_EQ(b.text, "Ffopen : ファイル[missing.env]の読み込みで失敗しました");
    EXPECT_EQ(b.style, 0x15u);
  }
  WriteWholeFile(dir_ + "/present.env", "x");
  std::FILE* f = nullptr;
  EXPECT_EQ(ExitCodeOf([&] { f = shell::Ffopen("present.env", "rt"); }), kReturned);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
}

TEST_F(ShellTest, FileExistsAndTheSoundFileRule) {
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  mkdir((dir_ + "/data").c_str(), 0777);
  for (const char* f : {"bgm.ogg", "data/bgm.ogg", "data/se.WAV", "data/a.txt", "ソ.ogg"})
    WriteWholeFile(dir_ + "/" + f, "x");
  shell::EnablePlainNameLookup();
  ASSERT_TRUE(PathExists(dir_ + "/ソ.ogg"));
  struct Case {
    const char* name;
    int present;
  } cases[] = {
      {"bgm.ogg", 1},         {"data\\bgm.ogg", 0},      {"data\\se.WAV", 0},
      {"data\\a.txt", 1},     {"ソ.ogg", 1},             // 83 5C is no backslash
      {"data/bgm.ogg", 1},    {"missing.txt", 0},        {"data\\bgm.ogg.bak", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(shell::FileExists(c.name), c.present) << c.name;
  EXPECT_EQ(shell::FileExists(std::string(300, 'a').c_str()), 0);
}

TEST_F(ShellTest, OutOfMemoryEndsTheRunAfterItsBox) {
  host::SetTickCount(7);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  shell::CreateWorkFolder();
  EXPECT_EQ(ExitCodeOf([] { shell::AllocBlock(SIZE_MAX - 8); }), -1);
  ASSERT_EQ(host::Boxes().size(), 1u);
  EXPECT_STREQ(host::Boxes()[0].text.c_str(), shell::text::kOutOfMemory);
  EXPECT_EQ(host::Boxes()[0].caption, "malloc");
  EXPECT_EQ(host::Boxes()[0].owner, nullptr);
  EXPECT_FALSE(PathExists(dir_ + "/tmp/TempGPInstallFolder_000000007"));
}

// The whole start-up on the host: every end of the process it can reach, with its box, exit
// code, work folder and the order of the exit actions.
class StartupTest : public HostTest {
 protected:
  int RunWith(const std::vector<std::pair<std::string, std::string>>& files, bool damage = false) {
    std::FILE* t = std::tmpfile();
    for (const auto& f : files)
      mkupdater::WriteFileRecord(t, f.first, std::vector<std::uint8_t>(f.second.begin(), f.second.end()),
                                 0x01D7116EA6B4B600ull, 9);
    if (damage) std::fwrite("\x30\x00zz", 1, 4, t);
    std::fwrite("\0\0\0\0", 1, 4, t);
    std::string payload(static_cast<std::size_t>(std::ftell(t)), '\0');
    std::rewind(t);
    EXPECT_EQ(std::fread(&payload[0], 1, payload.size(), t), payload.size());
    std::fclose(t);
    std::string exe = dir_ + "/updater.exe";
    WriteWholeFile(exe, "MZ" + payload + std::string("\x02\0\0\0", 4));
    host::SetModulePath(exe);
    host::SetTickCount(99);
    EXPECT_EQ(chdir(dir_.c_str()), 0);
    return ExitCodeOf([] { shell::RunUpdater(); });
  }
  bool WorkFolderLeft() { return PathExists(dir_ + "/tmp/TempGPInstallFolder_000000099"); }
};

TEST_F(StartupTest, MissingInstallEnv) {
  EXPECT_EQ(RunWith({{"readme.txt", "r"}}), -1);
  ASSERT_EQ(host::Boxes().size(), 1u);
  EXPECT_STREQ(host::Boxes()[0].text.c_str(), shell::text::kMissingStartupFiles);
  EXPECT_EQ(host::Boxes()[0].caption, "");
  EXPECT_EQ(host::Clipboard(), shell::text::kMissingStartupFiles);
  EXPECT_FALSE(WorkFolderLeft());
  // Exit actions ran newest first: the lookup lock's release, then COM's.
  auto run = host::ExitActionsRun();
  ASSERT_EQ(run.size(), 2u);
  EXPECT_EQ(run[1], &plat::CoUninit);
}

TEST_F(StartupTest, DamagedPayload) {
  EXPECT_EQ(RunWith({{"install.env", "TITLEBAR x\n"}}, true), -1);
  ASSERT_EQ(host::Boxes().size(), 1u);
  EXPECT_STREQ(host::Boxes()[0].text.c_str(), shell::text::kDamagedFile);
  EXPECT_FALSE(WorkFolderLeft());
  char cwd[4096];
  EXPECT_EQ(std::string(getcwd(cwd, sizeof cwd)), dir_);  // back where it started
}

const char kEnv[] = "TITLEBAR ゲーム\n[ini]\nA=B\n-\n[EOF]\n";

TEST_F(StartupTest, SecondInstanceShowsItsBoxAndLeavesQuietly) {
  host::SetMutexOutcome(plat::MutexResult::AlreadyExists);
  host::SetClipboard("untouched");
  EXPECT_EQ(RunWith({{"install.env", kEnv}}), 0);
  ASSERT_EQ(host::MutexNames().size(), 1u);
  EXPECT_EQ(host::MutexNames()[0], "ゲーム アップデータ");
  ASSERT_EQ(host::Boxes().size(), 1u);
  EXPECT_EQ(host::Boxes()[0].text, "[ ゲーム アップデータ ] は既に起動中です");
  EXPECT_EQ(host::Boxes()[0].caption, "ゲーム");
  EXPECT_EQ(host::Boxes()[0].owner, nullptr);
  EXPECT_EQ(host::Boxes()[0].style, 0x10u);
  EXPECT_EQ(host::Clipboard(), "untouched");
  EXPECT_FALSE(WorkFolderLeft());
  // Exit actions newest first: the configuration, the lookup lock, COM.
  auto run = host::ExitActionsRun();
  ASSERT_EQ(run.size(), 3u);
  EXPECT_EQ(run[0], &config::FreeSetupConfig);
  EXPECT_EQ(run[2], &plat::CoUninit);
}

TEST_F(StartupTest, RefusedMutexNameEndsSilently) {
  host::SetMutexOutcome(plat::MutexResult::Failed);
  EXPECT_EQ(RunWith({{"install.env", kEnv}}), 0);
  EXPECT_TRUE(host::Boxes().empty());
  EXPECT_FALSE(WorkFolderLeft());
}

TEST_F(StartupTest, UnclosedSectionEndsWithTheWorkFolderLeft) {
  for (int answer : {plat::kIdRetry, plat::kIdCancel}) {
    SCOPED_TRACE(answer);
    host::Reset();
    config::ResetForTests();
    shell::ResetForTests();
    host::SetTempFolder(dir_ + "/tmp/");
    host::ScriptAnswers({answer});
    EXPECT_EQ(RunWith({{"install.env", "TITLEBAR x\n[reg]\n\"a\"=\"b\"\n"}}), -1);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text, "[設定.env]の[reg]が終了していません");
    EXPECT_TRUE(WorkFolderLeft());
    EXPECT_TRUE(host::MutexNames().empty());
  }
}

TEST_F(StartupTest, GoodPayloadRunsTheMenuAndCleansUp) {
  EXPECT_EQ(RunWith({{"install.env", kEnv}, {"readme.txt", "r"}}), kReturned);
  EXPECT_TRUE(host::Boxes().empty());
  EXPECT_FALSE(WorkFolderLeft());
}

TEST_F(StartupTest, MissingPayloadIsDamage) {
  host::SetModulePath(dir_ + "/nothing-here.exe");
  EXPECT_EQ(ExitCodeOf([] { shell::RunUpdater(); }), -1);
  ASSERT_EQ(host::Boxes().size(), 1u);
  EXPECT_STREQ(host::Boxes()[0].text.c_str(), shell::text::kDamagedFile);
}

}  // namespace
