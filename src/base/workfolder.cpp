// The work folder.
#include "base/workfolder.h"

#include <cstdio>

#include "base/boxes.h"
#include "platform/platform.h"

namespace base {
namespace {

constexpr std::uint32_t kWorkFolderAttempts = 100;

}  // namespace

void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size) {
  std::snprintf(out, size, "TempGPInstallFolder_%09d", static_cast<std::int32_t>(ticks));
}

bool CreateWorkFolder() {
  // A name that anything already has is passed over for the next number: the folder must be
  // one this run has just made.
  const std::uint32_t ticks = plat::MillisecondsSinceStart();
  plat::WorkFolder r = plat::WorkFolder::Exists;
  for (std::uint32_t attempt = 0; r == plat::WorkFolder::Exists && attempt < kWorkFolderAttempts; ++attempt) {
    char name[128];
    FormatWorkFolderName(ticks + attempt, name, sizeof name);
    r = plat::EnterWorkFolder(name);
  }
  return r == plat::WorkFolder::Entered;
}

void RemoveWorkFolder() { plat::LeaveWorkFolder(); }

void EndWithError(const char* message) {
  ReportError("%s", message);
  RemoveWorkFolder();
  plat::Exit(-1);
}

}  // namespace base
