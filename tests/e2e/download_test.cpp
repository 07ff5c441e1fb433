// An updater as a download leaves it: beside other files of the downloads folder (a DLL with a
// system name among them), and signed by its vendor.
#include <gtest/gtest.h>

#include <cstdlib>

#include "harness.h"
#include "resource.h"

using namespace e2e;

namespace {

const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";
const char kTitle[] = "テストゲーム アップデータ";
const char kReadme[] = "説明書";
constexpr int kExitButton = IDC_MENU_SLOT0;

// The folder of this test program, where the build leaves the planted DLL.
std::string OwnFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\'));
}

std::string UnixPath(const std::string& z) {  // "Z:\a\b" -> "/a/b"
  std::string p = z.substr(2);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

// Signs in.exe into out.exe through tests/e2e/sign-updater.sh; its exit code, -1 when it did
// not start or finish.
int Sign(const std::string& in, const std::string& out) {
  const std::string rc = out + ".rc";
  std::string cmd = "Z:\\bin\\bash \"" + UnixPath(Env("KOVELA_SOURCE")) + "/tests/e2e/sign-updater.sh\" \"" +
                    UnixPath(in) + "\" \"" + UnixPath(out) + "\" \"" + UnixPath(rc) + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);
  for (int i = 0; i < 600 && !Exists(rc); ++i) Sleep(100);
  return Exists(rc) ? std::atoi(ReadFile(rc).c_str()) : -1;
}

// Starts the updater, expects its menu and the start-up files in the one work folder, and
// leaves through the exit button.
void ExpectMenuAndStartupFiles(const std::string& exe, const std::string& dir) {
  Process p = Launch(exe, dir + "\\temp");
  Box menu = WaitForBox(p.pi.dwProcessId, 15000, kTitle);
  ASSERT_TRUE(menu.hwnd && GetDlgItem(menu.hwnd, kExitButton)) << "no menu";
  std::vector<std::string> work = WorkFolders(dir + "\\temp");
  ASSERT_EQ(work.size(), 1u);
  EXPECT_EQ(ReadFile(dir + "\\temp\\" + work[0] + "\\install.env"), kEnv);
  EXPECT_EQ(ReadFile(dir + "\\temp\\" + work[0] + "\\readme.txt"), kReadme);
  Click(menu.hwnd, kExitButton);
  EXPECT_EQ(WaitExit(p), 0u);
}

std::vector<Item> Items() {
  return {File("install.env", kEnv),
          File("insttscr.rct", RctFromPixels(8, 8, [](int x, int y) { return x * y * 999u; })),
          File("readme.txt", kReadme), File("data.bin", "x")};
}

}  // namespace

// A winmm.dll beside the updater is never loaded, even when the loader looks in the program's
// folder first, as Windows does (Wine keeps to its own copy unless told so for updater.exe).
// Loaded, the planted DLL would leave a marker beside itself.
TEST(Download, PlantedSystemDllIsNotLoaded) {
  std::string dir = CaseFolder("planted-dll");
  std::string exe = MakeUpdater(dir, Items());
  ASSERT_TRUE(CopyFileA((OwnFolder() + "\\planted-winmm.dll").c_str(), (dir + "\\winmm.dll").c_str(), FALSE));
  RegPut(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\updater.exe\\DllOverrides", "winmm",
         "native,builtin");
  ExpectMenuAndStartupFiles(exe, dir);
  DeleteSoftwareKey("Wine\\AppDefaults\\updater.exe");
  EXPECT_FALSE(Exists(dir + "\\planted-dll-loaded"));
}

// Signed with osslsigncode and a throw-away certificate, the updater still finds its payload:
// the trailer now stands before the certificate table.
TEST(Download, SignedUpdaterStarts) {
  std::string dir = CaseFolder("signed");
  std::string payload = PayloadBytes(Items());
  const std::size_t stub = ReadFile(Env("KOVELA_STUB")).size();
  payload.append((8 - (stub + payload.size() + 4) % 8) % 8, '\0');  // as mkupdater aligns it
  std::string plain = MakeUpdater(dir + "\\plain", payload), exe = dir + "\\updater.exe";
  ASSERT_EQ(Sign(plain, exe), 0);
  ASSERT_GT(ReadFile(exe).size(), ReadFile(plain).size() + 1000);
  ExpectMenuAndStartupFiles(exe, dir);
}
