// Win32 implementation of the platform seam: the product's calls into Windows.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/files_win32.h"
#include "platform/platform.h"

namespace plat {

std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

// ---- Writing files --------------------------------------------------------------------------
namespace {

// The path as the wide calls take it: converted as the ANSI calls convert it (the system's
// code page), and an absolute path too long for those calls behind the \\?\ prefix, which
// also wants its separators as backslashes.
struct WidePath {
  static constexpr int kLongest = 2 * MAX_PATH;
  wchar_t text[4 + kLongest + 1];
  bool ok = false;
  // limit: the longest path the call takes without the prefix (a folder to be made: 12 less).
  explicit WidePath(const char* path, int limit = MAX_PATH) {
    wchar_t* p = text + 4;
    const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, p, kLongest + 1);  // with the NUL
    const int length = n - 1;
    if (n > 0 && length < limit) {
      std::memmove(text, p, n * sizeof(wchar_t));
      ok = true;
    } else if (n > 0 && length > 2 && p[1] == L':' && (p[2] == L'\\' || p[2] == L'/')) {
      std::memcpy(text, L"\\\\?\\", 4 * sizeof(wchar_t));
      for (wchar_t* c = p; *c; ++c)
        if (*c == L'/') *c = L'\\';
      ok = true;
    } else {
      text[0] = L'\0';
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
  }
};

}  // namespace

OutFile* CreateOutFile(const char* path) {
  WidePath w(path);
  if (!w.ok) return win32::NoteLastError(), nullptr;
  HANDLE h = CreateFileW(w.text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::NoteLastError(), nullptr;
  return reinterpret_cast<OutFile*>(h);
}

int FlushVolume(const char* folder) {
  if (!folder[0] || folder[1] != ':') {
    SetLastError(ERROR_INVALID_DRIVE);
    return win32::NoteLastError();
  }
  const char volume[] = {'\\', '\\', '.', '\\', folder[0], ':', '\0'};
  HANDLE h = CreateFileA(volume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::NoteLastError();
  BOOL ok = FlushFileBuffers(h);
  CloseHandle(h);
  return ok ? 0 : win32::NoteLastError();
}

namespace {

// The native rename of an open file (FileRenameInformation), which every Windows NT has; the
// names of the structure are the system's own.
struct FileRenameInformation {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;
  WCHAR FileName[1];
};
struct IoStatusBlock {
  LONG status;
  ULONG_PTR information;
};
using NtSetInformationFileFn = LONG(WINAPI*)(HANDLE, IoStatusBlock*, void*, ULONG, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);
constexpr ULONG kFileRenameInformation = 10;

template <typename F>
F NtFunction(const char* name) {
  HMODULE nt = GetModuleHandleA("ntdll.dll");
  return nt ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(nt, name))) : nullptr;
}

}  // namespace

int RenameOutFile(OutFile* f, const char* to) {
  static const auto setInformation = NtFunction<NtSetInformationFileFn>("NtSetInformationFile");
  static const auto toDosError = NtFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  WidePath w(to);
  const wchar_t* name = w.text[0] == L'\\' ? w.text + 4 : w.text;  // without a \\?\ prefix
  if (!w.ok || !setInformation || !toDosError || name[1] != L':') {
    SetLastError(w.ok ? ERROR_INVALID_FUNCTION : ERROR_FILENAME_EXCED_RANGE);
    return win32::NoteLastError();
  }
  // The new name as the system's own form of a path: \??\C:\...
  const std::size_t length = 4 + std::wcslen(name);
  union {
    FileRenameInformation info;
    unsigned char bytes[sizeof(FileRenameInformation) + (4 + 2 * MAX_PATH) * sizeof(WCHAR)];
  } buffer = {};
  std::memcpy(buffer.info.FileName, L"\\??\\", 4 * sizeof(WCHAR));
  std::memcpy(buffer.info.FileName + 4, name, (length - 4) * sizeof(WCHAR));
  buffer.info.ReplaceIfExists = FALSE;
  buffer.info.FileNameLength = static_cast<ULONG>(length * sizeof(WCHAR));
  IoStatusBlock io = {};
  LONG status =
      setInformation(reinterpret_cast<HANDLE>(f), &io, &buffer.info, sizeof buffer, kFileRenameInformation);
  if (status >= 0) return 0;
  SetLastError(toDosError(status));
  return win32::NoteLastError();
}

PathKind QueryPath(const char* path) {
  WidePath w(path);
  DWORD a = w.ok ? GetFileAttributesW(w.text) : INVALID_FILE_ATTRIBUTES;
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  return (a & FILE_ATTRIBUTE_READONLY) ? PathKind::ReadOnlyFile : PathKind::File;
}

int RenamePath(const char* from, const char* to) {
  WidePath a(from), b(to);
  if (!a.ok || !b.ok) return win32::NoteLastError();
  return MoveFileExW(a.text, b.text, MOVEFILE_WRITE_THROUGH) ? 0 : win32::NoteLastError();
}

int DeletePath(const char* path) {
  WidePath w(path);
  if (!w.ok) return win32::NoteLastError();
  return DeleteFileW(w.text) ? 0 : win32::NoteLastError();
}

int SetFolderWriteTime(const char* path, std::uint64_t ft) {
  WidePath w(path);
  if (!w.ok) return win32::NoteLastError();
  HANDLE h =
      CreateFileW(w.text, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::NoteLastError();
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(ft);
  t.dwHighDateTime = static_cast<DWORD>(ft >> 32);
  BOOL ok = SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
  return ok ? 0 : win32::NoteLastError();
}

int FreeSpace(const char* folder, std::uint64_t* freeBytes, std::uint32_t* clusterBytes) {
  ULARGE_INTEGER avail, total, totalFree;
  if (!GetDiskFreeSpaceExA(folder, &avail, &total, &totalFree)) return win32::NoteLastError();
  *freeBytes = avail.QuadPart;
  // The allocation unit of the folder's volume; 4 KiB when the root cannot be told.
  *clusterBytes = 4096;
  char root[4] = {folder[0], ':', '\\', '\0'};
  DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
  if (folder[0] && folder[1] == ':' && GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &clusters) &&
      sectors && bytes)
    *clusterBytes = sectors * bytes;
  return 0;
}
// Folders take the wide calls too: a new folder is staged under a longer name.
int MakeFolder(const char* path) {
  WidePath w(path, MAX_PATH - 12);
  return w.ok && CreateDirectoryW(w.text, nullptr) ? 0 : -1;
}

int RemoveFolder(const char* path) {
  WidePath w(path);
  return w.ok && RemoveDirectoryW(w.text) ? 0 : -1;
}
int RemoveFile(const char* path) { return DeleteFileA(path) ? 0 : -1; }

int GetFileWriteTime(const char* path, std::uint64_t* ft) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &d)) return -1;
  *ft = (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
  return 0;
}

