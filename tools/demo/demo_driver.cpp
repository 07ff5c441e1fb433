// The demo's Windows side, run under Wine:
//   demo_driver setup                 installs the old version of the example game
//   demo_driver run <updater.exe>     clicks through the update like a user, with screenshots
//   demo_driver summary               prints what the update changed
// Texts are printed in code page 932; the demo script converts them.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "resource.h"

namespace {

const char kInstall[] = "C:\\Program Files\\KovelaWorks\\HoshiNoToudai";
const char kKey[] = "Software\\KovelaWorks\\HoshiNoToudai";
const char kMenuTitle[] = "星の灯台 アップデータ";

void SetString(HKEY root, const char* name, const char* value) {
  HKEY k;
  if (RegCreateKeyExA(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>(std::strlen(value) + 1));
  RegCloseKey(k);
}

void Put(const std::string& path, const std::string& text) {
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

void Wipe(const std::string& folder) {
  for (const std::string& n : e2e::ListFolder(folder)) {
    std::string p = folder + "\\" + n;
    DWORD a = GetFileAttributesA(p.c_str());
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
      Wipe(p);
      RemoveDirectoryA(p.c_str());
    } else {
      DeleteFileA(p.c_str());
    }
  }
}

int Setup() {
  CreateDirectoryA("C:\\Program Files\\KovelaWorks", nullptr);
  CreateDirectoryA(kInstall, nullptr);
  Wipe(kInstall);
  std::string f = kInstall;
  for (const char* d : {"\\data", "\\data\\scenario", "\\save"}) CreateDirectoryA((f + d).c_str(), nullptr);
  Put(f + "\\toudai.exe", "MZ old program, version 1.05");
  Put(f + "\\readme.txt", "星の灯台 ver1.05\r\n");
  Put(f + "\\data\\scenario\\chapter3.ks", "*chapter3\r\n; the old scene\r\n");
  Put(f + "\\save\\slot1.sav", "a saved game that the update keeps");
  Put(f + "\\save\\autosave.tmp", "temporary");
  Put(f + "\\save\\quick.tmp", "temporary");
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  SetString(HKEY_LOCAL_MACHINE, "IsInst", "1");
  SetString(HKEY_LOCAL_MACHINE, "InstTo", kInstall);
  SetString(HKEY_CURRENT_USER, "Version", "105");
  DeleteFileA("C:\\windows\\toudai.ini");
  // Work folders that an interrupted earlier run left behind.
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  for (const std::string& n : e2e::ListFolder(temp)) {
    if (n.rfind("TempGPInstallFolder_", 0) != 0) continue;
    Wipe(temp + n);
    RemoveDirectoryA((temp + n).c_str());
  }
  // Text documents open in Notepad, as on a desktop.
  HKEY k;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) ==
      ERROR_SUCCESS) {
    RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("txtfile"), 8);
    RegCloseKey(k);
  }
  const char open[] = "notepad.exe \"%1\"";
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, "txtfile\\shell\\open\\command", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &k, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(open), sizeof open);
    RegCloseKey(k);
  }
  std::printf("installed ver1.05 in %s (HKLM record, HKCU Version 105)\n", kInstall);
  return 0;
}

// Waits for a window of the process, takes its picture and says what it is.
e2e::Box Step(DWORD pid, const char* title, const char* shot, DWORD ms = 20000, HWND except = nullptr) {
  e2e::Box b = e2e::WaitForBox(pid, ms, title, except);
  if (!b.hwnd) {
    std::printf("  (no window \"%s\" appeared)\n", title ? title : "");
    return b;
  }
  if (!IsWindow(b.hwnd)) {
    std::printf("  %-18s %s (closed before it could be photographed)\n", shot, title);
    return b;
  }
  e2e::Screenshot(shot);
  std::printf("  %-18s %s%s%s\n", shot, b.caption.c_str(), b.text.empty() ? "" : ": ", b.text.c_str());
  return b;
}

// The example's copy is over in a fraction of a second: the window is caught as soon as it
// shows, given a frame to paint its first file, and the updater is held still while its
// picture is taken.
void ShootWhileCopying(e2e::Process& p, const char* title, const char* shot) {
  HWND w = nullptr;
  for (DWORD start = GetTickCount(); !w && GetTickCount() - start < 20000; Sleep(2)) {
    std::vector<HWND> found = e2e::Dialogs(p.pi.dwProcessId, title);
    if (!found.empty()) w = found[0];
  }
  if (!w) {
    std::printf("  (no window \"%s\" appeared)\n", title);
    return;
  }
  // The opening movie is on its way, and a frame later (the bars and path repaint at most
  // every 100 ms) its path is on the screen.
  for (DWORD start = GetTickCount();
       IsWindow(w) && e2e::Text(w, IDC_PROGRESS_PATH).find("opening.mpg") == std::string::npos &&
       GetTickCount() - start < 5000;)
    Sleep(1);
  Sleep(120);
  SuspendThread(p.pi.hThread);
  if (IsWindow(w) && IsWindowVisible(w)) {
    e2e::Screenshot(shot);
    std::printf("  %-18s %s\n", shot, title);  // no questions to a held window
  } else {
    std::printf("  %-18s %s (closed before it could be photographed)\n", shot, title);
  }
  ResumeThread(p.pi.hThread);
}

