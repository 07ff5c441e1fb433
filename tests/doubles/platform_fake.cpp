// Doubles of the platform seam for the native tests and the fuzz targets: scripted message
// boxes, a recorded clipboard, an empty message queue, an in-memory registry, the process data
// that a test sets, and exit actions that end in an exception. The files themselves are real
// (platform_posix.cpp), and so are the work folder and the running executable (a file that a
// test names).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "fake.h"
#include "platform/platform.h"
#include "platform/posix.h"

namespace {

struct FakeState {
  std::deque<int> answers;
  std::vector<fake::BoxRecord> boxes;
  std::string clipboard;
  bool failClipboard = false;
  std::deque<std::string> windows;  // stable addresses: titles of fake windows
  std::vector<plat::Window> foreground;
  std::string modulePath;
  std::string tempFolder = "/tmp/";
  std::string windowsFolder = "C:\\WINDOWS";
  std::uint32_t ticks = 12345;
  char cdrom = 0;
  plat::MutexResult mutexOutcome = plat::MutexResult::Created;
  std::vector<std::string> mutexNames;
  std::vector<std::string> shellOpened;
  struct Value {
    std::uint32_t type;
    std::string data;
  };
  std::map<std::string, std::map<std::string, Value>> registry;  // "root|KEY" -> name -> value
  std::map<std::string, bool> denyFull;
  std::string workFolder, startFolder;
  bool inWorkFolder = false;
  std::vector<void (*)()> exitActions;
  std::vector<void (*)()> exitActionsRun;
  int fileCalls = 0, failAt = 0, killAt = 0;
  plat::IoError failWith = plat::IoError::None;
  bool freeSet = false;
  std::uint64_t freeBytes = 0;
  std::uint32_t cluster = 4096;
};

FakeState& S() {
  static FakeState s;
  return s;
}

std::string RegKey(plat::RegRoot root, const std::string& key) {
  std::string k = key;
  for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return (root == plat::RegRoot::CurrentUser ? "HKCU|" : "HKLM|") + k;
}

}  // namespace

namespace fake {

void ScriptAnswers(std::vector<int> answers) { S().answers.assign(answers.begin(), answers.end()); }
const std::vector<BoxRecord>& Boxes() { return S().boxes; }
const std::string& Clipboard() { return S().clipboard; }
void SetClipboard(const std::string& text) { S().clipboard = text; }
void FailClipboardAlloc(bool fail) { S().failClipboard = fail; }
plat::Window MakeWindow(const std::string& title) {
  S().windows.push_back(title);
  return &S().windows.back();
}
std::vector<plat::Window> ForegroundCalls() { return S().foreground; }
void SetModulePath(const std::string& path) { S().modulePath = path; }
void SetTempFolder(const std::string& path) { S().tempFolder = path; }
void SetWindowsFolder(const std::string& path) { S().windowsFolder = path; }
void SetTickCount(std::uint32_t ms) { S().ticks = ms; }
void SetCdromDrive(char letter) { S().cdrom = letter; }
void SetMutexOutcome(plat::MutexResult r) { S().mutexOutcome = r; }
std::vector<std::string> MutexNames() { return S().mutexNames; }
std::vector<std::string> ShellOpened() { return S().shellOpened; }

void RegPut(plat::RegRoot root, const std::string& key, const std::string& name, std::uint32_t type,
            const std::string& data) {
  S().registry[RegKey(root, key)][name] = {type, data};
}
bool RegGet(plat::RegRoot root, const std::string& key, const std::string& name, std::uint32_t* type,
            std::string* data) {
  auto k = S().registry.find(RegKey(root, key));
  if (k == S().registry.end()) return false;
  auto v = k->second.find(name);
  if (v == k->second.end()) return false;
  *type = v->second.type;
  *data = v->second.data;
  return true;
}
void RegDenyFullAccess(plat::RegRoot root, const std::string& key, bool deny) {
  S().denyFull[RegKey(root, key)] = deny;
}
void FailFileCall(int n, plat::IoError error) {
  S().failAt = n ? S().fileCalls + n : 0;
  S().failWith = error;
}
void KillAtFileCall(int n) { S().killAt = n ? S().fileCalls + n : 0; }
int FileCalls() { return S().fileCalls; }
void SetFreeSpace(std::uint64_t bytes, std::uint32_t cluster) {
  S().freeSet = true;
  S().freeBytes = bytes;
  S().cluster = cluster;
}

std::size_t ExitActionCount() { return S().exitActions.size(); }
std::vector<void (*)()> ExitActionsRun() { return S().exitActionsRun; }

void Reset() {
  FakeState& s = S();
  std::deque<std::string> keepWindows;  // window handles may still be held by callers
  keepWindows.swap(s.windows);
  s = FakeState{};
  s.windows.swap(keepWindows);
}

}  // namespace fake

