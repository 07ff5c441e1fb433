// The host on Windows: UTF-8 paths become UTF-16 at every call (CreateFileW, FindFirstFileW,
// _wfopen), so no name depends on the system's ANSI code page; code page 932 through
// WideCharToMultiByte with no best-fit guessing.
#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstring>

#include "host.h"

namespace host {
namespace {

DWORD g_error = 0;  // the last failed Win32 call's code; 0 when the C library's errno tells

std::wstring Wide(const std::string& utf8, UINT codePage = CP_UTF8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                              nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
  return w;
}

// A path for the wide calls: '/' becomes '\'; long and relative paths are left as they are.
std::wstring WidePath(const std::string& utf8) {
  std::wstring w = Wide(utf8);
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

std::string Narrow(const wchar_t* w, std::size_t n, UINT codePage, bool* lossy) {
  if (n == 0) return std::string();
  BOOL usedDefault = FALSE;
  bool utf8 = codePage == CP_UTF8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  int len = WideCharToMultiByte(codePage, flags, w, static_cast<int>(n), nullptr, 0, nullptr,
                                utf8 ? nullptr : &usedDefault);
  std::string s(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
  if (len > 0)
    WideCharToMultiByte(codePage, flags, w, static_cast<int>(n), &s[0], len, nullptr,
                        utf8 ? nullptr : &usedDefault);
  *lossy = len <= 0 || usedDefault;
  return s;
}

std::uint64_t Ticks(const FILETIME& t) {
  return static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

int Failed() {
  g_error = GetLastError();
  return -1;
}

}  // namespace

int ListFolder(const std::string& path, std::vector<DirEntry>* out) {
  out->clear();
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((WidePath(path) + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : Failed();
  do {
    if (!std::wcscmp(fd.cFileName, L".") || !std::wcscmp(fd.cFileName, L"..")) continue;
    bool lossy = false;
    DirEntry e;
    e.name = Narrow(fd.cFileName, std::wcslen(fd.cFileName), CP_UTF8, &lossy);
    e.folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.regular = !e.folder && !(fd.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
    e.size = static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
    e.time = Ticks(fd.ftLastWriteTime);
    if (lossy) e.name = "?";  // a name that is not even valid UTF-16: refused as having no CP932 form
    out->push_back(e);
  } while (FindNextFileW(h, &fd));
  DWORD end = GetLastError();
  ::FindClose(h);
  if (end != ERROR_NO_MORE_FILES) {
    g_error = end;
    return -1;
  }
  return 0;
}

std::string LastError() {
  if (g_error == 0) return std::strerror(errno);
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      g_error, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  bool lossy = false;
  std::string s = n ? Narrow(text, n, CP_UTF8, &lossy) : "error " + std::to_string(g_error);
  LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  g_error = 0;
  return s;
}

std::FILE* Open(const std::string& path, const char* mode) {
  g_error = 0;
  return _wfopen(WidePath(path).c_str(), Wide(mode).c_str());
}

bool IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int MakeFolder(const std::string& path) {
  if (CreateDirectoryW(WidePath(path).c_str(), nullptr) || IsFolder(path)) return 0;
  return Failed();
}

int Remove(const std::string& path) { return DeleteFileW(WidePath(path).c_str()) ? 0 : Failed(); }

int Rename(const std::string& from, const std::string& to) {
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : Failed();
}

void MarkExecutable(const std::string&) {}

std::string CurrentFolder() {
  wchar_t buf[32768];
  DWORD n = GetCurrentDirectoryW(32768, buf);
  bool lossy = false;
  return n > 0 && n < 32768 ? Narrow(buf, n, CP_UTF8, &lossy) : std::string();
}

int ChangeFolder(const std::string& path) {
  return SetCurrentDirectoryW(WidePath(path).c_str()) ? 0 : Failed();
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

bool Utf8ToCp932(const std::string& in, std::string* out) {
  std::wstring w = Wide(in);
  if (w.empty() != in.empty()) return false;
  bool lossy = false;
  std::string s = Narrow(w.data(), w.size(), 932, &lossy);
  if (lossy) return false;
  *out = s;
  return true;
}

bool Cp932ToUtf8(const std::string& in, std::string* out) {
  std::wstring w = Wide(in, 932);
  if (w.empty() != in.empty()) return false;
  bool lossy = false;
  std::string s = Narrow(w.data(), w.size(), CP_UTF8, &lossy);
  if (lossy) return false;
  *out = s;
  return true;
}

}  // namespace host
