// Benchmark driver (not a test), run under Wine by bench/run.py. Times the real updater driven
// like a user, the Windows build of the zlib probe and an NSIS installer, each into a fresh
// folder, and prints one line of key=value figures per run:
//
//   wine_bench updater <updater.exe> <install folder> <temp folder> <runs> [kept]
//     (kept: the install folder is left as the caller filled it, for an update of a release
//     installed before; otherwise it is emptied before each run)
//     menu_ms      process creation to the main menu visible
//     extract_ms   the posted click on the confirmation's "はい" to the finish dialog visible
//     peak_ws_kib  PeakWorkingSetSize at the finish dialog (Wine: VmHWM of the process), and
//                  menu_ws_kib the same when the menu appeared
//   wine_bench startup <updater.exe> <temp folder> <runs>
//     menu_ms and menu_ws_kib alone; the menu is then closed
//   wine_bench probe <zlib_probe.exe> <updater.exe> <destination> <runs>
//     go_ms        "go" written to the started, waiting probe to its result line seen; the
//                  probe's own probe_ms, files and bytes follow
//     wall_ms      process creation to exit
//   wine_bench nsis <installer.exe> <destination> <runs>
//     wall_ms      process creation to exit of "<installer> /S /D=<destination>"
//   wine_bench launch <runs>
//     wall_ms      process creation to exit of this program doing nothing: what starting a
//                  process costs, to take off the NSIS time
//
// extract_ms and go_ms are taken alike: this program's clock, started when it sends the
// signal, stopped by the same poll (every 5 ms: the finish dialog, or data on the probe's
// output pipe), so process start-up is outside both and the poll's delay is in both.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness.h"
#include "resource.h"

namespace {

const char kRegGlobal[] = "KovelaBench";
const char kRegLocal[] = "Bench";
const char kFinishTitle[] = "インストール終了";
constexpr DWORD kPollMs = 5;
constexpr DWORD kTimeoutMs = 600000;

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

void Fresh(const std::string& folder) {
  e2e::RemoveTree(folder);
  CreateDirectoryA(folder.c_str(), nullptr);
}

// The first visible dialog of the process with that title (any when null) other than except.
HWND Poll(DWORD pid, const char* title, HWND except = nullptr) {
  for (double start = Now(); Now() - start < kTimeoutMs; Sleep(kPollMs))
    for (HWND w : e2e::Dialogs(pid, title))
      if (w != except) return w;
  return nullptr;
}

long PeakKiB(HANDLE process) {
  PROCESS_MEMORY_COUNTERS m{};
  m.cb = sizeof m;
  if (!GetProcessMemoryInfo(process, &m, sizeof m)) return -1;
  return static_cast<long>(m.PeakWorkingSetSize / 1024);
}

int RunUpdater(const std::string& exe, const std::string& install, const std::string& temp, int runs,
               bool kept) {
  for (int run = 1; run <= runs; ++run) {
    if (!kept) Fresh(install);
    Fresh(temp);
    e2e::DeleteSoftwareKey(kRegGlobal);
    e2e::WriteInstallRecord(kRegGlobal, kRegLocal, install);
    double t0 = Now();
    e2e::Process p = e2e::Launch(exe, temp);
    DWORD pid = p.pi.dwProcessId;
    HWND menu = Poll(pid, nullptr);
    double tMenu = Now();
    if (!menu) return std::fprintf(stderr, "wine_bench: no menu\n"), 1;
    long menuKiB = PeakKiB(p.pi.hProcess);
    int button = 0;
    for (int id = IDC_MENU_SLOT0; id <= IDC_MENU_SLOT8 && !button; ++id)
      if (e2e::Text(menu, id) == "アップデート") button = id;
    if (!button)
      return std::fprintf(stderr, "wine_bench: no update button in '%s' (%s)\n", e2e::Text(menu).c_str(),
                          e2e::Text(menu, 0xFFFF).c_str()),
             1;
    e2e::Click(menu, button);
    HWND ask = Poll(pid, nullptr, menu);
    if (!ask || e2e::Text(ask, 0xFFFF).find("をアップデートします") == std::string::npos)
      return std::fprintf(stderr, "wine_bench: no confirmation\n"), 1;
    double t1 = Now();
    e2e::Click(ask, IDYES);
    HWND done = Poll(pid, kFinishTitle);
    double t2 = Now();
    if (!done) return std::fprintf(stderr, "wine_bench: no finish dialog\n"), 1;
    long peakKiB = PeakKiB(p.pi.hProcess);
    e2e::Click(done, IDOK);
    DWORD code = e2e::WaitExit(p, 60000);
    std::printf("updater run=%d menu_ms=%.1f extract_ms=%.1f menu_ws_kib=%ld peak_ws_kib=%ld exit=%lu\n", run,
                tMenu - t0, t2 - t1, menuKiB, peakKiB, static_cast<unsigned long>(code));
    std::fflush(stdout);
  }
  return 0;
}

int RunStartup(const std::string& exe, const std::string& temp, int runs) {
  for (int run = 1; run <= runs; ++run) {
    Fresh(temp);
    double t0 = Now();
    e2e::Process p = e2e::Launch(exe, temp);
    HWND menu = Poll(p.pi.dwProcessId, nullptr);
    double tMenu = Now();
    if (!menu) return std::fprintf(stderr, "wine_bench: no menu\n"), 1;
    long menuKiB = PeakKiB(p.pi.hProcess);
    PostMessageA(menu, WM_CLOSE, 0, 0);
    DWORD code = e2e::WaitExit(p, 60000);
    std::printf("startup run=%d menu_ms=%.1f menu_ws_kib=%ld exit=%lu\n", run, tMenu - t0, menuKiB,
                static_cast<unsigned long>(code));
    std::fflush(stdout);
  }
  return 0;
}

// Runs the command line to its end with this program's standard handles; wall time in ms, or
// -1 when it failed.
double Timed(const std::string& exe, std::string cmd) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE h : {si.hStdOutput, si.hStdError})
    SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  std::fflush(stdout);
  PROCESS_INFORMATION pi{};
  double t0 = Now();
  if (!CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  double t1 = Now();
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code == 0 ? t1 - t0 : -1;
}

