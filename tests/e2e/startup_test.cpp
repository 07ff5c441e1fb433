// The updater's start-up under Wine: bootstrap files, the missing-file and damaged-file
// reports, exit codes and the work folder.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kMissing[] =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";
const char kDamaged[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";

bool IsWorkFolderName(const std::string& n) {
  const std::string prefix = "TempGPInstallFolder_";
  if (n.compare(0, prefix.size(), prefix) != 0) return false;
  std::string num = n.substr(prefix.size());
  if (num.size() < 9) return false;
  for (std::size_t i = 0; i < num.size(); ++i)
    if (!(std::isdigit(static_cast<unsigned char>(num[i])) || (i == 0 && num[i] == '-'))) return false;
  return true;
}

}  // namespace

TEST(Startup, MissingInstallEnvReportsWithoutOwnerAndRemovesWorkFolder) {
  std::string dir = CaseFolder("missing-env");
  std::string exe = MakeUpdater(dir, {File("readme.txt", "hello"), File("update.arc", "data")});
  Process p = Launch(exe, dir + "\\temp");
  Box box = WaitForBox(p.pi.dwProcessId);
  ASSERT_TRUE(box.hwnd);
  EXPECT_EQ(box.text, kMissing);
  EXPECT_EQ(box.caption, "");
  EXPECT_EQ(box.owner, nullptr);
  Screenshot("startup-missing-install-env");
  EXPECT_EQ(ClipboardText(), kMissing);
  Click(box.hwnd, IDOK);
  EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}

TEST(Startup, DamagedPayloadReportsAfterWritingTheBootstrapFiles) {
  std::string dir = CaseFolder("damaged");
  // Whole start-up files, then a record whose name runs past the end of the payload.
  std::string payload = PayloadBytes({File("install.env", kEnv), File("insttscr.rct", "RCT"),
                                      File("README.TXT", "read me"), File("update.arc", "x")},
                                     false);
  payload += std::string("\x40\x00" "broken", 8);
  std::string exe = MakeUpdaterRaw(dir, payload);
  Process p = Launch(exe, dir + "\\temp");
  Box box = WaitForBox(p.pi.dwProcessId);
  ASSERT_TRUE(box.hwnd);
  EXPECT_EQ(box.text, kDamaged);
  EXPECT_EQ(box.caption, "");
  EXPECT_EQ(ClipboardText(), kDamaged);

  // While the box is up the work folder holds what the pass wrote before the damage.
  std::vector<std::string> temp = ListFolder(dir + "\\temp");
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_TRUE(IsWorkFolderName(temp[0])) << temp[0];
  std::vector<std::string> files = ListFolder(dir + "\\temp\\" + temp[0]);
  EXPECT_EQ(files, (std::vector<std::string>{"README.TXT", "install.env", "insttscr.rct"}));
  EXPECT_EQ(ReadFile(dir + "\\temp\\" + temp[0] + "\\install.env"), kEnv);
  Screenshot("startup-damaged-payload");

  Click(box.hwnd, IDOK);
  EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
  EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
}

TEST(Startup, HostileAndCorruptContainersEndWithTheDamagedFileReport) {
  std::string corrupt = PayloadBytes({File("install.env", kEnv)});
  corrupt[2 + 12 + 8 + 8 + 4] ^= 0x55;  // a byte inside the deflate data
  std::string longer = PayloadBytes({File("install.env", kEnv)});
  longer[2 + 12] += 1;  // announces one byte more than the stream inflates to
  struct Case {
    const char* name;
    std::string payload;
    bool rawTrailer;
  } cases[] = {
      {"corrupt-stream", corrupt, false},
      {"size-mismatch", longer, false},
      {"parent-name", PayloadBytes({File("install.env", kEnv), File("..\\evil.txt", "x")}), false},
      {"drive-name", PayloadBytes({File("install.env", kEnv), File("C:\\evil.txt", "x")}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = CaseFolder(c.name);
    std::string exe = MakeUpdaterRaw(dir, c.payload);
    Process p = Launch(exe, dir + "\\temp");
    Box box = WaitForBox(p.pi.dwProcessId);
    ASSERT_TRUE(box.hwnd);
    EXPECT_EQ(box.text, kDamaged);
    Click(box.hwnd, IDOK);
    EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
    EXPECT_TRUE(ListFolder(dir + "\\temp").empty());
    EXPECT_FALSE(Exists(dir + "\\evil.txt"));
  }
}

TEST(Startup, TrailerOutsideTheFileIsDamage) {
  std::string dir = CaseFolder("bad-trailer");
  std::string exe = MakeUpdater(dir, {File("install.env", kEnv)});
  std::FILE* f = std::fopen(exe.c_str(), "r+b");
  std::fseek(f, -4, SEEK_END);
  const unsigned char beyond[4] = {0xF0, 0xFF, 0xFF, 0x7F};
  std::fwrite(beyond, 1, 4, f);
  std::fclose(f);
  Process p = Launch(exe, dir + "\\temp");
  Box box = WaitForBox(p.pi.dwProcessId);
  ASSERT_TRUE(box.hwnd);
  EXPECT_EQ(box.text, kDamaged);
  Click(box.hwnd, IDOK);
  EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
}
