// The narrow seam between the updater's portable logic and the operating system.
//
// Portable code (container reader, configuration, image decoder, path rules, the update
// flow's decisions) includes this header and never <windows.h>. Two implementations exist:
//   files_win32.cpp     Windows, the file calls that the updater and mkupdater.exe share;
//   platform_win32.cpp  the rest of the updater's calls into Windows;
//   platform_posix.cpp  Linux, for mkupdater and the native builds: real files and folders;
//                       the native tests add doubles of the rest (tests/doubles).
//
// Every text is a code page 932 byte string. On Windows each one crosses into the system
// through the wide ("W") calls, converted with code page 932 itself whatever the system's code
// page is; a name that the system gives back without a code page 932 form counts as a failure
// (or, in a folder listing, as absent). Paths use backslashes; the host implementation maps
// them to the Linux file system (backslash to slash, CP932 to UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace plat {

using Window = void*;  // an HWND, or nullptr for none

constexpr int kMaxPath = 260;  // MAX_PATH, terminator included

// ---- Files and folders ------------------------------------------------------------------

// A buffered C stream, as fopen with the given mode ("rb", "wb", "rt").
std::FILE* OpenFile(const char* path, const char* mode);
int MakeFolder(const char* path);    // 0 created, -1 otherwise (also when it exists)
int RemoveFolder(const char* path);  // 0 removed, -1 otherwise (not empty, missing)
int RemoveFile(const char* path);    // 0 deleted, -1 otherwise (DeletePath, but no test fails it)
// Last-write time as a Win32 FILETIME (100 ns ticks since 1601-01-01 UTC); 0 / -1.
int GetFileWriteTime(const char* path, std::uint64_t* filetime);

// ---- Writing files: what an extraction writes, and the staging of an update -------------
// These also take paths longer than MAX_PATH (a staged name adds a suffix to a destination
// that may itself be near the limit).

// Why the last failed call of this group failed.
enum class IoError {
  None,
  DiskFull,  // no room left on the volume
  Denied,    // read-only, or no right to write there
  InUse,     // another program holds the file open without sharing it
  NotFound,  // a folder on the way does not exist
  Other,
};
IoError LastIoError();

struct OutFile;  // a file open for writing
// Creates the file, or empties it when it exists. nullptr on failure.
OutFile* CreateOutFile(const char* path);
// Creates the file only when nothing has its name yet (not a file, a folder or a link, even
// one that leads nowhere); nullptr otherwise.
OutFile* CreateNewOutFile(const char* path);
int WriteOutFile(OutFile* f, const void* data, std::size_t n);  // 0 when all n bytes went, -1
// Sets the last-write time (unless it is 0) on the handle that wrote the file, then closes it.
// 0, or -1 when the close reports a failure of the writes (the time's own result is not
// looked at).
int CloseOutFile(OutFile* f, std::uint64_t lastWriteTime);
void AbandonOutFile(OutFile* f);                              // closes it after a failure; nothing is set
int SetOutFileTime(OutFile* f, std::uint64_t lastWriteTime);  // 0 / -1
int FlushOutFile(OutFile* f);  // its bytes on the disk, not only in the cache; 0 / -1
// Everything written to the folder's volume on the disk, as far as the system lets this
// program ask for it (the whole volume needs an administrator); 0 / -1.
int FlushVolume(const char* folder);
// Renames the open file, which stays open, within its volume; fails when `to` exists. 0 / -1.
int RenameOutFile(OutFile* f, const char* to);

enum class PathKind { Missing, File, ReadOnlyFile, Folder };
PathKind QueryPath(const char* path);
// True when the path's last component is a link that leads elsewhere: a symbolic link or a
// junction (a reparse point that stands for another name), a Unix symbolic link on the host.
bool IsLink(const char* path);
// Renames a file or folder within its volume; fails when `to` exists. 0 / -1.
int RenamePath(const char* from, const char* to);
int DeletePath(const char* path);  // a file; 0 / -1
// The last-write time of a folder, set back after a change was undone; 0 / -1.
int SetFolderWriteTime(const char* path, std::uint64_t filetime);
// Free bytes of the volume that holds the folder, for this user, and its allocation unit.
int FreeSpace(const char* folder, std::uint64_t* freeBytes, std::uint32_t* clusterBytes);

// Wildcard enumeration of one folder, as FindFirstFileA / FindNextFileA.
struct FindRecord {
  char name[kMaxPath];  // name and extension only, without the folder
  bool folder;          // FILE_ATTRIBUTE_DIRECTORY
};
using FindHandle = void*;
FindHandle FindFirst(const char* pattern, FindRecord* out);  // nullptr when nothing matched
bool FindNext(FindHandle h, FindRecord* out);
void FindClose(FindHandle h);