int RunProgram(const char* kind, const std::string& exe, const std::string& args, const std::string& dest,
               int runs) {
  for (int run = 1; run <= runs; ++run) {
    if (!dest.empty()) Fresh(dest);
    double ms = Timed(exe, "\"" + exe + "\" " + args);
    if (ms < 0) return std::fprintf(stderr, "wine_bench: %s failed\n", kind), 1;
    std::printf("%s run=%d wall_ms=%.1f\n", kind, run, ms);
    std::fflush(stdout);
  }
  return 0;
}

// Reads the pipe up to a line feed or its end; the line without its CR LF.
std::string ReadLine(HANDLE pipe) {
  std::string line;
  char c;
  DWORD n;
  while (ReadFile(pipe, &c, 1, &n, nullptr) && n == 1 && c != '\n')
    if (c != '\r') line += c;
  return line;
}

// The probe is started with "wait": it says "ready" once loaded and starts on a line from its
// standard input, so that its process start-up stays out of the time as the updater's does.
int RunProbe(const std::string& probe, const std::string& exe, const std::string& dest, int runs) {
  for (int run = 1; run <= runs; ++run) {
    Fresh(dest);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &sa, 0) || !CreatePipe(&outRead, &outWrite, &sa, 0))
      return std::fprintf(stderr, "wine_bench: no pipe\n"), 1;
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string cmd = "\"" + probe + "\" \"" + exe + "\" \"" + dest + "\" wait";
    PROCESS_INFORMATION pi{};
    double t0 = Now();
    if (!CreateProcessA(probe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
      return std::fprintf(stderr, "wine_bench: cannot start the probe\n"), 1;
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (ReadLine(outRead) != "ready") return std::fprintf(stderr, "wine_bench: the probe is not ready\n"), 1;
    DWORD n;
    double t1 = Now();
    WriteFile(inWrite, "go\n", 3, &n, nullptr);
    DWORD avail = 0;
    while (PeekNamedPipe(outRead, nullptr, 0, nullptr, &avail, nullptr) && avail == 0) Sleep(kPollMs);
    double t2 = Now();
    std::string result = ReadLine(outRead);
    WaitForSingleObject(pi.hProcess, INFINITE);
    double t3 = Now();
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    for (HANDLE h : {inWrite, outRead, pi.hProcess, pi.hThread}) CloseHandle(h);
    if (code != 0 || result.compare(0, 9, "probe_ms=") != 0)
      return std::fprintf(stderr, "wine_bench: the probe failed\n"), 1;
    std::printf("probe run=%d go_ms=%.1f wall_ms=%.1f %s\n", run, t2 - t1, t3 - t0, result.c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "updater" && (argc == 6 || (argc == 7 && std::string(argv[6]) == "kept")))
    return RunUpdater(argv[2], argv[3], argv[4], std::atoi(argv[5]), argc == 7);
  if (cmd == "startup" && argc == 5) return RunStartup(argv[2], argv[3], std::atoi(argv[4]));
  if (cmd == "probe" && argc == 6) return RunProbe(argv[2], argv[3], argv[4], std::atoi(argv[5]));
  if (cmd == "nsis" && argc == 5)
    return RunProgram("nsis", argv[2], std::string("/S /D=") + argv[3], argv[3], std::atoi(argv[4]));
  if (cmd == "launch" && argc == 3) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return RunProgram("launch", self, "noop", "", std::atoi(argv[2]));
  }
  if (cmd == "noop") return 0;
  std::fprintf(stderr,
               "usage: wine_bench updater <updater.exe> <install folder> <temp folder> <runs> [kept]\n"
               "       wine_bench startup <updater.exe> <temp folder> <runs>\n"
               "       wine_bench probe <zlib_probe.exe> <updater.exe> <destination> <runs>\n"
               "       wine_bench nsis <installer.exe> <destination> <runs>\n"
               "       wine_bench launch <runs>\n");
  return 2;
}
