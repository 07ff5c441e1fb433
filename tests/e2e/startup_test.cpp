// The updater's start-up under Wine: the missing-file and damaged-file reports, what they
// leave in the temporary-files folder, and exit codes.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kMissing[] =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してくださ"
    "い。";
const char kDamaged[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";

}  // namespace

// Every start-up failure shows its report without an owner or a caption, copies it to the
// clipboard, ends with -1 and takes the work folder with it. (Hostile names and trailers are
// tabled with the other hostile containers.)
TEST(Startup, FailuresReportAndLeaveNothing) {
  // The whole bootstrap set, then a record whose name runs past the end of the payload.
  const std::string cutShort = PayloadBytes({File("install.env", kEnv), File("insttscr.rct", "RCT"),
                                             File("README.TXT", "read me"), File("update.arc", "x")},
                                            false) +
                               std::string(
                                   "\x40\x00"
                                   "broken",
                                   8);
  const struct {
    const char* name;
    std::string payload;
    const char* text;
    bool bootstrap;  // the work folder holds the bootstrap files while the box is up
  } cases[] = {
      {"missing-env", PayloadBytes({File("readme.txt", "hello"), File("update.arc", "data")}), kMissing,
       false},
      {"damaged", cutShort, kDamaged, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(c.name);
    Process p = Launch(MakeUpdater(dir, c.payload), dir + "\\temp");
    Box box = WaitForBox(p.pi.dwProcessId);
    ASSERT_TRUE(box.hwnd);
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(ClipboardText(), c.text);
    if (c.bootstrap) {
      std::vector<std::string> work = WorkFolders(dir + "\\temp");
      ASSERT_EQ(work.size(), 1u);
      EXPECT_EQ(ListFolder(dir + "\\temp"), work);
      const std::vector<std::string> bootstrap = {"README.TXT", "install.env", "insttscr.rct"};
      EXPECT_EQ(ListFolder(dir + "\\temp\\" + work[0]), bootstrap);
      EXPECT_EQ(ReadFile(dir + "\\temp\\" + work[0] + "\\install.env"), kEnv);
    }
    if (&c - cases < 2) Screenshot(std::string("startup-") + c.name);
    Click(box.hwnd, IDOK);
    EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
    EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
  }
}

// A section left open stops the run on either button, and the work folder stays behind.
TEST(Startup, UnclosedSectionEndsTheRunOnEitherButton) {
  for (int button : {IDRETRY, IDCANCEL}) {
    SCOPED_TRACE(button);
    std::string dir = CaseFolder(button == IDRETRY ? "unclosed-retry" : "unclosed-cancel");
    std::string env = "TITLEBAR テストゲーム\n[reg]\n\"Path\"=\"REP_INSTALL\"\n[EOF]\n";
    Process p = Launch(MakeUpdater(dir, {File("install.env", env)}), dir + "\\temp");
    Box box = WaitForBox(p.pi.dwProcessId);
    ASSERT_TRUE(box.hwnd);
    EXPECT_EQ(box.text, "[設定.env]の[reg]が終了していません");
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(ClipboardText(), box.text);
    if (button == IDRETRY) Screenshot("startup-unclosed-section");
    Click(box.hwnd, button);
    EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
    std::vector<std::string> work = WorkFolders(dir + "\\temp");
    ASSERT_EQ(work.size(), 1u);
    EXPECT_EQ(ListFolder(dir + "\\temp\\" + work[0]), std::vector<std::string>{"install.env"});
  }
}