// Each writes at most size bytes including the terminator; returns the length, 0 on failure
// (also when the folder's name has no code page 932 form).
std::size_t GetCurrentFolder(char* buf, std::size_t size);
int SetCurrentFolder(const char* path);                     // 0 / -1
std::size_t GetWindowsFolder(char* buf, std::size_t size);  // e.g. C:\WINDOWS
std::uint32_t MillisecondsSinceStart();                     // timeGetTime

// ---- The work folder and the running executable ----------------------------------------------
// Neither needs a code page 932 form: a temporary-files folder or a download folder may be
// named in any language. The seam keeps their paths in the system's own form.

// Makes <temporary-files folder>\name and makes it the current folder, remembering the folder
// that was current. The folder is made here and now: Exists when anything already has that
// name (a folder, a file or a link), and nothing is entered.
enum class WorkFolder { Entered, Exists, Failed };
WorkFolder EnterWorkFolder(const char* name);
// The work folder holds a lock file, open without delete sharing for as long as the run lasts.
// The remembered folder current again; then the lock closed, the work folder's files and the
// folder itself deleted. Nothing when no work folder was entered.
void LeaveWorkFolder();
// Removes the work folders that runs which were cut off left in the temporary-files folder
// (names beginning with prefix), each only when its lock shows that the run that made it has
// ended: the lock file can be deleted. A folder without a lock, a link, and what is not a
// plain file inside are left alone.
void RemoveAbandonedWorkFolders(const char* prefix);
// The running executable, opened for reading; nullptr when it cannot be opened.
std::FILE* OpenOwnExecutable();

constexpr unsigned kDriveCdrom = 5;
unsigned DriveType(const char* root);  // GetDriveTypeA

// ---- User interface -----------------------------------------------------------------------

// Message box styles and results as Win32 defines them.
constexpr unsigned kMbOk = 0x0, kMbRetryCancel = 0x5, kMbYesNo = 0x4;
constexpr unsigned kMbIconError = 0x10, kMbIconQuestion = 0x20;
constexpr int kIdOk = 1, kIdCancel = 2, kIdRetry = 4, kIdYes = 6, kIdNo = 7;

int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned style);
void BringToFront(Window w);  // SetForegroundWindow; nothing for none
// The window's title into buf (at most size - 1 bytes); an empty text for none.
void GetWindowTitle(Window w, char* buf, std::size_t size);
// Puts the text on the clipboard (as Unicode text); -1 when the copy cannot be allocated.
int CopyTextToClipboard(const char* text);

enum class Pumped { Empty, Dispatched, Quit };
// Takes one message off the thread's queue and dispatches it; Quit carries the wParam.
Pumped PumpOne(int* quitCode);

// Opens a document with its associated program ("open", normal window). A relative path is
// taken from the current folder and handed over whole; the program starts in the
// temporary-files folder, so that it never holds a folder that the updater removes.
void OpenWithShell(Window owner, const char* path);

// ---- Kernel objects, registry, profiles ---------------------------------------------------

enum class MutexResult { Created, AlreadyExists, Failed };
MutexResult CreateOwnedMutex(const char* name);  // held until the process ends

enum class RegRoot { CurrentUser, LocalMachine };
constexpr std::uint32_t kRegSz = 1, kRegDword = 4;
constexpr std::uint32_t kKeyAllAccess = 0xF003F, kKeyRead = 0x20019;
// Reads a value into buf (size bytes): a REG_SZ as code page 932 text, any other type as it
// is stored. Ok sets *type and *length (bytes written, terminator included for strings);
// Missing: the key cannot be opened with that access, the value is missing or its data does
// not fit; NotCp932: a text with a character that has no code page 932 form.
enum class RegRead { Ok, Missing, NotCp932 };
RegRead RegQuery(RegRoot root, const char* key, std::uint32_t access, const char* name, void* buf,
                 std::uint32_t size, std::uint32_t* type, std::uint32_t* length);
// Creates the key (and missing parents) and sets a REG_SZ value; 0 / -1.
int RegSetString(RegRoot root, const char* key, const char* name, const char* data);

// ---- Process ------------------------------------------------------------------------------

void CoInit();
void CoUninit();
// Registers an exit action; actions run in reverse order of registration at Exit.
void AtExit(void (*action)());
// Ends the process through the runtime's normal exit. The host build throws ProcessExit
// after running the registered actions, so that tests can watch every exit path.
[[noreturn]] void Exit(int code);

}  // namespace plat

// ---- SHA-256 ------------------------------------------------------------------------------
// The system's implementation (CryptoAPI on Windows, libcrypto elsewhere), fed in pieces.

namespace plat {

constexpr std::size_t kSha256Size = 32;

struct Sha256;                                              // a digest being computed
Sha256* BeginSha256();                                      // nullptr when the system cannot hash
int AddSha256(Sha256* h, const void* data, std::size_t n);  // 0 / -1
// Writes the digest and releases h, whatever the result; 0 / -1.
int FinishSha256(Sha256* h, unsigned char digest[kSha256Size]);
void AbandonSha256(Sha256* h);  // releases h without a digest; nothing for nullptr

}  // namespace plat
