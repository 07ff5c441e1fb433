// Host (Linux) implementation of the platform seam for native tests and the host tool:
// real files under a CP932 -> UTF-8 path mapping, an in-memory registry, scripted message
// boxes, a recorded clipboard and message queue.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/host_control.h"
#include "platform/platform.h"

namespace {

struct HostState {
  std::deque<int> answers;
  std::vector<host::BoxRecord> boxes;
  std::string clipboard;
  bool failClipboard = false;
  std::deque<std::string> windows;  // stable addresses: titles of fake windows
  std::vector<plat::Window> foreground;
  std::deque<int> queue;  // >= 0: a dispatchable message; < 0: quit with code -(v + 1)
  int dispatched = 0;
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
  std::map<std::string, std::string> profile;
  std::vector<void (*)()> exitActions;
  std::vector<void (*)()> exitActionsRun;
};

HostState& S() {
  static HostState s;
  return s;
}

std::string Convert(const std::string& in, const char* from, const char* to, bool* ok) {
  *ok = true;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *ok = false;
    return in;
  }
  std::string out(in.size() * 4 + 4, '\0');
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) *ok = false;
  iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

std::string RegKey(plat::RegRoot root, const std::string& key) {
  std::string k = key;
  for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return (root == plat::RegRoot::CurrentUser ? "HKCU|" : "HKLM|") + k;
}

// Windows wildcard match, ASCII case-insensitive: '*' any run, '?' one byte; "*.*" and "*"
// match every name.
bool WildMatch(const char* p, const char* s) {
  if (std::strcmp(p, "*.*") == 0) return true;
  const char* star = nullptr;
  const char* retry = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      retry = s;
    } else if (*p == '?' || std::tolower(static_cast<unsigned char>(*p)) ==
                                std::tolower(static_cast<unsigned char>(*s))) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++retry;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

struct HostFind {
  std::vector<plat::FindRecord> records;
  std::size_t next = 0;
};

}  // namespace

namespace host {

std::string ToHostPath(const char* p) {
  std::string s;
  for (std::size_t i = 0; p[i];) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    bool lead = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && p[i + 1];
    if (lead) {
      s += p[i];
      s += p[i + 1];
      i += 2;
      continue;
    }
    s += c == '\\' ? '/' : p[i];
    ++i;
  }
  bool ok;
  std::string u = Convert(s, "CP932", "UTF-8", &ok);
  return ok ? u : s;
}

bool Cp932ToUtf8(const std::string& in, std::string* out) {
  bool ok;
  std::string s = Convert(in, "CP932", "UTF-8", &ok);
  if (ok) *out = s;
  return ok;
}

bool Utf8ToCp932(const std::string& in, std::string* out) {
  bool ok;
  std::string s = Convert(in, "UTF-8", "CP932", &ok);
  if (ok) *out = s;
  return ok;
}

std::string FromHostPath(const std::string& utf8) {
  bool ok;
  std::string s = Convert(utf8, "UTF-8", "CP932", &ok);
  return ok ? s : std::string();
}

void ScriptAnswers(std::vector<int> answers) {
  S().answers.assign(answers.begin(), answers.end());
}
const std::vector<BoxRecord>& Boxes() { return S().boxes; }
const std::string& Clipboard() { return S().clipboard; }
void SetClipboard(const std::string& text) { S().clipboard = text; }
void FailClipboardAlloc(bool fail) { S().failClipboard = fail; }
plat::Window MakeWindow(const std::string& title) {
  S().windows.push_back(title);
  return &S().windows.back();
}
std::vector<plat::Window> ForegroundCalls() { return S().foreground; }
void PostDispatchable(int count) {
  for (int i = 0; i < count; ++i) S().queue.push_back(0);
}
void PostQuit(int code) { S().queue.push_back(-(code + 1)); }
int Dispatched() { return S().dispatched; }
void SetModulePath(const std::string& path) { S().modulePath = path; }
void SetTempFolder(const std::string& path) { S().tempFolder = path; }
void SetWindowsFolder(const std::string& path) { S().windowsFolder = path; }
void SetTickCount(std::uint32_t ms) { S().ticks = ms; }
void SetCdromDrive(char letter) { S().cdrom = letter; }
void SetMutexOutcome(plat::MutexResult r) { S().mutexOutcome = r; }
std::vector<std::string> MutexNames() { return S().mutexNames; }
std::vector<std::string> ShellOpened() { return S().shellOpened; }

void RegPut(plat::RegRoot root, const std::string& key, const std::string& name,
            std::uint32_t type, const std::string& data) {
  S().registry[RegKey(root, key)][name] = {type, data};
}
bool RegGet(plat::RegRoot root, const std::string& key, const std::string& name,
            std::uint32_t* type, std::string* data) {
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
std::string ProfileValue(const std::string& file, const std::string& section,
                         const std::string& key) {
  auto it = S().profile.find(file + "|" + section + "|" + key);
  return it == S().profile.end() ? std::string() : it->second;
}
std::size_t ExitActionCount() { return S().exitActions.size(); }
std::vector<void (*)()> ExitActionsRun() { return S().exitActionsRun; }

void Reset() {
  HostState& s = S();
  std::deque<std::string> keepWindows;  // window handles may still be held by callers
  keepWindows.swap(s.windows);
  s = HostState{};
  s.windows.swap(keepWindows);
}

}  // namespace host

