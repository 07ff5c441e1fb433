// An update that carries only what changed, end to end: release A installed through its full
// updater, then the updater that mkupdater.exe built from A to B; the install folder then
// holds B, and the user's own files.
#include <gtest/gtest.h>

#include <map>

#include "harness.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaDeltaE2E";

using Tree = std::map<std::string, std::string>;  // relative name -> contents ("\\" ends a folder)

// Contents as their length and an FNV-1a hash, so that a difference prints short.
std::string Digest(const std::string& data) {
  std::uint32_t h = 2166136261u;
  for (unsigned char ch : data) h = (h ^ ch) * 16777619u;
  return std::to_string(data.size()) + ":" + std::to_string(h);
}
Tree Digests(Tree t) {
  for (auto& kv : t) kv.second = Digest(kv.second);
  return t;
}

Tree ReadTree(const std::string& root, const std::string& rel = "") {
  Tree t;
  for (const std::string& n : ListFolder(rel.empty() ? root : root + "\\" + rel)) {
    const std::string r = rel.empty() ? n : rel + "\\" + n;
    const std::string path = root + "\\" + r;
    if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      t[r + "\\"] = "";
      for (auto& kv : ReadTree(root, r)) t.insert(kv);
    } else {
      t[r] = ReadFile(path);
    }
  }
  return t;
}

void WriteTree(const std::string& root, const Tree& t) {
  for (const auto& kv : t) {
    if (kv.first.back() == '\\')
      CreateDirectoryA((root + "\\" + kv.first).c_str(), nullptr);
    else
      WriteFile(root + "\\" + kv.first, kv.second);
  }
}

// Runs mkupdater.exe (beside the updater under test) and returns its exit code.
DWORD Mkupdater(const std::string& args, const std::string& temp) {
  const std::string stub = Env("KOVELA_STUB");
  Process p = Launch(stub.substr(0, stub.find_last_of('\\')) + "\\mkupdater.exe", temp, args);
  return WaitExit(p, 60000);
}

// Through the menu, the confirmation and the finish dialog, as a user does it.
void RunUpdate(const std::string& exe, const std::string& temp) {
  Process p = Launch(exe, temp);
  Box menu = WaitForBox(p.pi.dwProcessId, 15000, "デルタ アップデータ");
  ASSERT_TRUE(menu.hwnd);
  Click(menu.hwnd, 1001);
  Box confirm = WaitForBox(p.pi.dwProcessId, 15000, nullptr, menu.hwnd);
  ASSERT_TRUE(confirm.hwnd);
  Click(confirm.hwnd, IDYES);
  Box finish = WaitForBox(p.pi.dwProcessId, 30000, "インストール終了");
  ASSERT_TRUE(finish.hwnd);
  Click(finish.hwnd, IDOK);
  EXPECT_EQ(WaitExit(p), 0u);
}

}  // namespace

TEST(Delta, InstallAThenTheDeltaToBGivesB) {
  const std::string c = CaseFolder("delta"), app = c + "\\app", temp = c + "\\temp";
  const std::string env =
      std::string("TITLEBAR デルタ\nREG_GLOBAL ") + kGlobal +
      "\nREG_LOCAL Game\nINSTTO DELTA\n[EOF]\n[delfiles_afterinst]\ninstall.env\ninsttscr.rct\n-\n";
  std::string big(300000, '\0');  // does not compress: the delta must leave it out to be small
  std::uint32_t seed = 1;
  for (char& ch : big) ch = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  const Tree a = {{"install.env", env},
                  {"insttscr.rct", RctFromPixels(32, 32, [](int x, int y) { return 0x102030u * (x ^ y); })},
                  {"readme.txt", "A"},
                  {"game.exe", "game 1.0"},
                  {"data\\", ""},
                  {"data\\same.dat", big},
                  {"data\\ソ\\", ""},
                  {"data\\ソ\\old.dat", "old"},
                  {"data\\ソ\\kept.dat", "kept"},
                  {"gone\\", ""},
                  {"gone\\g1.dat", "g1"},
                  {"gone\\g2.dat", "g2"}};
  Tree b = a;
  b["game.exe"] = "game 1.1";
  b["readme.txt"] = "B";
  b.erase("data\\ソ\\old.dat");
  b.erase("gone\\");
  b.erase("gone\\g1.dat");
  b.erase("gone\\g2.dat");
  b["new\\"] = "";
  b["new\\n.dat"] = "n";
  WriteTree(c + "\\A", a);
  WriteTree(c + "\\B", b);
  CopyFileA((c + "\\A\\data\\same.dat").c_str(), (c + "\\B\\data\\same.dat").c_str(),
            FALSE);  // same time too
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, "Game", app);
  WriteFile(app + "\\save\\user.sav", "the player's");
  CreateDirectoryA((c + "\\full").c_str(), nullptr);
  CreateDirectoryA((c + "\\delta").c_str(), nullptr);

  ASSERT_EQ(Mkupdater("build --quiet --stub \"" + Env("KOVELA_STUB") + "\" --out \"" + c +
                          "\\full\\updater.exe\" \"" + c + "\\A\"",
                      temp),
            0u);
  ASSERT_EQ(Mkupdater("build --quiet --stub \"" + Env("KOVELA_STUB") + "\" --base \"" + c + "\\A\" --out \"" +
                          c + "\\delta\\updater.exe\" \"" + c + "\\B\"",
                      temp),
            0u);
  // The delta leaves out the unchanged big file.
  EXPECT_LT(ReadFile(c + "\\delta\\updater.exe").size() + big.size(),
            ReadFile(c + "\\full\\updater.exe").size());

  RunUpdate(c + "\\full\\updater.exe", temp);
  Tree expected = a;
  expected.erase("install.env");
  expected.erase("insttscr.rct");
  expected["save\\"] = "";
  expected["save\\user.sav"] = "the player's";
  EXPECT_EQ(Digests(ReadTree(app)), Digests(expected));

  RunUpdate(c + "\\delta\\updater.exe", temp);
  expected = b;
  expected.erase("install.env");
  expected.erase("insttscr.rct");
  expected["save\\"] = "";
  expected["save\\user.sav"] = "the player's";
  EXPECT_EQ(Digests(ReadTree(app)), Digests(expected));
  DeleteSoftwareKey(kGlobal);
}
