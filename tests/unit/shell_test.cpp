// Shell services and path helpers through the host platform.
#include <unistd.h>

#include <cstring>

#include "config/config.h"
#include "platform/host_control.h"
#include "shell/paths.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "test_support.h"

namespace {

TEST(Paths, TrailingBackslashLeadBytesAndSearches) {
  const struct { const char *in, *appended, *stripped; } cases[] = {
      {"C:\\Temp", "C:\\Temp\\", "C:\\Temp"}, {"C:\\Temp\\", "C:\\Temp\\", "C:\\Temp"},
      {"C:\\ソ", "C:\\ソ\\", "C:\\ソ"},  // trail byte 0x5C is no separator
      {"C:\\表", "C:\\表\\", "C:\\表"},  {"C:\\ソ\\", "C:\\ソ\\", "C:\\ソ"},
      {"\\", "\\", ""},                    {"", "\\", ""},
      {"ab\\\\", "ab\\\\", "ab\\"},        // only one is removed
      {"\x83", "\x83\\", "\x83"},          // a lone lead byte at the end
  };
  for (const auto& c : cases) {
    char a[32], s[32];
    std::strcpy(a, c.in);
    std::strcpy(s, c.in);
    EXPECT_STREQ(paths::AppendTrailingBackslash(a, sizeof a), c.appended) << c.in;
    EXPECT_STREQ(paths::StripTrailingBackslash(s), c.stripped) << c.in;
  }
  char full[4] = "abc";
  EXPECT_STREQ(paths::AppendTrailingBackslash(full, sizeof full), "abc");  // no room: unchanged
  // The edges of both lead-byte ranges; only the low 8 bits count (a signed char too).
  for (int b : {0x81, 0x9F, 0xE0, 0xFC, 0x181, -0x7F}) EXPECT_EQ(paths::IsLeadByte(b), 1) << b;
  for (int b : {0x00, 0x5C, 0x80, 0xA0, 0xDF, 0xFD, 0x15C}) EXPECT_EQ(paths::IsLeadByte(b), 0) << b;
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

TEST_F(ShellTest, FileScanAndDeleteMatchingFilesStayInsideTheirFolder) {
  const std::string tree = dir_ + "/w";
  MakeTree(tree, {"a.txt", "b.dat", "sub/keep.txt", "save/1.tmp", "save/2.tmp", "save/x.sav", "save/d.tmp/"});
  WriteWholeFile(dir_ + "/outside.txt", "x");
  ASSERT_EQ(chdir(tree.c_str()), 0);
  ASSERT_EQ(paths::FileScanStart("save\\*.tmp"), 0);  // files only, named with the folder part
  Names got;
  while (const char* p = paths::FileScanNext()) got.push_back(p);
  EXPECT_EQ(got, (Names{"save\\1.tmp", "save\\2.tmp"}));
  EXPECT_EQ(paths::FileScanNext(), nullptr);
  EXPECT_EQ(paths::FileScanStart("save\\*.none"), 1);
  EXPECT_EQ(paths::FileScanNext(), nullptr);

  ASSERT_EQ(chdir(dir_.c_str()), 0);
  paths::DeleteMatchingFiles(tree.c_str(), "save\\*.tmp");
  EXPECT_EQ(ListTree(tree), (Names{"a.txt", "b.dat", "save/", "save/d.tmp/", "save/x.sav", "sub/", "sub/keep.txt"}));
  paths::DeleteMatchingFiles(tree.c_str(), "*.*");
  paths::DeleteMatchingFiles((tree + "/missing").c_str(), "*.*");
  EXPECT_EQ(ListTree(tree), (Names{"save/", "save/d.tmp/", "save/x.sav", "sub/", "sub/keep.txt"}));
  EXPECT_TRUE(PathExists(dir_ + "/outside.txt"));
  EXPECT_EQ(CurrentFolder(), dir_);  // restored every time
}

// The work folder is named by the ticks (read as a signed number), made under the temporary
// folder with or without its trailing separator, and emptied and removed again. A temporary
// folder that cannot hold it gives no work folder, and nothing in the current folder is
// deleted. A folder of that name that exists already is used; a subfolder keeps it on disk.
TEST_F(ShellTest, WorkFolder) {
  char name[128];
  shell::FormatWorkFolderName(1234567890, name, sizeof name);
  EXPECT_STREQ(name, "TempGPInstallFolder_1234567890");
  shell::FormatWorkFolderName(3000000000u, name, sizeof name);
  EXPECT_STREQ(name, "TempGPInstallFolder_-1294967296");
  host::SetTickCount(42);
  const std::string start = dir_ + "/start", work = dir_ + "/tmp/TempGPInstallFolder_000000042";
  MakeTree(start, {"precious.txt"});
  ASSERT_EQ(chdir(start.c_str()), 0);
  for (const std::string& temp : {dir_ + "\\tmp", dir_ + "\\tmp\\", dir_ + "/no/such/folder/", std::string(),
                                  std::string(255, 'x')}) {
    SCOPED_TRACE(temp);
    const bool usable = temp.rfind(dir_ + "\\tmp", 0) == 0;
    shell::ResetForTests();
    host::SetTempFolder(temp);
    shell::CreateWorkFolder();
    if (usable) {
      EXPECT_EQ(shell::WorkFolderPath(), dir_ + "\\tmp\\TempGPInstallFolder_000000042");
      EXPECT_EQ(CurrentFolder(), work);
      WriteWholeFile(work + "/install.env", "x");
    }
    shell::RemoveWorkFolder();
    EXPECT_FALSE(PathExists(work));
    EXPECT_EQ(CurrentFolder(), start);
    EXPECT_TRUE(PathExists(start + "/precious.txt"));
  }
  shell::ResetForTests();
  host::SetTempFolder(dir_ + "/tmp/");
  MakeTree(work, {"a", "sub/b"});
  shell::CreateWorkFolder();
  shell::RemoveWorkFolder();
  EXPECT_EQ(ListTree(work), (Names{"sub/", "sub/b"}));
  EXPECT_TRUE(host::Boxes().empty());
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
  EXPECT_EQ(host::Clipboard(), "before");  // questions leave the clipboard alone
  shell::ReportFatal("fatal %d", 2);     // ... and as Retry
  shell::ReportError("last");

  const char* title = "Title アップデータ";
  const struct { plat::Window owner; const char *text, *caption; unsigned style; } want[] = {
      {nullptr, "a text 5", "", 0x10}, {menu, "fatal 1", title, 0x15}, {menu, "q1", title, 0x24},
      {menu, "q2", title, 0x24},       {menu, "q3", title, 0x24},      {menu, "fatal 2", title, 0x15},
      {menu, "last", title, 0x10},
  };
  const auto& boxes = host::Boxes();
  ASSERT_EQ(boxes.size(), std::size(want));
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(std::tie(boxes[i].owner, boxes[i].text, boxes[i].caption, boxes[i].style),
              std::make_tuple(want[i].owner, std::string(want[i].text), std::string(want[i].caption), want[i].style));
  }
  EXPECT_EQ(host::Clipboard(), "last");
  EXPECT_EQ(host::ForegroundCalls().size(), 6u);

  host::FailClipboardAlloc(true);
  shell::ReportError("not copied");
  EXPECT_EQ(host::Clipboard(), "last");
  EXPECT_EQ(host::Boxes().back().text, "not copied");
  // Over-long texts are cut to the 1024-byte buffer.
  shell::ReportError("%s", std::string(3000, 'x').c_str());
  EXPECT_EQ(host::Boxes().back().text.size(), 1023u);
  host::ScriptAnswers({plat::kIdCancel});
  EXPECT_EQ(ExitCodeOf([] { shell::ReportFatal("x"); }), -1);
}

// Ffopen asks until the file opens or the user cancels; running out of memory ends the run
// after its box, without an owner, and takes the work folder with it.
TEST_F(ShellTest, FfopenAndOutOfMemoryEnds) {
  host::ScriptAnswers({plat::kIdRetry, plat::kIdRetry, plat::kIdCancel});
  EXPECT_EQ(ExitCodeOf([] { shell::Ffopen("missing.env", "rt"); }), -1);
  EXPECT_EQ(BoxTexts(), Names(3, "Ffopen : ファイル[missing.env]の読み込みで失敗しました"));
  for (const auto& b : host::Boxes()) EXPECT_EQ(b.style, 0x15u);
  WriteWholeFile(dir_ + "/present.env", "x");
  std::FILE* f = nullptr;
  EXPECT_EQ(ExitCodeOf([&] { f = shell::Ffopen("present.env", "rt"); }), kReturned);
  ASSERT_NE(f, nullptr);
  std::fclose(f);

  host::Reset();
  host::SetTempFolder(dir_ + "/tmp/");
  host::SetTickCount(7);
  shell::CreateWorkFolder();
  EXPECT_EQ(ExitCodeOf([] { shell::AllocBlock(SIZE_MAX - 8); }), -1);
  ASSERT_EQ(BoxTexts(), Names{shell::text::kOutOfMemory});
  EXPECT_EQ(std::make_pair(host::Boxes()[0].caption, host::Boxes()[0].owner), std::make_pair(std::string("malloc"),
                                                                                             plat::Window{}));
  EXPECT_FALSE(PathExists(dir_ + "/tmp/TempGPInstallFolder_000000007"));
}

TEST_F(ShellTest, FileExistsAndTheSoundFileRule) {
  MakeTree(dir_, {"bgm.ogg", "data/bgm.ogg", "data/se.WAV", "data/a.txt", "ソ.ogg"});
  const std::pair<std::string, int> cases[] = {
      {"bgm.ogg", 1},      {"data\\bgm.ogg", 0}, {"data\\se.WAV", 0},      {"data\\a.txt", 1},
      {"ソ.ogg", 1},  // 83 5C is no backslash
      {"data/bgm.ogg", 1}, {"missing.txt", 0},   {"data\\bgm.ogg.bak", 0}, {std::string(300, 'a'), 0},
  };
  for (const auto& [name, present] : cases) EXPECT_EQ(shell::FileExists(name.c_str()), present) << name;
}

// The whole start-up on the host: every end of the process it can reach, with its box, exit
// code, work folder, current folder and the exit actions (newest first: the configuration,
// the lookup lock, COM).
TEST_F(ShellTest, StartupEnds) {
  const std::string env = "TITLEBAR ゲーム\n[ini]\nA=B\n-\n[EOF]\n";
  const std::string unclosed = "[設定.env]の[reg]が終了していません";
  enum Exe { Good, Damaged, Missing };
  using M = plat::MutexResult;
  const struct {
    const char* what; std::vector<Entry> files; Exe exe; M mutex;
    int answer, code;  // answer: to the one Retry/Cancel box
    std::string box, caption; bool copied, workLeft; std::size_t actions;
  } cases[] = {
      {"missing install.env", {{"readme.txt", "r"}}, Good, M::Created, 0, -1, shell::text::kMissingStartupFiles,
       "", true, false, 2},
      {"damaged payload", {{"install.env", "TITLEBAR x\n"}}, Damaged, M::Created, 0, -1, shell::text::kDamagedFile,
       "", true, false, 1},
      {"missing payload", {}, Missing, M::Created, 0, -1, shell::text::kDamagedFile, "", true, false, 1},
      {"second instance", {{"install.env", env}}, Good, M::AlreadyExists, 0, 0,
       "[ ゲーム アップデータ ] は既に起動中です", "ゲーム", false, false, 3},
      {"refused mutex name", {{"install.env", env}}, Good, M::Failed, 0, 0, "", "", false, false, 3},
      {"unclosed section, Retry", {{"install.env", "TITLEBAR x\n[reg]\n\"a\"=\"b\"\n"}}, Good, M::Created,
       plat::kIdRetry, -1, unclosed, "", true, true, 3},
      {"good payload: the menu runs and cleans up", {{"install.env", env}, {"readme.txt", "r"}}, Good, M::Created,
       0, kReturned, "", "", false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetHost();
    host::SetTempFolder(dir_ + "/tmp/");
    host::SetTickCount(99);
    host::SetMutexOutcome(c.mutex);
    host::SetClipboard("untouched");
    if (c.answer) host::ScriptAnswers({c.answer});
    // A record cut inside its name follows the good ones in the damaged payload.
    const std::string cut = std::string("\x30\0zz", 4) + std::string(4, '\0');
    InstallUpdater(dir_ + "/updater.exe", c.exe == Damaged ? Payload(c.files, false) + cut : Payload(c.files));
    if (c.exe == Missing) host::SetModulePath(dir_ + "/nothing-here.exe");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(ExitCodeOf([] { shell::RunUpdater(); }), c.code);
    EXPECT_EQ(BoxTexts(), c.box.empty() ? Names{} : Names{c.box});
    for (const auto& b : host::Boxes()) {
      EXPECT_EQ(std::tie(b.caption, b.owner, b.style),
                std::make_tuple(c.caption, plat::Window{}, c.answer ? 0x15u : 0x10u));
    }
    EXPECT_EQ(host::Clipboard(), c.copied ? c.box : "untouched");
    const std::string work = dir_ + "/tmp/TempGPInstallFolder_000000099";
    EXPECT_EQ(PathExists(work), c.workLeft);
    EXPECT_EQ(CurrentFolder(), c.workLeft ? work : dir_);
    const bool locked = c.files.size() && c.files[0].data == env;
    EXPECT_EQ(host::MutexNames(), locked ? Names{"ゲーム アップデータ"} : Names{});
    auto run = host::ExitActionsRun();
    ASSERT_EQ(run.size(), c.actions);
    if (!run.empty()) { EXPECT_EQ(run.back(), &plat::CoUninit); }
    if (run.size() == 3) { EXPECT_EQ(run[0], &config::FreeSetupConfig); }
  }
}

}  // namespace