namespace {

// Counts a rename or delete; true when this one is to fail as injected (or ends the "process"
// there).
bool InjectedFailure() {
  int n = ++S().fileCalls;
  if (n == S().killAt) throw fake::ProcessExit{fake::kKilled};
  if (S().failAt == 0 || n != S().failAt) return false;
  constexpr int kErrno[] = {EIO, ENOSPC, EACCES, EBUSY, ENOENT, EIO};  // in IoError's order
  static_assert(static_cast<int>(plat::IoError::Other) + 1 == sizeof kErrno / sizeof kErrno[0]);
  posix::NoteIoError(kErrno[static_cast<int>(S().failWith)]);
  return true;
}

}  // namespace

namespace plat {

PathKind QueryPath(const char* path) {
  struct stat st;
  if (stat(posix::ToHostPath(path).c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  return (st.st_mode & 0222) ? PathKind::File : PathKind::ReadOnlyFile;  // no write bit: read-only
}

bool IsLink(const char* path) {
  struct stat st;
  return lstat(posix::ToHostPath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int RenamePath(const char* from, const char* to) {
  if (InjectedFailure()) return -1;
  const std::string a = posix::ToHostPath(from), b = posix::ToHostPath(to);
  struct stat st;
  if (lstat(b.c_str(), &st) == 0) return posix::NoteIoError(EEXIST);  // as MoveFileEx without replacing
  return rename(a.c_str(), b.c_str()) == 0 ? 0 : posix::NoteIoError(errno);
}

int RenameOutFile(OutFile* file, const char* to) {
  if (InjectedFailure()) return -1;
  char from[4096];
  const std::string fd = "/proc/self/fd/" + std::to_string(posix::OutFileDescriptor(file));
  ssize_t n = readlink(fd.c_str(), from, sizeof from - 1);
  if (n < 0) return posix::NoteIoError(errno);
  from[n] = '\0';
  const std::string b = posix::ToHostPath(to);
  struct stat st;
  if (lstat(b.c_str(), &st) == 0) return posix::NoteIoError(EEXIST);
  return rename(from, b.c_str()) == 0 ? 0 : posix::NoteIoError(errno);
}

int DeletePath(const char* path) {
  if (InjectedFailure()) return -1;
  return unlink(posix::ToHostPath(path).c_str()) == 0 ? 0 : posix::NoteIoError(errno);
}

int SetFolderWriteTime(const char* path, std::uint64_t filetime) {
  struct timespec ts[2];
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1] = posix::UnixFromFiletime(filetime);
  return utimensat(AT_FDCWD, posix::ToHostPath(path).c_str(), ts, 0) == 0 ? 0 : posix::NoteIoError(errno);
}

int FreeSpace(const char* folder, std::uint64_t* freeBytes, std::uint32_t* clusterBytes) {
  if (S().freeSet) {
    *freeBytes = S().freeBytes;
    *clusterBytes = S().cluster;
    return 0;
  }
  struct statvfs v;
  if (statvfs(posix::ToHostPath(folder).c_str(), &v) != 0) return posix::NoteIoError(errno);
  *freeBytes = std::uint64_t(v.f_bavail) * v.f_frsize;
  *clusterBytes = static_cast<std::uint32_t>(v.f_frsize);
  return 0;
}

static std::size_t CopyOut(const std::string& s, char* buf, std::size_t size) {
  if (size == 0 || s.size() + 1 > size) return 0;
  std::memcpy(buf, s.c_str(), s.size() + 1);
  return s.size();
}

WorkFolder EnterWorkFolder(const char* name) {
  FakeState& s = S();
  if (s.tempFolder.empty()) return WorkFolder::Failed;
  const char last = s.tempFolder.back();
  const std::string work = s.tempFolder + (last == '\\' || last == '/' ? "" : "\\") + name;
  if (MakeFolder(work.c_str()) != 0)
    return QueryPath(work.c_str()) != PathKind::Missing ? WorkFolder::Exists : WorkFolder::Failed;
  char current[2 * kMaxPath];
  s.startFolder = GetCurrentFolder(current, sizeof current) ? current : "";
  if (SetCurrentFolder(work.c_str()) != 0) return WorkFolder::Failed;
  s.workFolder = work;
  s.inWorkFolder = true;
  return WorkFolder::Entered;
}

void LeaveWorkFolder() {
  FakeState& s = S();
  if (!s.startFolder.empty()) SetCurrentFolder(s.startFolder.c_str());
  if (!s.inWorkFolder) return;
  FindRecord r;
  std::vector<std::string> files;
  if (FindHandle h = FindFirst((s.workFolder + "\\*.*").c_str(), &r)) {
    do
      if (!r.folder) files.push_back(s.workFolder + "\\" + r.name);
    while (FindNext(h, &r));
    FindClose(h);
  }
  for (const std::string& f : files) RemoveFile(f.c_str());
  RemoveFolder(s.workFolder.c_str());
}

// The native tests keep no lock: their work folders end with the test.
void RemoveAbandonedWorkFolders(const char*) {}

std::FILE* OpenOwnExecutable() {
  return S().modulePath.empty() ? nullptr : OpenFile(S().modulePath.c_str(), "rb");
}
std::size_t GetWindowsFolder(char* buf, std::size_t size) { return CopyOut(S().windowsFolder, buf, size); }
std::uint32_t MillisecondsSinceStart() { return S().ticks; }

unsigned DriveType(const char* root) {
  if (S().cdrom && root[0] == S().cdrom) return kDriveCdrom;
  return root[0] == 'C' ? 3 : 1;  // fixed disk for C:, no root directory elsewhere
}

int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned style) {
  int answer;
  if (!S().answers.empty()) {
    answer = S().answers.front();
    S().answers.pop_front();
  } else {
    unsigned kind = style & 0xF;
    answer = kind == kMbRetryCancel ? kIdCancel : kind == kMbYesNo ? kIdNo : kIdOk;
  }
  S().boxes.push_back({owner, text, caption, style, answer});
  return answer;
}

void BringToFront(Window w) {
  if (w) S().foreground.push_back(w);
}

void GetWindowTitle(Window w, char* buf, std::size_t size) {
  if (size == 0) return;
  buf[0] = '\0';
  if (!w) return;
  const std::string& t = *static_cast<std::string*>(w);
  std::size_t n = std::min(t.size(), size - 1);
  std::memcpy(buf, t.data(), n);
  buf[n] = '\0';
}

int CopyTextToClipboard(const char* text) {
  if (S().failClipboard) return -1;
  S().clipboard = text;
  return 0;
}

Pumped PumpOne(int*) { return Pumped::Empty; }  // the native tests post no messages

void OpenWithShell(Window, const char* path) { S().shellOpened.push_back(path); }

MutexResult CreateOwnedMutex(const char* name) {
  S().mutexNames.push_back(name);
  return S().mutexOutcome;
}

RegRead RegQuery(RegRoot root, const char* key, std::uint32_t access, const char* name, void* buf,
                 std::uint32_t size, std::uint32_t* type, std::uint32_t* length) {
  std::string k = RegKey(root, key);
  if (access == kKeyAllAccess && S().denyFull[k]) return RegRead::Missing;
  std::string data;
  if (!fake::RegGet(root, key, name, type, &data)) return RegRead::Missing;
  if (*type == kRegSz && data.find('\xFF') != std::string::npos) return RegRead::NotCp932;
  std::uint32_t n = static_cast<std::uint32_t>(data.size()) + (*type == kRegSz ? 1 : 0);
  if (n > size) return RegRead::Missing;
  std::memcpy(buf, data.c_str(), n);
  *length = n;
  return RegRead::Ok;
}

int RegSetString(RegRoot root, const char* key, const char* name, const char* data) {
  if (S().denyFull[RegKey(root, key)]) return -1;
  fake::RegPut(root, key, name, kRegSz, data);
  return 0;
}

void CoInit() {}
void CoUninit() {}
void AtExit(void (*action)()) { S().exitActions.push_back(action); }

void Exit(int code) {
  std::vector<void (*)()> actions;
  actions.swap(S().exitActions);
  S().exitActionsRun.clear();
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
    S().exitActionsRun.push_back(*it);
    (*it)();
  }
  throw fake::ProcessExit{code};
}

}  // namespace plat
