// An update that carries only what changed, end to end: release A installed through its full
// updater, then the updater that mkupdater.exe built from A to B; the install folder then
// holds B, and the user's own files.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaDeltaE2E";

DWORD Mkupdater(const std::string& args, const std::string& temp) {  // mkupdater.exe beside the stub
  const std::string stub = Env("KOVELA_STUB");
  Process p = Launch(stub.substr(0, stub.find_last_of('\\')) + "\\mkupdater.exe", temp,
                     "build --quiet --stub \"" + stub + "\" " + args);
  return WaitExit(p, 60000);
}

// Relative name -> hash of the bytes (folders 0), without the updater's own start-up files.
std::map<std::string, std::uint64_t> Contents(const std::string& root) {
  std::map<std::string, std::uint64_t> m;
  for (const auto& [path, e] : Take(root)) m[path.substr(root.size() + 1)] = e.folder ? 0 : e.hash + 1;
  m.erase("install.env");
  m.erase("insttscr.rct");
  return m;
}

}  // namespace

TEST(Delta, InstallAThenTheDeltaToBGivesB) {
  const std::string c = CaseFolder("delta"), app = c + "\\app", temp = c + "\\temp";
  const std::string env =
      std::string("TITLEBAR デルタ\nREG_GLOBAL ") + kGlobal +
      "\nREG_LOCAL Game\nINSTTO DELTA\n[EOF]\n[delfiles_afterinst]\ninstall.env\ninsttscr.rct\n-\n";
  const std::string big = Noise(300000, 1);  // the delta must leave it out to be small
  std::map<std::string, std::string> a = {
      {"install.env", env},
      {"insttscr.rct", RctFromPixels(32, 32, [](int x, int y) { return 0x102030u * (x ^ y); })},
      {"readme.txt", "A"},
      {"game.exe", "game 1.0"},
      {"data\\same.dat", big},
      {"data\\ソ\\old.dat", "old"},
      {"data\\ソ\\kept.dat", "kept"},
      {"gone\\g1.dat", "g1"},
      {"gone\\g2.dat", "g2"}};
  auto b = a;
  b["game.exe"] = "game 1.1";
  b["readme.txt"] = "B";
  b.erase("data\\ソ\\old.dat");
  b.erase("gone\\g1.dat");
  b.erase("gone\\g2.dat");
  b["new\\n.dat"] = "n";
  for (const auto& [name, data] : a) WriteFile(c + "\\A\\" + name, data);
  for (const auto& [name, data] : b) WriteFile(c + "\\B\\" + name, data);
  CopyFileW(Wide(c + "\\A\\data\\same.dat").c_str(), Wide(c + "\\B\\data\\same.dat").c_str(),
            FALSE);  // same time
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, "Game", app);
  WriteFile(app + "\\save\\user.sav", "the player's");
  for (const char* f : {"\\full", "\\full\\temp", "\\delta", "\\delta\\temp"})
    CreateDirectoryW(Wide(c + f).c_str(), nullptr);
  ASSERT_EQ(Mkupdater("--out \"" + c + "\\full\\updater.exe\" \"" + c + "\\A\"", temp), 0u);
  ASSERT_EQ(
      Mkupdater("--base \"" + c + "\\A\" --out \"" + c + "\\delta\\updater.exe\" \"" + c + "\\B\"", temp),
      0u);
  EXPECT_LT(ReadFile(c + "\\delta\\updater.exe").size() + big.size(),
            ReadFile(c + "\\full\\updater.exe").size());

  for (const char* release : {"full", "delta"}) {
    SCOPED_TRACE(release);
    ASSERT_EQ(UpdateWithOk(c + "\\" + release, "デルタ アップデータ", app), 0u);
    auto expected = Contents(c + (release[0] == 'f' ? "\\A" : "\\B")), got = Contents(app);
    EXPECT_EQ(got.erase("save\\user.sav") + got.erase("save"), 2u);  // the player's file stays
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(ReadFile(app + "\\save\\user.sav"), "the player's");
  DeleteSoftwareKey(kGlobal);
}

// A patch of an archive with entries inserted in the middle: applied by the updater to the
// release it was made for it gives B's bytes and time; a copy that differs by one byte is left
// exactly as it was, and the message names the file.
TEST(Delta, PatchAppliesToItsReleaseOnly) {
  const std::string c = CaseFolder("patch"), app = c + "\\app", temp = c + "\\temp";
  const std::string env = std::string("TITLEBAR パッチ\nREG_GLOBAL ") + kGlobal +
                          "\nREG_LOCAL Game\nINSTTO PATCH\n[EOF]\n[delfiles_afterinst]\ninstall.env\n"
                          "insttscr.rct\n-\n";
  const std::string a = Noise(600000, 4), b = a.substr(0, 250000) + Noise(5000, 5) + a.substr(250000);
  const std::string rct = RctFromPixels(16, 16, [](int x, int y) { return 0x010203u * (x + y); });
  for (const auto& [release, data] : {std::make_pair("A", a), std::make_pair("B", b)}) {
    WriteFile(c + "\\" + release + "\\install.env", env);
    WriteFile(c + "\\" + release + "\\insttscr.rct", rct);
    WriteFile(c + "\\" + release + "\\data\\update.arc", data);
  }
  for (const char* f : {"\\patch", "\\patch\\temp"}) CreateDirectoryW(Wide(c + f).c_str(), nullptr);
  ASSERT_EQ(
      Mkupdater("--base \"" + c + "\\A\" --patches --out \"" + c + "\\patch\\updater.exe\" \"" + c + "\\B\"",
                temp),
      0u);
  EXPECT_LT(ReadFile(c + "\\patch\\updater.exe").size(), ReadFile(Env("KOVELA_STUB")).size() + 40000);
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, "Game", app);
  const std::string arc = app + "\\data\\update.arc";
  for (bool right : {false, true}) {
    SCOPED_TRACE(right ? "release A" : "A with one byte changed");
    RemoveTree(app);
    WriteFile(arc, right ? a : a.substr(0, 1000) + "!" + a.substr(1001));
    const Snapshot before = Take(app);
    if (right) {
      ASSERT_EQ(UpdateWithOk(c + "\\patch", "パッチ アップデータ", app), 0u);
      EXPECT_EQ(ReadFile(arc), b);
      EXPECT_EQ(Take(app)[arc].time, Take(c + "\\B")[c + "\\B\\data\\update.arc"].time);
      continue;
    }
    Process p = Launch(c + "\\patch\\updater.exe", temp);
    HWND confirm = nullptr, menu = StartUpdate(p, "パッチ アップデータ", app, IDC_MENU_SLOT1, &confirm);
    ASSERT_TRUE(menu);
    WaitGone(confirm);
    Box box = WaitForBox(p.pi.dwProcessId, 30000, "パッチ アップデータ", menu);  // not the copy window
    EXPECT_NE(box.text.find("ファイル[" + arc + "]が、このアップデートの前提となるバージョンのものと"),
              std::string::npos)
        << box.text;
    EXPECT_EQ(ClipboardText(), box.text);
    Click(box.hwnd, IDOK);
    EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
    EXPECT_EQ(Differences(before, Take(app)), std::vector<std::string>{});
  }
  DeleteSoftwareKey(kGlobal);
}
