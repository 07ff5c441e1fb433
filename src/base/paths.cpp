// Path and file helpers over code page 932 byte strings.
#include "base/paths.h"

#include <cstring>

#include "platform/platform.h"

namespace paths {
namespace {

// True when the text's last byte is a backslash of its own, not the trail byte of a
// double-byte character. Walks from the start: only a forward scan knows where characters
// begin.
bool EndsInSeparator(const char* s, std::size_t len) {
  if (len == 0) return false;
  std::size_t i = 0;
  while (i < len) {
    std::size_t step = i + 1 < len ? cp932::CharLength(s + i) : 1;
    if (i + step == len) return step == 1 && s[i] == '\\';
    i += step;
  }
  return false;
}

// Length of the pattern's drive and folder part: everything up to and including its last
// separator (or a drive colon), double-byte aware.
std::size_t FolderPartLength(const char* pattern) {
  std::size_t cut = 0;
  for (std::size_t i = 0; pattern[i];) {
    unsigned char c = static_cast<unsigned char>(pattern[i]);
    const std::size_t step = cp932::CharLength(pattern + i);
    if (step == 1 && (c == '\\' || c == '/' || c == ':')) cut = i + 1;
    i += step;
  }
  return cut;
}

}  // namespace

char* StripTrailingBackslash(char* path) {
  std::size_t len = std::strlen(path);
  if (EndsInSeparator(path, len)) path[len - 1] = '\0';
  return path;
}

void LastComponent(const char* name, std::size_t* start, std::size_t* end) {
  *start = *end = 0;
  for (std::size_t i = 0; name[i];) {
    const std::size_t step = cp932::CharLength(name + i);
    const bool separator = step == 1 && (name[i] == '\\' || name[i] == '/');
    if (separator && name[i + 1]) *start = i + 1;
    if (!separator || name[i + 1]) *end = i + step;
    i += step;
  }
}

char* AppendTrailingBackslash(char* path, std::size_t size) {
  std::size_t len = std::strlen(path);
  if (!EndsInSeparator(path, len) && len + 1 < size) {
    path[len] = '\\';
    path[len + 1] = '\0';
  }
  return path;
}

const char* FindChar(const char* s, char c) {
  for (std::size_t i = 0; s[i];) {
    if (s[i] == c) return s + i;
    i += cp932::CharLength(s + i);
  }
  return nullptr;
}

const char* FindText(const char* s, const char* pattern) {
  std::size_t n = std::strlen(pattern);
  if (n == 0) return s;
  for (std::size_t i = 0; s[i];) {
    if (std::strncmp(s + i, pattern, n) == 0) return s + i;
    i += cp932::CharLength(s + i);
  }
  return nullptr;
}

int JoinPath(char* out, std::size_t size, const char* folder, const char* name) {
  std::size_t a = std::strlen(folder), b = std::strlen(name);
  if (size == 0) return -1;
  if (a + 1 + b + 1 > size) {
    out[0] = '\0';
    return -1;
  }
  std::memmove(out, folder, a);
  out[a] = '\\';
  std::memcpy(out + a + 1, name, b + 1);
  return 0;
}

void DeleteMatchingFiles(const char* folder, const char* pattern) {
  char saved[plat::kMaxPath] = {};
  plat::GetCurrentFolder(saved, sizeof saved);
  // The pattern is only ever applied inside the folder asked for: if it cannot be entered,
  // nothing is deleted anywhere.
  const std::size_t dir = FolderPartLength(pattern);
  plat::FindRecord found;
  plat::FindHandle scan = std::strlen(pattern) < plat::kMaxPath && plat::SetCurrentFolder(folder) == 0
                              ? plat::FindFirst(pattern, &found)
                              : nullptr;
  for (bool more = scan != nullptr; more; more = plat::FindNext(scan, &found)) {
    char path[plat::kMaxPath];  // the pattern's folder part and the name found
    const std::size_t name = std::strlen(found.name);
    if (found.folder || dir + name + 1 > sizeof path) continue;  // a file that cannot be named stays
    std::memcpy(path, pattern, dir);
    std::memcpy(path + dir, found.name, name + 1);
    plat::RemoveFile(path);
  }
  if (scan) plat::FindClose(scan);
  if (saved[0]) plat::SetCurrentFolder(saved);
}

}  // namespace paths