int Run(const std::string& exe) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  e2e::Process p = e2e::Launch(exe, temp);
  DWORD pid = p.pi.dwProcessId;
  e2e::Box menu = Step(pid, kMenuTitle, "1-menu");
  if (!menu.hwnd) return 1;
  e2e::Click(menu.hwnd, IDC_MENU_SLOT2);  // アップデート (above the readme button)
  std::string confirm = std::string("[") + kInstall + "]をアップデートします";
  e2e::Box ask = Step(pid, kMenuTitle, "2-confirm", 20000, menu.hwnd);
  if (ask.hwnd && ask.text == confirm) e2e::Click(ask.hwnd, IDYES);
  ShootWhileCopying(p, "ファイルのコピー中...", "3-progress");
  e2e::Box done = Step(pid, "インストール終了", "4-finish");
  if (done.hwnd) {
    SendMessageA(GetDlgItem(done.hwnd, IDC_FINISH_README), BM_SETCHECK, BST_CHECKED, 0);
    e2e::Screenshot("5-finish-ticked");
    e2e::Click(done.hwnd, IDOK);
  }
  Sleep(2500);  // the readme opens in its viewer
  e2e::Screenshot("6-readme");
  DWORD code = e2e::WaitExit(p, 20000);
  std::printf("updater exit code %ld\n", static_cast<long>(code));
  return code == 0 ? 0 : 1;
}

std::string Time(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return "?";
  SYSTEMTIME s;
  FileTimeToSystemTime(&d.ftLastWriteTime, &s);
  char b[40];
  std::snprintf(b, sizeof b, "%04u-%02u-%02u %02u:%02u:%02u UTC", s.wYear, s.wMonth, s.wDay, s.wHour,
                s.wMinute, s.wSecond);
  return b;
}

void ListTree(const std::string& root, const std::string& rel) {
  for (const std::string& n : e2e::ListFolder(rel.empty() ? root : root + "\\" + rel)) {
    std::string r = rel.empty() ? n : rel + "\\" + n;
    std::string p = root + "\\" + r;
    if (GetFileAttributesA(p.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      std::printf("  %-32s (folder)\n", (r + "\\").c_str());
      ListTree(root, r);
    } else {
      WIN32_FILE_ATTRIBUTE_DATA d{};
      GetFileAttributesExA(p.c_str(), GetFileExInfoStandard, &d);
      std::printf("  %-32s %8lu bytes  %s\n", r.c_str(), static_cast<unsigned long>(d.nFileSizeLow),
                  Time(p).c_str());
    }
  }
}

int Summary() {
  std::printf("files in %s:\n", kInstall);
  ListTree(kInstall, "");
  std::printf("INI entries (toudai.ini, section Toudai):\n");
  for (const char* k : {"DataPath", "CdRoot", "Version"}) {
    char v[512] = {};
    GetPrivateProfileStringA("Toudai", k, "(none)", v, sizeof v, "toudai.ini");
    std::printf("  %s=%s\n", k, v);
  }
  std::printf("registry values (HKCU\\%s):\n", kKey);
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
    for (DWORD i = 0;; ++i) {
      char name[256], data[512];
      DWORD nl = sizeof name, dl = sizeof data, type = 0;
      if (RegEnumValueA(k, i, name, &nl, nullptr, &type, reinterpret_cast<BYTE*>(data), &dl) != ERROR_SUCCESS)
        break;
      std::printf("  %s = %s\n", name, type == REG_SZ ? data : "(not text)");
    }
    RegCloseKey(k);
  }
  std::printf("leftovers:\n");
  for (const char* f : {"install.env", "insttscr.rct", "save\\autosave.tmp", "save\\quick.tmp"})
    std::printf("  %-20s %s\n", f, e2e::Exists(std::string(kInstall) + "\\" + f) ? "still there" : "deleted");
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  int left = 0;
  for (const std::string& n : e2e::ListFolder(temp))
    if (n.rfind("TempGPInstallFolder_", 0) == 0) ++left;
  std::printf("work folders left in %s: %d\n", temp, left);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "setup") return Setup();
  if (cmd == "run" && argc > 2) return Run(argv[2]);
  if (cmd == "summary") return Summary();
  std::fprintf(stderr, "usage: demo_driver setup | run <updater.exe> | summary\n");
  return 2;
}
