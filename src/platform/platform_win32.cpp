// Win32 implementation of the platform seam: the updater's calls into Windows beyond the file
// calls it shares with mkupdater.exe (files_win32.cpp). Every text goes through the code page
// 932 conversion there and a wide ("W") call.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files_win32.h"
#include "platform/platform.h"

namespace plat {

using win32::ToCp932;
using win32::ToWide;

namespace {

// A text for a wide call; an invalid one (which the updater's own texts never are) becomes "".
std::wstring Wide(const char* cp932) {
  std::wstring w;
  ToWide(cp932 ? cp932 : "", &w);
  return w;
}

// The work folder and the folder that was current before it, in the system's own form.
std::wstring g_workFolder, g_startFolder;
bool g_inWorkFolder = false;
HANDLE g_workLock = INVALID_HANDLE_VALUE;
constexpr wchar_t kWorkLock[] = L"\\kovela-run.lock";

// A folder that the system names, without its length limit; "" when it cannot be had.
template <typename Call>
std::wstring SystemFolder(Call call) {
  std::wstring w(MAX_PATH, L'\0');
  DWORD n = call(static_cast<DWORD>(w.size()), &w[0]);
  if (n >= w.size()) {
    w.assign(n + 1, L'\0');
    n = call(static_cast<DWORD>(w.size()), &w[0]);
  }
  if (n == 0 || n >= w.size()) return std::wstring();
  w.resize(n);
  return w;
}

}  // namespace

// ---- The work folder and the running executable ----------------------------------------------

namespace {

// Deletes the plain files of a folder and then the folder (when that leaves it empty).
void RemovePlainFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do
      if (!(d.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        DeleteFileW((folder + L"\\" + d.cFileName).c_str());
    while (FindNextFileW(h, &d));
    ::FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

WorkFolder EnterWorkFolder(const char* name) {
  std::wstring temp = SystemFolder([](DWORD n, wchar_t* b) { return GetTempPathW(n, b); });
  std::wstring leaf;
  if (temp.empty() || !ToWide(name, &leaf)) return WorkFolder::Failed;
  if (temp.back() != L'\\') temp += L'\\';
  const std::wstring work = temp + leaf;
  // Made here, or not taken at all: a folder, file or link that another process left at this
  // name is never entered, written or emptied.
  if (!CreateDirectoryW(work.c_str(), nullptr))
    return GetLastError() == ERROR_ALREADY_EXISTS ? WorkFolder::Exists : WorkFolder::Failed;
  const DWORD attributes = GetFileAttributesW(work.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return WorkFolder::Failed;
  std::wstring start = SystemFolder([](DWORD n, wchar_t* b) { return GetCurrentDirectoryW(n, b); });
  if (!SetCurrentDirectoryW(work.c_str())) {
    RemoveDirectoryW(work.c_str());
    return WorkFolder::Failed;
  }
  g_startFolder = start;
  g_workFolder = work;
  g_inWorkFolder = true;
  // Held until the run ends: a later run that can delete it knows this run is over.
  g_workLock = CreateFileW((work + kWorkLock).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  return WorkFolder::Entered;
}

void RemoveAbandonedWorkFolders(const char* prefix) {
  std::wstring temp = SystemFolder([](DWORD n, wchar_t*b) { return GetTempPathW(n, b); }), wide;
  if (temp.empty() || !ToWide(prefix, &wide)) return;
  if (temp.back() != L'\\') temp += L'\\';
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((temp + wide + L"*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring folder = temp + d.cFileName;
    if ((d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (g_inWorkFolder && lstrcmpiW(folder.c_str(), g_workFolder.c_str()) == 0))
      continue;
    if (DeleteFileW((folder + kWorkLock).c_str())) RemovePlainFolder(folder);
  } while (FindNextFileW(h, &d));
  ::FindClose(h);
}

void LeaveWorkFolder() {
  if (!g_startFolder.empty()) SetCurrentDirectoryW(g_startFolder.c_str());
  if (!g_inWorkFolder) return;
  if (g_workLock != INVALID_HANDLE_VALUE) CloseHandle(g_workLock);
  g_workLock = INVALID_HANDLE_VALUE;
  RemovePlainFolder(g_workFolder);
}

std::FILE* OpenOwnExecutable() {
  std::wstring self = SystemFolder([](DWORD n, wchar_t* b) { return GetModuleFileNameW(nullptr, b, n); });
  return self.empty() ? nullptr : _wfopen(self.c_str(), L"rb");
}

namespace {
using TimeGetTime = DWORD(WINAPI*)();

// winmm is not one of the DLLs that Windows always takes from the system folder, so it is not
// imported (a copy beside the updater would be loaded instead) but loaded from there by name:
// with the search flag where the system knows it, else by its full path.
TimeGetTime LoadTimeGetTime() {
  HMODULE m = LoadLibraryExW(L"winmm.dll", nullptr, 0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (!m) {
    std::wstring path = SystemFolder([](DWORD n, wchar_t* b) { return GetSystemDirectoryW(b, n); });
    if (path.empty()) return nullptr;
    m = LoadLibraryW((path + L"\\winmm.dll").c_str());
  }
  return m ? reinterpret_cast<TimeGetTime>(reinterpret_cast<void*>(GetProcAddress(m, "timeGetTime")))
           : nullptr;
}
}  // namespace

// Both count milliseconds since the system started; GetTickCount only if winmm is missing.
std::uint32_t MillisecondsSinceStart() {
  static const TimeGetTime timeGetTime = LoadTimeGetTime();
  return timeGetTime ? timeGetTime() : GetTickCount();
}

// ---- User interface -----------------------------------------------------------------------

int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned style) {
  return MessageBoxW(static_cast<HWND>(owner), Wide(text).c_str(), Wide(caption).c_str(), style);
}

void BringToFront(Window w) { SetForegroundWindow(static_cast<HWND>(w)); }

void GetWindowTitle(Window w, char* buf, std::size_t size) {
  if (size == 0) return;
  buf[0] = '\0';
  if (!w) return;
  wchar_t title[1024] = {};
  GetWindowTextW(static_cast<HWND>(w), title, 1024);
  ToCp932(title, buf, size);
}

int CopyTextToClipboard(const char* text) {
  const std::wstring w = Wide(text);
  const std::size_t n = (w.size() + 1) * sizeof(wchar_t);
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n);
  if (!mem) return -1;
  if (void* p = GlobalLock(mem)) {
    std::memcpy(p, w.c_str(), n);
    GlobalUnlock(mem);
  }
  OpenClipboard(GetActiveWindow());
  EmptyClipboard();
  SetClipboardData(CF_UNICODETEXT, mem);
  CloseClipboard();
  return 0;
}

Pumped PumpOne(int* quitCode) {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return Pumped::Empty;
  if (msg.message == WM_QUIT) {
    *quitCode = static_cast<int>(msg.wParam);
    return Pumped::Quit;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return Pumped::Dispatched;
}

void OpenWithShell(Window owner, const char* path) {
  std::wstring relative;
  if (!ToWide(path, &relative)) return;
  std::wstring full = SystemFolder(
      [&relative](DWORD n, wchar_t* b) { return GetFullPathNameW(relative.c_str(), n, b, nullptr); });
  std::wstring temp = SystemFolder([](DWORD n, wchar_t* b) { return GetTempPathW(n, b); });
  if (full.empty()) return;
  SHELLEXECUTEINFOW info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0;
  info.hwnd = static_cast<HWND>(owner);
  info.lpVerb = L"open";
  info.lpFile = full.c_str();
  info.lpDirectory = temp.empty() ? nullptr : temp.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
}

// ---- Kernel objects, registry -------------------------------------------------------------

// The name as a Japanese system's CreateMutexA makes it, so that updaters of either kind
// exclude each other there.
MutexResult CreateOwnedMutex(const char* name) {
  std::wstring w;
  if (!ToWide(name, &w)) return MutexResult::Failed;
  HANDLE h = CreateMutexW(nullptr, TRUE, w.c_str());
  DWORD err = GetLastError();
  if (!h) return MutexResult::Failed;
  return err == ERROR_ALREADY_EXISTS ? MutexResult::AlreadyExists : MutexResult::Created;
}

namespace {
HKEY RootKey(RegRoot r) { return r == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
}  // namespace

RegRead RegQuery(RegRoot root, const char* key, std::uint32_t access, const char* name, void* buf,
                 std::uint32_t size, std::uint32_t* type, std::uint32_t* length) {
  std::wstring k, n;
  if (!ToWide(key, &k) || !ToWide(name, &n)) return RegRead::Missing;
  HKEY h;
  if (RegOpenKeyExW(RootKey(root), k.c_str(), 0, access, &h) != ERROR_SUCCESS) return RegRead::Missing;
  // A text takes up to two UTF-16 bytes for each of its code page 932 bytes.
  std::wstring data(size + 1, L'\0');
  DWORD t = 0, bytes = static_cast<DWORD>(size * sizeof(wchar_t));
  LONG r = RegQueryValueExW(h, n.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(&data[0]), &bytes);
  RegCloseKey(h);
  if (r != ERROR_SUCCESS) return RegRead::Missing;
  if (t != REG_SZ) {
    if (bytes > size) return RegRead::Missing;
    std::memcpy(buf, data.data(), bytes);
    *type = t;
    *length = bytes;
    return RegRead::Ok;
  }
  data.resize(bytes / sizeof(wchar_t));
  data.push_back(L'\0');  // a value stored without its terminator gets one
  BOOL usedDefault = FALSE;
  const int needed =
      WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, data.c_str(), -1, nullptr, 0, nullptr, &usedDefault);
  if (needed <= 0 || usedDefault) return needed <= 0 ? RegRead::Missing : RegRead::NotCp932;
  if (static_cast<std::uint32_t>(needed) > size || !ToCp932(data.c_str(), static_cast<char*>(buf), size))
    return RegRead::Missing;
  *type = t;
  *length = static_cast<std::uint32_t>(std::strlen(static_cast<char*>(buf)) + 1);
  return RegRead::Ok;
}

int RegSetString(RegRoot root, const char* key, const char* name, const char* data) {
  std::wstring k, n, d;
  if (!ToWide(key, &k) || !ToWide(name, &n) || !ToWide(data, &d)) return -1;
  HKEY h;
  if (RegCreateKeyExW(RootKey(root), k.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      &h, nullptr) != ERROR_SUCCESS)
    return -1;
  LONG r = RegSetValueExW(h, n.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(d.c_str()),
                          static_cast<DWORD>((d.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
  return r == ERROR_SUCCESS ? 0 : -1;
}

// ---- Process ------------------------------------------------------------------------------

void CoInit() { CoInitialize(nullptr); }
void CoUninit() { CoUninitialize(); }
void AtExit(void (*action)()) { std::atexit(action); }
void Exit(int code) { std::exit(code); }

}  // namespace plat
