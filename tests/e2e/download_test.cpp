// An updater as a download leaves it: beside other files of the downloads folder (a DLL with a
// system name among them), and signed by its vendor.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kEnv[] = "TITLEBAR テストゲーム\nINSTTO TEST_APP\n[EOF]\n";

std::string PayloadOf() {
  return PayloadBytes({File("install.env", kEnv),
                       File("insttscr.rct", RctFromPixels(8, 8, [](int, int) { return 9u; })),
                       File("readme.txt", "説明書"), File("data.bin", "x")});
}

std::string UnixPath(std::string z) {  // "Z:\a\b" -> "/a/b"
  for (char& c : z)
    if (c == '\\') c = '/';
  return z.substr(2);
}

// The menu comes up with the start-up files in its one work folder; its exit button ends the run.
void ExpectMenuAndStartupFiles(const std::string& exe, const std::string& dir) {
  Process p = Launch(exe, dir + "\\temp");
  Box menu = WaitForBox(p.pi.dwProcessId, 15000, "テストゲーム アップデータ");
  ASSERT_TRUE(menu.hwnd && GetDlgItem(menu.hwnd, IDC_MENU_SLOT0)) << "no menu";
  std::vector<std::string> work = WorkFolders(dir + "\\temp");
  ASSERT_EQ(work.size(), 1u);
  EXPECT_EQ(ReadFile(dir + "\\temp\\" + work[0] + "\\install.env"), kEnv);
  EXPECT_EQ(ReadFile(dir + "\\temp\\" + work[0] + "\\readme.txt"), "説明書");
  Click(menu.hwnd, IDC_MENU_SLOT0);
  EXPECT_EQ(WaitExit(p), 0u);
}

}  // namespace

// A winmm.dll beside the updater is never loaded, even when the loader looks in the program's
// folder first, as Windows does (Wine keeps to its own copy unless told so for updater.exe).
// Loaded, the planted DLL (built beside this program) would leave a marker beside itself.
TEST(Download, PlantedSystemDllIsNotLoaded) {
  std::string dir = CaseFolder("planted-dll"), exe = MakeUpdater(dir, PayloadOf());
  ASSERT_TRUE(CopyFileW(Wide(Beside("planted-winmm.dll")).c_str(), Wide(dir + "\\winmm.dll").c_str(), FALSE));
  RegPut(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\updater.exe\\DllOverrides", "winmm",
         "native,builtin");
  ExpectMenuAndStartupFiles(exe, dir);
  DeleteSoftwareKey("Wine\\AppDefaults\\updater.exe");
  EXPECT_FALSE(Exists(dir + "\\planted-dll-loaded"));
}

// Signed with osslsigncode (tests/e2e/sign-updater.sh) and a throw-away certificate, the
// updater still finds its payload: the trailer now stands before the certificate table.
TEST(Download, SignedUpdaterStarts) {
  std::string dir = CaseFolder("signed"), payload = PayloadOf();
  const std::size_t stub = ReadFile(Env("KOVELA_STUB")).size();
  payload.append((8 - (stub + payload.size() + 4) % 8) % 8, '\0');  // as mkupdater aligns it
  const std::string plain = MakeUpdater(dir + "\\plain", payload), exe = dir + "\\updater.exe",
                    rc = exe + ".rc";
  std::wstring cmd =
      Wide("Z:\\bin\\bash \"" + UnixPath(Env("KOVELA_SOURCE")) + "/tests/e2e/sign-updater.sh\" \"" +
           UnixPath(plain) + "\" \"" + UnixPath(exe) + "\" \"" + UnixPath(rc) + "\"");
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  for (int i = 0; i < 600 && !Exists(rc); ++i) Sleep(100);
  ASSERT_EQ(ReadFile(rc).substr(0, 1), "0");
  ASSERT_GT(ReadFile(exe).size(), ReadFile(plain).size() + 1000);
  ExpectMenuAndStartupFiles(exe, dir);
}
