// The seam's file calls on Windows, shared by the updater and mkupdater.exe, and the one
// conversion between code page 932 and UTF-16 that every text crossing into the system takes.
#include "platform/files_win32.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"

namespace plat {
namespace win32 {

bool ToWide(const char* cp932, std::wstring* out) {
  out->clear();
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932, -1, nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<std::size_t>(n));
  if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932, -1, &(*out)[0], n) != n) {
    out->clear();
    return false;
  }
  out->resize(static_cast<std::size_t>(n - 1));  // the terminator stays behind the string's end
  return true;
}

bool ToCp932(const wchar_t* text, char* out, std::size_t size) {
  if (size == 0) return false;
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text, -1, out, static_cast<int>(size), nullptr,
                                    &usedDefault);
  if (n > 0 && !usedDefault) return true;
  out[0] = '\0';
  return false;
}

WidePath::WidePath(const char* path, int limit) {
  text[0] = L'\0';
  wchar_t* p = text + 4;
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, path, -1, p, kLongest + 1);  // with the NUL
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
    SetLastError(n > 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE
                                                                      : ERROR_INVALID_NAME);
  }
}

namespace {
IoError g_ioError = IoError::None;
}  // namespace

int NoteLastError() {
  switch (GetLastError()) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      g_ioError = IoError::DiskFull;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      g_ioError = IoError::Denied;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      g_ioError = IoError::InUse;
      break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      g_ioError = IoError::NotFound;
      break;
    default:
      g_ioError = IoError::Other;
      break;
  }
  return -1;
}

}  // namespace win32

using win32::NoteLastError;
using win32::WidePath;

IoError LastIoError() { return win32::g_ioError; }

namespace {

HANDLE Handle(OutFile* f) { return reinterpret_cast<HANDLE>(f); }

std::uint64_t Ticks(const FILETIME& t) { return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

FILETIME FileTime(std::uint64_t ticks) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(ticks);
  t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return t;
}

}  // namespace

// ---- Files and folders ----------------------------------------------------------------------

std::FILE* OpenFile(const char* path, const char* mode) {
  WidePath p(path);
  std::wstring m;
  if (!p.ok || !win32::ToWide(mode, &m)) return nullptr;
  return _wfopen(p.text, m.c_str());
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

int DeletePath(const char* path) {
  WidePath w(path);
  if (!w.ok) return NoteLastError();
  return DeleteFileW(w.text) ? 0 : NoteLastError();
}

int RemoveFile(const char* path) { return DeletePath(path); }

int GetFileWriteTime(const char* path, std::uint64_t* ft) {
  WidePath w(path);
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!w.ok || !GetFileAttributesExW(w.text, GetFileExInfoStandard, &d)) return -1;
  *ft = Ticks(d.ftLastWriteTime);
  return 0;
}

PathKind QueryPath(const char* path) {
  WidePath w(path);
  DWORD a = w.ok ? GetFileAttributesW(w.text) : INVALID_FILE_ATTRIBUTES;
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  return (a & FILE_ATTRIBUTE_READONLY) ? PathKind::ReadOnlyFile : PathKind::File;
}

