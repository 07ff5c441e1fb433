// Opening files by name.
#include "base/files.h"

#include <cstring>

#include "base/boxes.h"
#include "base/messages.h"
#include "base/paths.h"
#include "platform/platform.h"

namespace base {
namespace {

bool g_plainNameLookup = false;

// A .ogg or .wav extension on the last path component, compared without ASCII case.
bool IsSoundFile(const char* name) {
  return cp932::EndsWithNoCase(name, ".ogg") || cp932::EndsWithNoCase(name, ".wav");
}

}  // namespace

void EnablePlainNameLookup() { g_plainNameLookup = true; }

std::FILE* Ffopen(const char* name, const char* mode) {
  for (;;) {
    std::FILE* f = g_plainNameLookup ? plat::OpenFile(name, mode) : nullptr;
    if (f) return f;
    ReportFatal(text::kFfopenFailed, name);
  }
}

bool FileExists(const char* name) {
  if (IsSoundFile(name) && paths::FindChar(name, '\\')) return false;
  if (!g_plainNameLookup) return false;
  char copy[plat::kMaxPath];
  std::size_t len = std::strlen(name);
  if (len >= sizeof copy) return false;  // no file of such a name can be opened
  std::memcpy(copy, name, len + 1);
  std::FILE* f = plat::OpenFile(copy, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Forgets the lookup mode (native tests).
void ResetFilesForTests() { g_plainNameLookup = false; }

}  // namespace base
