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

// Release B also inserts entries in the middle of an archive: the delta carries a patch of it,
// which gives B's bytes and time on release A, and changes nothing on a copy one byte off.
TEST(Delta, InstallAThenTheDeltaToBGivesB) {
  const std::string c = CaseFolder("delta"), app = c + "\\app", temp = c + "\\temp";
  const std::string env =
      std::string("TITLEBAR デルタ\nREG_GLOBAL ") + kGlobal +
      "\nREG_LOCAL Game\nINSTTO DELTA\n[EOF]\n[delfiles_afterinst]\ninstall.env\ninsttscr.rct\n-\n";
  const std::string big = Noise(300000, 1), arc = Noise(600000, 4);  // the delta leaves out both
  std::map<std::string, std::string> a = {
      {"install.env", env},
      {"insttscr.rct", RctFromPixels(32, 32, [](int x, int y) { return 0x102030u * (x ^ y); })},
      {"readme.txt", "A"},
      {"game.exe", "game 1.0"},
      {"data\\same.dat", big},
      {"data\\update.arc", arc},
      {"data\\ソ\\old.dat", "old"},
      {"data\\ソ\\kept.dat", "kept"},
      {"gone\\g1.dat", "g1"},
      {"gone\\g2.dat", "g2"}};
  auto b = a;
  b["game.exe"] = "game 1.1";
  b["readme.txt"] = "B";
  b["data\\update.arc"] = arc.substr(0, 250000) + Noise(5000, 5) + arc.substr(250000);
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
  EXPECT_LT(ReadFile(c + "\\delta\\updater.exe").size(), ReadFile(Env("KOVELA_STUB")).size() + 40000);

  const std::string installed = app + "\\data\\update.arc";
  for (const char* release : {"full", "one byte off", "delta"}) {
    SCOPED_TRACE(release);
    if (release[0] == 'o') {
      WriteFile(installed, arc.substr(0, 1000) + "!" + arc.substr(1001));
      const Snapshot before = Take(app);
      Process p = Launch(c + "\\delta\\updater.exe", temp);
      HWND confirm = nullptr, menu = StartUpdate(p, "デルタ アップデータ", app, IDC_MENU_SLOT1, &confirm);
      ASSERT_TRUE(menu);
      WaitGone(confirm);
      Box box = WaitForBox(p.pi.dwProcessId, 30000, "デルタ アップデータ", menu);  // not the copy window
      EXPECT_NE(
          box.text.find("ファイル[" + installed + "]が、このアップデートの前提となるバージョンのものと"),
          std::string::npos)
          << box.text;
      EXPECT_EQ(ClipboardText(), box.text);
      Click(box.hwnd, IDOK);
      EXPECT_EQ(WaitExit(p), 0xFFFFFFFFu);
      EXPECT_EQ(Differences(before, Take(app)), std::vector<std::string>{});
      WriteFile(installed, arc);
      continue;
    }
    ASSERT_EQ(UpdateWithOk(c + "\\" + release, "デルタ アップデータ", app), 0u);
    auto expected = Contents(c + (release[0] == 'f' ? "\\A" : "\\B")), got = Contents(app);
    EXPECT_EQ(got.erase("save\\user.sav") + got.erase("save"), 2u);  // the player's file stays
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(Take(app)[installed].time, Take(c + "\\B")[c + "\\B\\data\\update.arc"].time);
  EXPECT_EQ(ReadFile(app + "\\save\\user.sav"), "the player's");
  DeleteSoftwareKey(kGlobal);
}
