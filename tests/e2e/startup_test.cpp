// The updater's start-up under Wine: each failure shows its report without an owner or a
// caption, copies it to the clipboard and ends with -1; a section left open keeps the work
// folder on either button, the others take it with them. (Hostile names and trailers are
// tabled with the other hostile containers.)
#include <gtest/gtest.h>

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
                {"README.TXT", "install.env", "insttscr.rct"},
                false},
               {"unclosed-retry", unclosed, kUnclosed, IDRETRY, {"install.env"}, true},
               {"unclosed-cancel", unclosed, kUnclosed, IDCANCEL, {"install.env"}, true}};
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
