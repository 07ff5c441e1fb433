// The work folder.
#include "base/workfolder.h"

#include <cstdio>

#include "base/boxes.h"
#include "platform/platform.h"

namespace base {
namespace {

constexpr std::uint32_t kWorkFolderAttempts = 100;
constexpr char kWorkFolderPrefix[] = "TempGPInstallFolder_";

}  // namespace

void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size) {
  std::snprintf(out, size, "%s%09d", kWorkFolderPrefix, static_cast<std::int32_t>(ticks));
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
  if (r != plat::WorkFolder::Entered) return false;
  plat::RemoveAbandonedWorkFolders(kWorkFolderPrefix);  // what runs that were cut off left
  return true;
}

void RemoveWorkFolder() { plat::LeaveWorkFolder(); }

void EndWithError(const char* message) {
  ReportError("%s", message);
  RemoveWorkFolder();
  plat::Exit(-1);
}

}  // namespace base
