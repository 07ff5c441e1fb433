#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container_writer.h"

namespace e2e {

Item File(const std::string& name, const std::string& data, std::uint64_t time) {
  return Item{name, false, data, time};
}
Item Folder(const std::string& name) { return Item{name, true, "", 0}; }

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

static void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA((path + "\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string n = d.cFileName;
      if (n == "." || n == "..") continue;
      std::string p = path + "\\" + n;
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(p);
      } else {
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(p.c_str());
      }
    } while (FindNextFileA(h, &d));
    FindClose(h);
  }
  RemoveDirectoryA(path.c_str());
}

std::string CaseFolder(const std::string& name) {
  std::string f = Env("KOVELA_CASES") + "\\" + name;
  RemoveTree(f);
  CreateDirectoryA(f.c_str(), nullptr);
  CreateDirectoryA((f + "\\temp").c_str(), nullptr);
  return f;
}

std::string PayloadBytes(const std::vector<Item>& items, bool withEnd) {
  std::FILE* t = std::tmpfile();
  for (const Item& it : items) {
    if (it.folder) {
      mkupdater::WriteFolderRecord(t, it.name);
    } else {
      std::vector<std::uint8_t> d(it.data.begin(), it.data.end());
      mkupdater::WriteFileRecord(t, it.name, d, it.time, 9);
    }
  }
  if (withEnd) {
    const char end[4] = {0, 0, 0, 0};
    std::fwrite(end, 1, 4, t);
  }
  long n = std::ftell(t);
  std::string s(static_cast<std::size_t>(n), '\0');
  std::rewind(t);
  if (n > 0 && std::fread(&s[0], 1, s.size(), t) != s.size()) s.clear();
  std::fclose(t);
  return s;
}

std::string MakeUpdaterRaw(const std::string& folder, const std::string& payload) {
  std::string stub = ReadFile(Env("KOVELA_STUB"));
  std::string exe = folder + "\\updater.exe";
  std::FILE* f = std::fopen(exe.c_str(), "wb");
  std::fwrite(stub.data(), 1, stub.size(), f);
  std::fwrite(payload.data(), 1, payload.size(), f);
  std::uint32_t off = static_cast<std::uint32_t>(stub.size());
  unsigned char t[4] = {static_cast<unsigned char>(off), static_cast<unsigned char>(off >> 8),
                        static_cast<unsigned char>(off >> 16), static_cast<unsigned char>(off >> 24)};
  std::fwrite(t, 1, 4, f);
  std::fclose(f);
  return exe;
}

std::string MakeUpdater(const std::string& folder, const std::vector<Item>& items) {
  return MakeUpdaterRaw(folder, PayloadBytes(items));
}

Process Launch(const std::string& exe, const std::string& tempFolder) {
  // The environment of this process with TEMP and TMP pointing at the case's own folder.
  std::string env;
  char* block = GetEnvironmentStringsA();
  for (char* p = block; *p; p += std::strlen(p) + 1) {
    std::string v = p;
    if (_strnicmp(p, "TEMP=", 5) == 0 || _strnicmp(p, "TMP=", 4) == 0) continue;
    env += v;
    env.push_back('\0');
  }
  FreeEnvironmentStringsA(block);
  std::string t = tempFolder;
  env += "TEMP=" + t;
  env.push_back('\0');
  env += "TMP=" + t;
  env.push_back('\0');
  env.push_back('\0');

  Process p;
  p.temp = tempFolder;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string cmd = "\"" + exe + "\"";
  std::string dir = exe.substr(0, exe.find_last_of('\\'));
  if (!CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, &env[0], dir.c_str(),
                      &si, &p.pi))
    std::fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
  return p;
}

DWORD WaitExit(Process& p, DWORD ms) {
  if (!p.pi.hProcess) return 0x7FFFFFFF;
  DWORD code = 0x7FFFFFFF;
  if (WaitForSingleObject(p.pi.hProcess, ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(p.pi.hProcess, &code);
  } else {
    TerminateProcess(p.pi.hProcess, 0x7FFFFFFF);
    WaitForSingleObject(p.pi.hProcess, 5000);
  }
  CloseHandle(p.pi.hProcess);
  CloseHandle(p.pi.hThread);
  p.pi = PROCESS_INFORMATION{};
  return code;
}

namespace {
struct Search {
  DWORD pid;
  const char* title;
  HWND except;
  HWND found;
};
BOOL CALLBACK FindDialog(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (pid != s->pid || w == s->except || std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(w))
    return TRUE;
  if (s->title) {
    char t[512] = {};
    GetWindowTextA(w, t, sizeof t);
    if (std::strcmp(t, s->title) != 0) return TRUE;
  }
  s->found = w;
  return FALSE;
}
std::string Text(HWND w) {
  char t[2048] = {};
  if (w) GetWindowTextA(w, t, sizeof t);
  return t;
}
}  // namespace

Box WaitForBox(DWORD pid, DWORD ms, const char* title, HWND except) {
  Box b;
  for (DWORD waited = 0; waited <= ms; waited += 50) {
    Search s{pid, title, except, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
    if (s.found) {
      Sleep(200);  // let it paint before anyone looks at it
      b.hwnd = s.found;
      b.caption = Text(s.found);
      b.text = Text(GetDlgItem(s.found, 0xFFFF));
      b.owner = GetWindow(s.found, GW_OWNER);
      return b;
    }
    Sleep(50);
  }
  return b;
}

void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ClipboardText() {
  std::string s;
  for (int i = 0; i < 20 && !OpenClipboard(nullptr); ++i) Sleep(50);
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(h))) {
      s = p;
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return s;
}

void Screenshot(const std::string& name) {
  Sleep(500);  // let the windows settle on the X screen
  std::string request = Env("KOVELA_SHOTS") + "\\" + name + ".request";
  if (std::FILE* f = std::fopen(request.c_str(), "wb")) std::fclose(f);
  for (int i = 0; i < 400 && Exists(request); ++i) Sleep(50);
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::string n = d.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(h, &d));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const std::string& path) {
  std::string s;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace e2e
