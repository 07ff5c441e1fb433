// The work folder.
#include "base/workfolder.h"

#include <cstdio>

#include "base/boxes.h"
#include "platform/platform.h"

namespace base {
namespace {

char g_workFolder[plat::kMaxPath] = {};
bool g_workFolderMade = false;

}  // namespace

void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size) {
  std::snprintf(out, size, "TempGPInstallFolder_%09d", static_cast<std::int32_t>(ticks));
}

bool CreateWorkFolder() {
  char name[128];
  FormatWorkFolderName(plat::MillisecondsSinceStart(), name, sizeof name);
  g_workFolderMade = plat::EnterWorkFolder(name) == 0;
  if (!g_workFolderMade || plat::GetWorkFolder(g_workFolder, sizeof g_workFolder) == 0)
    g_workFolder[0] = '\0';
  return g_workFolderMade;
}

void RemoveWorkFolder() { plat::LeaveWorkFolder(); }

const char* WorkFolderPath() { return g_workFolder; }

void EndWithError(const char* message) {
  ReportError("%s", message);
  RemoveWorkFolder();
  plat::Exit(-1);
}

// Forgets the work folder (native tests).
void ResetWorkFolderForTests() {
  g_workFolder[0] = '\0';
  g_workFolderMade = false;
}

}  // namespace base