namespace plat {

std::FILE* OpenFile(const char* path, const char* mode) {
  // Text mode means nothing on Linux; callers that care read bytes themselves.
  char m[8] = {};
  std::size_t j = 0;
  for (const char* p = mode; *p && j + 1 < sizeof m; ++p)
    if (*p != 't') m[j++] = *p;
  return std::fopen(host::ToHostPath(path).c_str(), m);
}

int MakeFolder(const char* path) { return mkdir(host::ToHostPath(path).c_str(), 0777) == 0 ? 0 : -1; }
int RemoveFolder(const char* path) { return rmdir(host::ToHostPath(path).c_str()) == 0 ? 0 : -1; }
int RemoveFile(const char* path) { return unlink(host::ToHostPath(path).c_str()) == 0 ? 0 : -1; }

// FILETIME counts 100 ns ticks from 1601-01-01; Unix time starts 11644473600 s later.
constexpr std::uint64_t kEpochDelta = 116444736000000000ull;

int SetFileWriteTime(const char* path, std::uint64_t ft) {
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  std::int64_t t = static_cast<std::int64_t>(ft - kEpochDelta);
  ts[1].tv_sec = static_cast<time_t>(t / 10000000);
  ts[1].tv_nsec = static_cast<long>((t % 10000000) * 100);
  if (ts[1].tv_nsec < 0) {
    ts[1].tv_nsec += 1000000000;
    ts[1].tv_sec -= 1;
  }
  return utimensat(AT_FDCWD, host::ToHostPath(path).c_str(), ts, 0) == 0 ? 0 : -1;
}

int GetFileWriteTime(const char* path, std::uint64_t* ft) {
  struct stat st;
  if (stat(host::ToHostPath(path).c_str(), &st) != 0) return -1;
  *ft = static_cast<std::uint64_t>(static_cast<std::int64_t>(st.st_mtim.tv_sec) * 10000000 +
                                   st.st_mtim.tv_nsec / 100) +
        kEpochDelta;
  return 0;
}

FindHandle FindFirst(const char* pattern, FindRecord* out) {
  std::string p = host::ToHostPath(pattern);
  std::size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string wild = slash == std::string::npos ? p : p.substr(slash + 1);
  DIR* d = opendir(dir.c_str());
  if (!d) return nullptr;
  auto* h = new HostFind;
  std::vector<std::string> names{".", ".."};
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin() + 2, names.end());
  for (const std::string& n : names) {
    if (!WildMatch(wild.c_str(), n.c_str())) continue;
    std::string cp = host::FromHostPath(n);
    if (cp.empty() || cp.size() >= kMaxPath) continue;
    FindRecord r{};
    std::memcpy(r.name, cp.c_str(), cp.size() + 1);
    struct stat st;
    r.folder = stat((dir + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    h->records.push_back(r);
  }
  if (h->records.empty()) {
    delete h;
    return nullptr;
  }
  *out = h->records[h->next++];
  return h;
}

bool FindNext(FindHandle handle, FindRecord* out) {
  auto* h = static_cast<HostFind*>(handle);
  if (h->next >= h->records.size()) return false;
  *out = h->records[h->next++];
  return true;
}

void FindClose(FindHandle handle) { delete static_cast<HostFind*>(handle); }

static std::size_t CopyOut(const std::string& s, char* buf, std::size_t size) {
  if (size == 0 || s.size() + 1 > size) return 0;
  std::memcpy(buf, s.c_str(), s.size() + 1);
  return s.size();
}

std::size_t GetCurrentFolder(char* buf, std::size_t size) {
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return 0;
  return CopyOut(host::FromHostPath(cwd), buf, size);
}
int SetCurrentFolder(const char* path) { return chdir(host::ToHostPath(path).c_str()) == 0 ? 0 : -1; }
std::size_t GetTempFolder(char* buf, std::size_t size) { return CopyOut(S().tempFolder, buf, size); }
std::size_t GetModulePath(char* buf, std::size_t size) { return CopyOut(S().modulePath, buf, size); }
std::size_t GetWindowsFolder(char* buf, std::size_t size) {
  return CopyOut(S().windowsFolder, buf, size);
}
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

Pumped PumpOne(int* quitCode) {
  if (S().queue.empty()) return Pumped::Empty;
  int v = S().queue.front();
  S().queue.pop_front();
  if (v < 0) {
    *quitCode = -(v + 1);
    return Pumped::Quit;
  }
  ++S().dispatched;
  return Pumped::Dispatched;
}

void OpenWithShell(Window, const char* path) { S().shellOpened.push_back(path); }

MutexResult CreateOwnedMutex(const char* name) {
  S().mutexNames.push_back(name);
  return S().mutexOutcome;
}

int RegQuery(RegRoot root, const char* key, std::uint32_t access, const char* name, void* buf,
             std::uint32_t size, std::uint32_t* type, std::uint32_t* length) {
  std::string k = RegKey(root, key);
  if (access == kKeyAllAccess && S().denyFull[k]) return -1;
  std::string data;
  if (!host::RegGet(root, key, name, type, &data)) return -1;
  std::uint32_t n = static_cast<std::uint32_t>(data.size()) + (*type == kRegSz ? 1 : 0);
  if (n > size) return -1;
  std::memcpy(buf, data.c_str(), n);
  *length = n;
  return 0;
}

int RegSetString(RegRoot root, const char* key, const char* name, const char* data) {
  if (S().denyFull[RegKey(root, key)]) return -1;
  host::RegPut(root, key, name, kRegSz, data);
  return 0;
}

int WriteIniString(const char* section, const char* key, const char* value,
                       const char* file) {
  S().profile[std::string(file) + "|" + section + "|" + key] = value;
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
  throw host::ProcessExit{code};
}

}  // namespace plat
