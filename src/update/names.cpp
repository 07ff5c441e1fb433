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
  std::size_t start, end;
  paths::LastComponent(buf, &start, &end);
  buf[end] = '\0';
  return buf + start;
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
