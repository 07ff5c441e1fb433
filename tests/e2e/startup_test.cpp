// The updater's start-up under Wine: each failure shows its report without an owner or a
// caption, copies it to the clipboard and ends with -1; a section left open keeps the work
// folder on either button, the others take it with them. (Hostile names and trailers are
// tabled with the other hostile containers.)
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

using namespace e2e;

TEST(Startup, FailuresReportAndEndTheRun) {
  const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";
  const char kUnclosed[] = "[設定.env]の[reg]が終了していません";
  const std::string unclosed =
      PayloadBytes({File("install.env", "TITLEBAR テストゲーム\n[reg]\n\"Path\"=\"REP_INSTALL\"\n[EOF]\n")});
  // The whole bootstrap set, then a record whose name runs past the end of the payload.
  const std::string cutShort = PayloadBytes({File("install.env", kEnv), File("insttscr.rct", "RCT"),
                                             File("README.TXT", "read me"), File("update.arc", "x")},
                                            false) +
                               Le(0x40, 2) + "broken";
  const std::string missing =
      "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してくだ"
      "さい。";
  const struct {
    const char* name;
    std::string payload, text;
    int button;
    std::vector<std::string> work;  // the work folder while the box is up, when checked
    bool kept;                      // ... and still after the run
  } cases[] = {{"missing-env",
                PayloadBytes({File("readme.txt", "hello"), File("update.arc", "data")}),
                missing,
                IDOK,
                {},
                false},
               {"damaged",
                cutShort,
                "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。",
                IDOK,
                {"README.TXT", "install.env", "insttscr.rct", "kovela-run.lock"},
                false},
               {"unclosed-retry", unclosed, kUnclosed, IDRETRY, {"install.env", "kovela-run.lock"}, true},
               {"unclosed-cancel", unclosed, kUnclosed, IDCANCEL, {"install.env", "kovela-run.lock"}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(c.name);
    Process p = Launch(MakeUpdater(dir, c.payload), dir + "\\temp");
    Box box = WaitForBox(p.pi.dwProcessId);
    EXPECT_EQ(std::make_tuple(box.text, box.caption, box.owner, ClipboardText()),
              std::make_tuple(c.text, std::string(), HWND{}, c.text));
    std::vector<std::string> work = WorkFolders(dir + "\\temp");
    if (!c.work.empty()) {
      ASSERT_EQ(work.size(), 1u);
      EXPECT_EQ(ListFolder(dir + "\\temp"), work);
      EXPECT_EQ(ListFolder(dir + "\\temp\\" + work[0]), c.work);
    }
    if (c.button != IDCANCEL) Screenshot(std::string("startup-") + c.name);
    Click(box.hwnd, c.button);
    EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
    EXPECT_EQ(ListFolder(dir + "\\temp"), c.kept ? work : std::vector<std::string>{});
    if (c.kept) { EXPECT_EQ(ListFolder(dir + "\\temp\\" + work[0]), c.work); }
  }
}

// A run that was cut off leaves its work folder; the next run removes it, and only it: not the
// folder of a run still going (its lock held), nor one without a lock.
TEST(Startup, AWorkFolderLeftByACutOffRunGoesWithTheNextRun) {
  const std::string dir = CaseFolder("abandoned"), temp = dir + "\\temp";
  const std::string exe = MakeUpdater(dir, PayloadBytes({File("readme.txt", "no install.env")}));
  Process cut = Launch(exe, temp);
  ASSERT_TRUE(WaitForBox(cut.pi.dwProcessId).hwnd);
  const std::vector<std::string> left = WorkFolders(temp);
  ASSERT_EQ(left.size(), 1u);
  WaitExit(cut, 0);  // terminated
  const std::string live = temp + "\\TempGPInstallFolder_000000007",
                    bare = temp + "\\TempGPInstallFolder_000000008";
  WriteFile(live + "\\kovela-run.lock", "");
  WriteFile(bare + "\\a.dat", "a");
  HANDLE held = CreateFileW(Wide(live + "\\kovela-run.lock").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  Process next = Launch(exe, temp);
  ASSERT_TRUE(WaitForBox(next.pi.dwProcessId).hwnd);
  std::vector<std::string> now = WorkFolders(temp);
  EXPECT_EQ(std::count(now.begin(), now.end(), left[0]), 0);
  EXPECT_EQ(now.size(), 3u);  // its own, the live one, the one without a lock
  EXPECT_EQ(ListFolder(live), std::vector<std::string>{"kovela-run.lock"});
  EXPECT_EQ(ListFolder(bare), std::vector<std::string>{"a.dat"});
  CloseHandle(held);
}
