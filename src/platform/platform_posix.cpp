// The platform seam on Linux, for mkupdater and the native builds: real files and folders
// under a CP932 -> UTF-8 path mapping, file times and the current folder. What only the
// updater asks for (message boxes, registry, clipboard, the message queue, the staging of an
// update) is not here: mkupdater never needs it, and the tests link their doubles
// (tests/doubles).
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix.h"

namespace {

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
    } else if (*p == '?' ||
               std::tolower(static_cast<unsigned char>(*p)) == std::tolower(static_cast<unsigned char>(*s))) {
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

struct PosixFind {
  std::vector<plat::FindRecord> records;
  std::size_t next = 0;
};

std::size_t CopyOut(const std::string& s, char* buf, std::size_t size) {
  if (size == 0 || s.size() + 1 > size) return 0;
  std::memcpy(buf, s.c_str(), s.size() + 1);
  return s.size();
}

}  // namespace

namespace posix {

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

std::string FromHostPath(const std::string& utf8) {
  bool ok;
  std::string s = Convert(utf8, "UTF-8", "CP932", &ok);
  return ok ? s : std::string();
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

std::uint64_t FiletimeFromUnix(const struct timespec& t) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100) +
         kFiletimeEpochDelta;
}

struct timespec UnixFromFiletime(std::uint64_t ft) {
  struct timespec ts;
  std::int64_t t = static_cast<std::int64_t>(ft - kFiletimeEpochDelta);
  ts.tv_sec = static_cast<time_t>(t / 10000000);
  ts.tv_nsec = static_cast<long>((t % 10000000) * 100);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000;
    ts.tv_sec -= 1;
  }
  return ts;
}

plat::IoError IoErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return plat::IoError::None;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return plat::IoError::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return plat::IoError::Denied;
    case EBUSY:
    case ETXTBSY:
      return plat::IoError::InUse;
    case ENOENT:
    case ENOTDIR:
      return plat::IoError::NotFound;
    default:
      return plat::IoError::Other;
  }
}

namespace {
plat::IoError g_ioError = plat::IoError::None;
}  // namespace

int NoteIoError(int err) {
  g_ioError = IoErrorFromErrno(err);
  return -1;
}

}  // namespace posix

namespace plat {

IoError LastIoError() { return posix::g_ioError; }

struct OutFile {
  int fd;
};

}  // namespace plat

int posix::OutFileDescriptor(const plat::OutFile* f) { return f->fd; }

namespace plat {

OutFile* CreateOutFile(const char* path) {
  int fd = open(posix::ToHostPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return posix::NoteIoError(errno), nullptr;
  return new OutFile{fd};
}

OutFile* CreateNewOutFile(const char* path) {
  int fd = open(posix::ToHostPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return posix::NoteIoError(errno), nullptr;
  return new OutFile{fd};
}

int WriteOutFile(OutFile* f, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t done = write(f->fd, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return posix::NoteIoError(done < 0 ? errno : ENOSPC);
    p += done;
    n -= static_cast<std::size_t>(done);
  }
  return 0;
}

int SetOutFileTime(OutFile* f, std::uint64_t lastWriteTime) {
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1] = posix::UnixFromFiletime(lastWriteTime);
  return futimens(f->fd, ts) == 0 ? 0 : posix::NoteIoError(errno);
}

int FlushOutFile(OutFile* f) { return fsync(f->fd) == 0 ? 0 : posix::NoteIoError(errno); }

int FlushVolume(const char* folder) {
  int fd = open(posix::ToHostPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return posix::NoteIoError(errno);
  int r = syncfs(fd);
  close(fd);
  return r == 0 ? 0 : posix::NoteIoError(errno);
}

int CloseOutFile(OutFile* f, std::uint64_t lastWriteTime) {
  if (lastWriteTime != 0) SetOutFileTime(f, lastWriteTime);
  int r = close(f->fd);
  int err = errno;
  delete f;
  return r == 0 ? 0 : posix::NoteIoError(err);
}

void AbandonOutFile(OutFile* f) {
  close(f->fd);
  delete f;
}

std::FILE* OpenFile(const char* path, const char* mode) {
  // Text mode means nothing on Linux; callers that care read bytes themselves.
  char m[8] = {};
  std::size_t j = 0;
  for (const char* p = mode; *p && j + 1 < sizeof m; ++p)
    if (*p != 't') m[j++] = *p;
  return std::fopen(posix::ToHostPath(path).c_str(), m);
}

int MakeFolder(const char* path) { return mkdir(posix::ToHostPath(path).c_str(), 0777) == 0 ? 0 : -1; }
int RemoveFolder(const char* path) { return rmdir(posix::ToHostPath(path).c_str()) == 0 ? 0 : -1; }
int RemoveFile(const char* path) { return unlink(posix::ToHostPath(path).c_str()) == 0 ? 0 : -1; }

int GetFileWriteTime(const char* path, std::uint64_t* ft) {
  struct stat st;
  if (stat(posix::ToHostPath(path).c_str(), &st) != 0) return -1;
  *ft = posix::FiletimeFromUnix(st.st_mtim);
  return 0;
}

FindHandle FindFirst(const char* pattern, FindRecord* out) {
  std::string p = posix::ToHostPath(pattern);
  std::size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string wild = slash == std::string::npos ? p : p.substr(slash + 1);
  DIR* d = opendir(dir.c_str());
  if (!d) return nullptr;
  auto* h = new PosixFind;
  std::vector<std::string> names{".", ".."};
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin() + 2, names.end());
  for (const std::string& n : names) {
    if (!WildMatch(wild.c_str(), n.c_str())) continue;
    std::string cp = posix::FromHostPath(n);
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
  auto* h = static_cast<PosixFind*>(handle);
  if (h->next >= h->records.size()) return false;
  *out = h->records[h->next++];
  return true;
}

void FindClose(FindHandle handle) { delete static_cast<PosixFind*>(handle); }

std::size_t GetCurrentFolder(char* buf, std::size_t size) {
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return 0;
  return CopyOut(posix::FromHostPath(cwd), buf, size);
}

int SetCurrentFolder(const char* path) { return chdir(posix::ToHostPath(path).c_str()) == 0 ? 0 : -1; }

}  // namespace plat
