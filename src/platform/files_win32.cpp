// Why the last file call failed, and writing through a handle: shared by the updater's and
// mkupdater.exe's sides of the seam, which differ only in how they turn a path into a name.
#include "platform/files_win32.h"

#include <windows.h>

#include "platform/platform.h"

namespace plat {
namespace {

IoError g_ioError = IoError::None;

HANDLE Handle(OutFile* f) { return reinterpret_cast<HANDLE>(f); }

}  // namespace

int win32::NoteLastError() {
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

IoError LastIoError() { return g_ioError; }

int WriteOutFile(OutFile* f, const void* data, std::size_t n) {
  DWORD done = 0;
  if (!WriteFile(Handle(f), data, static_cast<DWORD>(n), &done, nullptr)) return win32::NoteLastError();
  if (done != n) {
    SetLastError(ERROR_DISK_FULL);  // a short write to a file is a full volume
    return win32::NoteLastError();
  }
  return 0;
}

int SetOutFileTime(OutFile* f, std::uint64_t ft) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(ft);
  t.dwHighDateTime = static_cast<DWORD>(ft >> 32);
  return SetFileTime(Handle(f), nullptr, nullptr, &t) ? 0 : win32::NoteLastError();
}

int FlushOutFile(OutFile* f) { return FlushFileBuffers(Handle(f)) ? 0 : win32::NoteLastError(); }

int CloseOutFile(OutFile* f, std::uint64_t ft) {
  if (ft != 0) SetOutFileTime(f, ft);
  return CloseHandle(Handle(f)) ? 0 : win32::NoteLastError();
}

void AbandonOutFile(OutFile* f) { CloseHandle(Handle(f)); }

}  // namespace plat
