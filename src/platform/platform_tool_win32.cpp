// The platform seam's file calls for mkupdater.exe on Windows. The seam speaks code page 932
// whatever the system's ANSI code page is; the product's narrow calls (platform_win32.cpp)
// follow the ANSI code page, so the tool converts every path to UTF-16 and calls the wide
// functions instead. Only what the tool's commands reach is here: extraction and its checks.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/files_win32.h"
#include "platform/platform.h"

namespace {

std::wstring Wide(const char* cp932) {
  int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932, -1, &w[0], n);
  w.resize(static_cast<std::size_t>(n - 1));
  return w;
}

// Code page 932 from UTF-16; false when a character has no form there (no best-fit guess).
bool Narrow(const wchar_t* w, char* out, std::size_t size) {
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w, -1, out, static_cast<int>(size), nullptr,
                              &usedDefault);
  return n > 0 && !usedDefault;
}

}  // namespace

namespace plat {

OutFile* CreateOutFile(const char* path) {
  std::wstring p = Wide(path);
  if (p.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return win32::NoteLastError(), nullptr;
  }
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::NoteLastError(), nullptr;
  return reinterpret_cast<OutFile*>(h);
}

std::FILE* OpenFile(const char* path, const char* mode) {
  std::wstring p = Wide(path), m = Wide(mode);
  return p.empty() ? nullptr : _wfopen(p.c_str(), m.c_str());
}

int MakeFolder(const char* path) {
  std::wstring p = Wide(path);
  return !p.empty() && CreateDirectoryW(p.c_str(), nullptr) ? 0 : -1;
}

int RemoveFolder(const char* path) {
  std::wstring p = Wide(path);
  return !p.empty() && RemoveDirectoryW(p.c_str()) ? 0 : -1;
}

int RemoveFile(const char* path) {
  std::wstring p = Wide(path);
  return !p.empty() && DeleteFileW(p.c_str()) ? 0 : -1;
}

int GetFileWriteTime(const char* path, std::uint64_t* ft) {
  std::wstring p = Wide(path);
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (p.empty() || !GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &d)) return -1;
  *ft = (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
  return 0;
}

// Names without a code page 932 form are passed over, as the product's narrow calls could
// not name them either.
namespace {
bool ToRecord(const WIN32_FIND_DATAW& d, FindRecord* out) {
  out->folder = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return Narrow(d.cFileName, out->name, sizeof out->name);
}
}  // namespace

FindHandle FindFirst(const char* pattern, FindRecord* out) {
  std::wstring p = Wide(pattern);
  WIN32_FIND_DATAW d;
  HANDLE h = p.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(p.c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (ToRecord(d, out) || FindNext(h, out)) return h;
  ::FindClose(h);
  return nullptr;
}

bool FindNext(FindHandle h, FindRecord* out) {
  WIN32_FIND_DATAW d;
  while (FindNextFileW(static_cast<HANDLE>(h), &d))
    if (ToRecord(d, out)) return true;
  return false;
}

void FindClose(FindHandle h) { ::FindClose(static_cast<HANDLE>(h)); }

std::size_t GetCurrentFolder(char* buf, std::size_t size) {
  wchar_t w[kMaxPath];
  DWORD n = GetCurrentDirectoryW(kMaxPath, w);
  if (n == 0 || n >= kMaxPath || !Narrow(w, buf, size)) return 0;
  return std::strlen(buf);
}

int SetCurrentFolder(const char* path) {
  std::wstring p = Wide(path);
  return !p.empty() && SetCurrentDirectoryW(p.c_str()) ? 0 : -1;
}

}  // namespace plat