bool IsLink(const char* path) {
  WidePath w(path);
  if (!w.ok) return false;
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(w.text, &d);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::FindClose(h);
  // A reparse point whose tag stands for another name (a symbolic link, a junction); cloud and
  // deduplicated files keep their data here and are not links. Wine gives links no tag.
  constexpr DWORD kNameSurrogate = 0x20000000;
  return (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (d.dwReserved0 == 0 || (d.dwReserved0 & kNameSurrogate));
}

int RenamePath(const char* from, const char* to) {
  WidePath a(from), b(to);
  if (!a.ok || !b.ok) return NoteLastError();
  return MoveFileExW(a.text, b.text, MOVEFILE_WRITE_THROUGH) ? 0 : NoteLastError();
}

int SetFolderWriteTime(const char* path, std::uint64_t ft) {
  WidePath w(path);
  if (!w.ok) return NoteLastError();
  HANDLE h =
      CreateFileW(w.text, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return NoteLastError();
  const FILETIME t = FileTime(ft);
  BOOL ok = SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
  return ok ? 0 : NoteLastError();
}

int FreeSpace(const char* folder, std::uint64_t* freeBytes, std::uint32_t* clusterBytes) {
  WidePath w(folder);
  ULARGE_INTEGER avail, total, totalFree;
  if (!w.ok || !GetDiskFreeSpaceExW(w.text, &avail, &total, &totalFree)) return NoteLastError();
  *freeBytes = avail.QuadPart;
  // The allocation unit of the folder's volume; 4 KiB when the root cannot be told.
  *clusterBytes = 4096;
  const wchar_t root[4] = {static_cast<wchar_t>(static_cast<unsigned char>(folder[0])), L':', L'\\', L'\0'};
  DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
  if (folder[0] && folder[1] == ':' && GetDiskFreeSpaceW(root, &sectors, &bytes, &freeClusters, &clusters) &&
      sectors && bytes)
    *clusterBytes = sectors * bytes;
  return 0;
}

unsigned DriveType(const char* root) {
  WidePath w(root);
  return w.ok ? GetDriveTypeW(w.text) : DRIVE_UNKNOWN;
}

// ---- Writing files --------------------------------------------------------------------------

OutFile* CreateOutFile(const char* path) {
  WidePath w(path);
  if (!w.ok) return NoteLastError(), nullptr;
  HANDLE h = CreateFileW(w.text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return NoteLastError(), nullptr;
  return reinterpret_cast<OutFile*>(h);
}

int WriteOutFile(OutFile* f, const void* data, std::size_t n) {
  DWORD done = 0;
  if (!WriteFile(Handle(f), data, static_cast<DWORD>(n), &done, nullptr)) return NoteLastError();
  if (done != n) {
    SetLastError(ERROR_DISK_FULL);  // a short write to a file is a full volume
    return NoteLastError();
  }
  return 0;
}

int SetOutFileTime(OutFile* f, std::uint64_t ft) {
  const FILETIME t = FileTime(ft);
  return SetFileTime(Handle(f), nullptr, nullptr, &t) ? 0 : NoteLastError();
}

int FlushOutFile(OutFile* f) { return FlushFileBuffers(Handle(f)) ? 0 : NoteLastError(); }

int CloseOutFile(OutFile* f, std::uint64_t ft) {
  if (ft != 0) SetOutFileTime(f, ft);
  return CloseHandle(Handle(f)) ? 0 : NoteLastError();
}

void AbandonOutFile(OutFile* f) { CloseHandle(Handle(f)); }

OutFile* CreateNewOutFile(const char* path) {
  WidePath w(path);
  if (!w.ok) return NoteLastError(), nullptr;
  HANDLE h = CreateFileW(w.text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return NoteLastError(), nullptr;
  return reinterpret_cast<OutFile*>(h);
}

int FlushVolume(const char* folder) {
  if (!folder[0] || folder[1] != ':') {
    SetLastError(ERROR_INVALID_DRIVE);
    return NoteLastError();
  }
  const wchar_t volume[] = {
      L'\\', L'\\', L'.', L'\\', static_cast<wchar_t>(static_cast<unsigned char>(folder[0])), L':', L'\0'};
  HANDLE h = CreateFileW(volume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return NoteLastError();
  BOOL ok = FlushFileBuffers(h);
  CloseHandle(h);
  return ok ? 0 : NoteLastError();
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
  HMODULE nt = GetModuleHandleW(L"ntdll.dll");
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
    return NoteLastError();
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
  return NoteLastError();
}

// ---- Finding files ----------------------------------------------------------------------------

// Names without a code page 932 form are passed over: no code page 932 path could name them.
namespace {
bool ToRecord(const WIN32_FIND_DATAW& d, FindRecord* out) {
  out->folder = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return win32::ToCp932(d.cFileName, out->name, sizeof out->name);
}
}  // namespace

FindHandle FindFirst(const char* pattern, FindRecord* out) {
  WidePath p(pattern);
  WIN32_FIND_DATAW d;
  HANDLE h = p.ok ? FindFirstFileW(p.text, &d) : INVALID_HANDLE_VALUE;
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

// ---- Folders the system names -----------------------------------------------------------------

std::size_t GetCurrentFolder(char* buf, std::size_t size) {
  wchar_t w[2 * MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(2 * MAX_PATH, w);
  if (n == 0 || n >= 2 * MAX_PATH || !win32::ToCp932(w, buf, size)) return 0;
  return std::strlen(buf);
}

int SetCurrentFolder(const char* path) {
  WidePath p(path);
  return p.ok && SetCurrentDirectoryW(p.text) ? 0 : -1;
}

std::size_t GetWindowsFolder(char* buf, std::size_t size) {
  wchar_t w[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(w, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || !win32::ToCp932(w, buf, size)) return 0;
  return std::strlen(buf);
}

}  // namespace plat