namespace {
void ToRecord(const WIN32_FIND_DATAA& d, FindRecord* out) {
  std::strncpy(out->name, d.cFileName, sizeof out->name - 1);
  out->name[sizeof out->name - 1] = '\0';
  out->folder = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

FindHandle FindFirst(const char* pattern, FindRecord* out) {
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA(pattern, &d);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  ToRecord(d, out);
  return h;
}

bool FindNext(FindHandle h, FindRecord* out) {
  WIN32_FIND_DATAA d;
  if (!FindNextFileA(static_cast<HANDLE>(h), &d)) return false;
  ToRecord(d, out);
  return true;
}

void FindClose(FindHandle h) { ::FindClose(static_cast<HANDLE>(h)); }

namespace {
std::size_t Checked(DWORD n, std::size_t size) { return (n == 0 || n >= size) ? 0 : n; }
}  // namespace

std::size_t GetCurrentFolder(char* buf, std::size_t size) {
  return Checked(GetCurrentDirectoryA(static_cast<DWORD>(size), buf), size);
}
int SetCurrentFolder(const char* path) { return SetCurrentDirectoryA(path) ? 0 : -1; }
std::size_t GetTempFolder(char* buf, std::size_t size) {
  return Checked(GetTempPathA(static_cast<DWORD>(size), buf), size);
}
std::size_t GetModulePath(char* buf, std::size_t size) {
  return Checked(GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(size)), size);
}
std::size_t GetWindowsFolder(char* buf, std::size_t size) {
  return Checked(GetWindowsDirectoryA(buf, static_cast<UINT>(size)), size);
}
namespace {
using TimeGetTime = DWORD(WINAPI*)();

// winmm is not one of the DLLs that Windows always takes from the system folder, so it is not
// imported (a copy beside the updater would be loaded instead) but loaded from there by name:
// with the search flag where the system knows it, else by its full path.
TimeGetTime LoadTimeGetTime() {
  HMODULE m = LoadLibraryExA("winmm.dll", nullptr, 0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (!m) {
    char path[MAX_PATH];
    const char name[] = "\\winmm.dll";
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + sizeof name > MAX_PATH) return nullptr;
    std::memcpy(path + n, name, sizeof name);
    m = LoadLibraryA(path);
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
unsigned DriveType(const char* root) { return GetDriveTypeA(root); }

int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}
void BringToFront(Window w) { SetForegroundWindow(static_cast<HWND>(w)); }
void GetWindowTitle(Window w, char* buf, std::size_t size) {
  if (size == 0) return;
  buf[0] = '\0';
  if (w) GetWindowTextA(static_cast<HWND>(w), buf, static_cast<int>(size));
}

int CopyTextToClipboard(const char* text) {
  std::size_t n = std::strlen(text) + 1;
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n);
  if (!mem) return -1;
  if (void* p = GlobalLock(mem)) {
    std::memcpy(p, text, n);
    GlobalUnlock(mem);
  }
  OpenClipboard(GetActiveWindow());
  EmptyClipboard();
  SetClipboardData(CF_TEXT, mem);
  CloseClipboard();
  return 0;
}

Pumped PumpOne(int* quitCode) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return Pumped::Empty;
  if (msg.message == WM_QUIT) {
    *quitCode = static_cast<int>(msg.wParam);
    return Pumped::Quit;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return Pumped::Dispatched;
}

void OpenWithShell(Window owner, const char* path) {
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0;
  info.hwnd = static_cast<HWND>(owner);
  info.lpVerb = "open";
  info.lpFile = path;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExA(&info);
}

MutexResult CreateOwnedMutex(const char* name) {
  HANDLE h = CreateMutexA(nullptr, TRUE, name);
  DWORD err = GetLastError();
  if (!h) return MutexResult::Failed;
  return err == ERROR_ALREADY_EXISTS ? MutexResult::AlreadyExists : MutexResult::Created;
}

namespace {
HKEY RootKey(RegRoot r) { return r == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
}  // namespace

int RegQuery(RegRoot root, const char* key, std::uint32_t access, const char* name, void* buf,
             std::uint32_t size, std::uint32_t* type, std::uint32_t* length) {
  HKEY k;
  if (RegOpenKeyExA(RootKey(root), key, 0, access, &k) != ERROR_SUCCESS) return -1;
  DWORD t = 0, n = size;
  LONG r = RegQueryValueExA(k, name, nullptr, &t, static_cast<BYTE*>(buf), &n);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS) return -1;
  *type = t;
  *length = n;
  return 0;
}

int RegSetString(RegRoot root, const char* key, const char* name, const char* data) {
  HKEY k;
  if (RegCreateKeyExA(RootKey(root), key, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &k, nullptr) != ERROR_SUCCESS)
    return -1;
  LONG r = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          static_cast<DWORD>(std::strlen(data) + 1));
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? 0 : -1;
}

int WriteIniString(const char* section, const char* key, const char* value, const char* file) {
  return WritePrivateProfileStringA(section, key, value, file) ? 0 : -1;
}

void CoInit() { CoInitialize(nullptr); }
void CoUninit() { CoUninitialize(); }
void AtExit(void (*action)()) { std::atexit(action); }
void Exit(int code) { std::exit(code); }

}  // namespace plat
