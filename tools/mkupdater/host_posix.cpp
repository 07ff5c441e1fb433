// The host on Linux: paths are UTF-8 already; code page 932 through the platform's iconv wrapper.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host.h"
#include "platform/posix.h"

namespace host {

int ListFolder(const std::string& path, std::vector<DirEntry>* out) {
  DIR* d = opendir(path.c_str());
  if (!d) return -1;
  out->clear();
  int result = 0;
  while (dirent* e = readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    struct stat st;
    if (stat((path + "/" + e->d_name).c_str(), &st) != 0) {
      result = -1;
      break;
    }
    out->push_back({e->d_name, S_ISDIR(st.st_mode), S_ISREG(st.st_mode),
                    static_cast<std::uint64_t>(st.st_size), posix::FiletimeFromUnix(st.st_mtim)});
  }
  int saved = errno;
  closedir(d);
  errno = saved;
  return result;
}

std::string LastError() { return std::strerror(errno); }

std::FILE* Open(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || IsFolder(path) ? 0 : -1; }
int Remove(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : -1; }
int Rename(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }
void MarkExecutable(const std::string& path) { chmod(path.c_str(), 0755); }
std::string CurrentFolder() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? buf : "";
}
int ChangeFolder(const std::string& path) { return chdir(path.c_str()) == 0 ? 0 : -1; }
bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

// iconv maps some characters to a look-alike (U+00A5 to '\\', U+301C to U+FF5E's code); such
// a name would come back as another one. Only a conversion that survives the way back counts,
// as WC_NO_BEST_FIT_CHARS has it on Windows.
bool Utf8ToCp932(const std::string& in, std::string* out) {
  std::string cp, back;
  if (!posix::Utf8ToCp932(in, &cp) || !posix::Cp932ToUtf8(cp, &back) || back != in) return false;
  *out = cp;
  return true;
}
bool Cp932ToUtf8(const std::string& in, std::string* out) { return posix::Cp932ToUtf8(in, out); }

}  // namespace host
