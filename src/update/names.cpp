// The names that a staged update keeps for itself.
#include <cstring>
#include <initializer_list>

#include "base/paths.h"
#include "update/stage.h"

namespace update {
namespace {

bool EndsWithNoCase(const char* s, const char* suffix) {
  std::size_t n = std::strlen(s), m = std::strlen(suffix);
  if (n < m) return false;
  for (std::size_t i = 0; i < m; ++i) {
    unsigned char a = static_cast<unsigned char>(s[n - m + i]), b = static_cast<unsigned char>(suffix[i]);
    if ((a >= 'A' && a <= 'Z' ? a + 32 : a) != b) return false;
  }
  return true;
}

bool SameNoCase(const char* a, const char* b) {
  return std::strlen(a) == std::strlen(b) && EndsWithNoCase(a, b);
}

// The last component of a record name (a folder record may end in its separator).
const char* LastComponent(const char* name, char (&buf)[payload::kMaxName]) {
  std::size_t n = std::strlen(name);
  if (n >= sizeof buf) n = sizeof buf - 1;
  std::memcpy(buf, name, n);
  buf[n] = '\0';
  if (n > 0 && (buf[n - 1] == '\\' || buf[n - 1] == '/') &&
      (n < 2 || !paths::IsLeadByte(static_cast<unsigned char>(buf[n - 2]))))
    buf[n - 1] = '\0';
  const char* last = buf;
  for (const char* p = buf; *p; p += (paths::IsLeadByte(static_cast<unsigned char>(*p)) && p[1]) ? 2 : 1)
    if (*p == '\\' || *p == '/') last = p + 1;
  return last;
}

}  // namespace

bool IsReservedName(const char* name) {
  char buf[payload::kMaxName];
  const char* last = LastComponent(name, buf);
  if (EndsWithNoCase(last, kStagedSuffix) || EndsWithNoCase(last, kBackupSuffix)) return true;
  for (const char* j : {kJournalWriting, kJournalStaging, kJournalCommit})
    if (SameNoCase(buf, j)) return true;
  return false;
}

}  // namespace update
