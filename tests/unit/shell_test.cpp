// Shell services and path helpers through the host platform.
#include <unistd.h>

#include <cstring>

#include "base/blocks.h"
#include "base/boxes.h"
#include "base/cp932.h"
#include "base/files.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/workfolder.h"
#include "config/config.h"
#include "fake.h"
#include "payload/extract.h"
#include "shell/startup.h"
#include "test_support.h"

namespace {

TEST(Paths, TrailingBackslashLeadBytesAndSearches) {
  // in, appended, stripped; ソ ends in the trail byte 0x5C, which is no separator.
  const char* cases[][3] = {
      {"C:\\Temp", "C:\\Temp\\", "C:\\Temp"},
      {"C:\\Temp\\", "C:\\Temp\\", "C:\\Temp"},
      {"C:\\ソ", "C:\\ソ\\", "C:\\ソ"},
      {"C:\\ソ\\", "C:\\ソ\\", "C:\\ソ"},
      {"\\", "\\", ""},
      {"", "\\", ""},
      {"ab\\\\", "ab\\\\", "ab\\"},
      {"\x83", "\x83\\", "\x83"},  // a lone lead byte at the end
  };
  for (const auto& c : cases) {
    char a[32], s[32];
    std::strcpy(a, c[0]);
    std::strcpy(s, c[0]);
    EXPECT_STREQ(paths::AppendTrailingBackslash(a, sizeof a), c[1]) << c[0];
    EXPECT_STREQ(paths::StripTrailingBackslash(s), c[2]) << c[0];
  }
  char full[4] = "abc";
  EXPECT_STREQ(paths::AppendTrailingBackslash(full, sizeof full), "abc");  // no room: unchanged
  // The edges of both lead-byte ranges; only the low 8 bits count (a signed char too).
  for (int b : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(cp932::IsLeadByte(static_cast<unsigned char>(b))) << b;
  for (int b : {0x00, 0x5C, 0x80, 0xA0, 0xDF, 0xFD})
    EXPECT_FALSE(cp932::IsLeadByte(static_cast<unsigned char>(b))) << b;
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
  const std::string tree = dir_ + "/w";
  MakeTree(tree, {"a.txt", "sub/keep.txt", "save/1.tmp", "save/2.tmp", "save/x.sav", "save/d.tmp/"});
  WriteWholeFile(dir_ + "/outside.txt", "x");
  paths::DeleteMatchingFiles(tree.c_str(), "save\\*.tmp");
  EXPECT_EQ(ListTree(tree), (Names{"a.txt", "save/", "save/d.tmp/", "save/x.sav", "sub/", "sub/keep.txt"}));
  paths::DeleteMatchingFiles(tree.c_str(), "*.*");
  paths::DeleteMatchingFiles((tree + "/missing").c_str(), "*.*");
  EXPECT_EQ(ListTree(tree), (Names{"save/", "save/d.tmp/", "save/x.sav", "sub/", "sub/keep.txt"}));
  EXPECT_TRUE(PathExists(dir_ + "/outside.txt"));
  EXPECT_EQ(CurrentFolder(), dir_);  // restored every time
}

// The work folder is named by the ticks read as a signed number. A temporary folder that
// cannot hold it gives none, and nothing in the current folder is deleted; a name that is
// taken already (here by a folder with files) is left alone for the next number.
TEST_F(ShellTest, WorkFolder) {
  char name[128];
  base::FormatWorkFolderName(3000000000u, name, sizeof name);
  EXPECT_STREQ(name, "TempGPInstallFolder_-1294967296");
  const std::string start = dir_ + "/start", work = dir_ + "/tmp/TempGPInstallFolder_000000042",
                    next = dir_ + "/tmp/TempGPInstallFolder_000000043";
  MakeTree(start, {"precious.txt"});
  ASSERT_EQ(chdir(start.c_str()), 0);
  for (const std::string& temp : {dir_ + "\\tmp", dir_ + "\\tmp\\", dir_ + "/no/such/folder/", std::string(),
                                  std::string(255, 'x'), dir_ + "/tmp/"}) {
    SCOPED_TRACE(temp);
    const bool last = temp == dir_ + "/tmp/";
    ResetHost();
    fake::SetTickCount(42);
    fake::SetTempFolder(temp);
    if (last) MakeTree(work, {"a", "sub/b"});
    EXPECT_EQ(base::CreateWorkFolder(), temp.rfind(dir_ + "\\tmp", 0) == 0 || last);
    if (temp.rfind(dir_ + "\\tmp", 0) == 0) {
      EXPECT_EQ(CurrentFolder(), work);
      WriteWholeFile(work + "/install.env", "x");
    }
    if (last) EXPECT_EQ(CurrentFolder(), next);
    base::RemoveWorkFolder();
    EXPECT_EQ(ListTree(work), (last ? Names{"a", "sub/", "sub/b"} : Names{}));
    EXPECT_FALSE(PathExists(next));
    EXPECT_EQ(CurrentFolder(), start);
    EXPECT_TRUE(PathExists(start + "/precious.txt"));
    EXPECT_TRUE(fake::Boxes().empty());
  }
}

TEST_F(ShellTest, MessageBoxes) {
  // Before the menu: no owner, empty caption; afterwards the owner's current title.
  base::ReportError("a %s %d", "text", 5);
  const char* title = "Title アップデータ";
  plat::Window menu = fake::MakeWindow(title);
  base::SetOwnerWindow(menu);
  fake::ScriptAnswers({plat::kIdRetry, plat::kIdYes, plat::kIdNo, 0, 0, 0});
  base::ReportFatal("fatal %d", 1);
  fake::SetClipboard("before");
  EXPECT_TRUE(base::AskYesNo("q1"));
  EXPECT_FALSE(base::AskYesNo("q2"));
  EXPECT_FALSE(base::AskYesNo("q3"));      // a box that cannot be shown counts as No
  EXPECT_EQ(fake::Clipboard(), "before");  // questions leave the clipboard alone
  base::ReportFatal("fatal %d", 2);        // ... and as Retry
  base::ReportError("last");
  ASSERT_EQ(BoxTexts(), (Names{"a text 5", "fatal 1", "q1", "q2", "q3", "fatal 2", "last"}));
  const unsigned styles[] = {0x10, 0x15, 0x24, 0x24, 0x24, 0x15, 0x10};
  for (std::size_t i = 0; i < std::size(styles); ++i) {
    const auto& b = fake::Boxes()[i];
    EXPECT_EQ(std::tie(b.owner, b.caption, b.style),
              std::make_tuple(i ? menu : nullptr, std::string(i ? title : ""), styles[i]));
  }
  EXPECT_EQ(fake::Clipboard(), "last");
  EXPECT_EQ(fake::ForegroundCalls().size(), 6u);
  fake::FailClipboardAlloc(true);
  base::ReportError("%s", std::string(3000, 'x').c_str());  // cut to the 1024-byte buffer
  EXPECT_EQ(fake::Clipboard(), "last");
  EXPECT_EQ(fake::Boxes().back().text, std::string(1023, 'x'));
  fake::ScriptAnswers({plat::kIdCancel});
  EXPECT_EQ(ExitCodeOf([] { base::ReportFatal("x"); }), -1);
}

// Ffopen asks until the file opens or the user cancels; running out of memory ends the run
// after its box, without an owner, and takes the work folder with it.
TEST_F(ShellTest, FfopenAndOutOfMemoryEnds) {
  fake::ScriptAnswers({plat::kIdRetry, plat::kIdRetry, plat::kIdCancel});
  EXPECT_EQ(ExitCodeOf([] { base::Ffopen("missing.env", "rt"); }), -1);
  EXPECT_EQ(BoxTexts(), Names(3, "Ffopen : ファイル[missing.env]の読み込みで失敗しました"));
  for (const auto& b : fake::Boxes()) EXPECT_EQ(b.style, 0x15u);
  WriteWholeFile(dir_ + "/present.env", "x");
  std::FILE* f = nullptr;
  EXPECT_EQ(ExitCodeOf([&] { f = base::Ffopen("present.env", "rt"); }), kReturned);
  ASSERT_NE(f, nullptr);
  std::fclose(f);

  fake::Reset();
  fake::SetTempFolder(dir_ + "/tmp/");
  fake::SetTickCount(7);
  base::CreateWorkFolder();
  EXPECT_EQ(ExitCodeOf([] { base::AllocBlock(SIZE_MAX - 8); }), -1);
  ASSERT_EQ(BoxTexts(), Names{base::text::kOutOfMemory});
  EXPECT_EQ(std::make_pair(fake::Boxes()[0].caption, fake::Boxes()[0].owner),
            std::make_pair(std::string("malloc"), plat::Window{}));
  EXPECT_FALSE(PathExists(dir_ + "/tmp/TempGPInstallFolder_000000007"));
}

TEST_F(ShellTest, FileExistsAndTheSoundFileRule) {
  MakeTree(dir_, {"bgm.ogg", "data/bgm.ogg", "data/se.WAV", "data/a.txt", "ソ.ogg"});
  const std::pair<std::string, bool> cases[] = {
      {"bgm.ogg", true},
      {"data\\bgm.ogg", false},
      {"data\\se.WAV", false},
      {"data\\a.txt", true},
      {"ソ.ogg", true},  // 83 5C is no backslash
      {"data/bgm.ogg", true},
      {"missing.txt", false},
      {"data\\bgm.ogg.bak", false},
      {std::string(300, 'a'), false},
  };
  for (const auto& [name, present] : cases) EXPECT_EQ(base::FileExists(name.c_str()), present) << name;
}

// Every end of the start-up on the host: its box, exit code, work folder, current folder and
// the exit actions (newest first: the configuration, COM).
TEST_F(ShellTest, StartupEnds) {
  const std::string env = "TITLEBAR ゲーム\n[ini]\nA=B\n-\n[EOF]\n",
                    missing = shell::text::kMissingStartupFiles, damaged = payload::text::kDamagedFile,
                    unclosed = "[設定.env]の[reg]が終了していません",
                    second = "[ ゲーム アップデータ ] は既に起動中です";
  const std::vector<Entry> good = {{"install.env", env}}, open = {{"install.env", "TITLEBAR x\n[reg]\n"}};
  enum Exe { Good, Damaged, Missing };
  using M = plat::MutexResult;
  const struct {
    const char* what;
    std::vector<Entry> files;
    Exe exe;
    M mutex;
    int answer, code;  // answer: to the one Retry/Cancel box
    std::string box, caption;
    bool copied, workLeft;
    std::size_t actions;
  } cases[] = {
      {"missing install.env", {{"readme.txt", "r"}}, Good, M::Created, 0, -1, missing, "", true, false, 1},
      {"damaged payload", {{"install.env", "x"}}, Damaged, M::Created, 0, -1, damaged, "", true, false, 1},
      {"missing payload", {}, Missing, M::Created, 0, -1, damaged, "", true, false, 1},
      {"second instance", good, Good, M::AlreadyExists, 0, 0, second, "ゲーム", false, false, 2},
      {"refused mutex name", good, Good, M::Failed, 0, 0, "", "", false, false, 2},
      {"unclosed section, Retry", open, Good, M::Created, plat::kIdRetry, -1, unclosed, "", true, true, 2},
      {"the menu runs and cleans up", good, Good, M::Created, 0, kReturned, "", "", false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetHost();
    RemoveTree(dir_ + "/tmp/TempGPInstallFolder_000000099");  // what the run before left
    fake::SetTempFolder(dir_ + "/tmp/");
    fake::SetTickCount(99);
    fake::SetMutexOutcome(c.mutex);
    fake::SetClipboard("untouched");
    if (c.answer) fake::ScriptAnswers({c.answer});
    // A record cut inside its name follows the good ones in the damaged payload.
    const std::string cut = std::string("\x30\0zz", 4) + std::string(4, '\0');
    InstallUpdater(dir_ + "/updater.exe",
                   c.exe == Damaged ? Payload(c.files, false) + cut : Payload(c.files));
    if (c.exe == Missing) fake::SetModulePath(dir_ + "/nothing-here.exe");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(ExitCodeOf([] { shell::RunUpdater(); }), c.code);
    EXPECT_EQ(BoxTexts(), c.box.empty() ? Names{} : Names{c.box});
    for (const auto& b : fake::Boxes()) {
      EXPECT_EQ(std::tie(b.caption, b.owner, b.style),
                std::make_tuple(c.caption, plat::Window{}, c.answer ? 0x15u : 0x10u));
    }
    EXPECT_EQ(fake::Clipboard(), c.copied ? c.box : "untouched");
    const std::string work = dir_ + "/tmp/TempGPInstallFolder_000000099";
    EXPECT_EQ(PathExists(work), c.workLeft);
    EXPECT_EQ(CurrentFolder(), c.workLeft ? work : dir_);
    EXPECT_EQ(fake::MutexNames(),
              c.files.size() && c.files[0].data == env ? Names{"ゲーム アップデータ"} : Names{});
    auto run = fake::ExitActionsRun();
    ASSERT_EQ(run.size(), c.actions);
    if (!run.empty()) { EXPECT_EQ(run.back(), &plat::CoUninit); }
    if (run.size() == 2) { EXPECT_EQ(run[0], &config::FreeSetupConfig); }
  }
}

}  // namespace
