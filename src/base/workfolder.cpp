// The work folder.
#include "base/workfolder.h"

#include <cstdio>
#include <cstring>

#include "base/boxes.h"
#include "base/paths.h"
#include "platform/platform.h"

namespace base {
namespace {

char g_savedFolder[plat::kMaxPath] = {};
char g_workFolder[plat::kMaxPath] = {};
bool g_workFolderMade = false;

}  // namespace

void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size) {
  std::snprintf(out, size, "TempGPInstallFolder_%09d", static_cast<std::int32_t>(ticks));
}

void CreateWorkFolder() {
  plat::GetCurrentFolder(g_savedFolder, plat::kMaxPath - 1);
  char name[128];
  FormatWorkFolderName(plat::MillisecondsSinceStart(), name, sizeof name);
  char path[plat::kMaxPath] = {};
  if (plat::GetTempFolder(path, plat::kMaxPath - 1) == 0) return;
  paths::AppendTrailingBackslash(path, sizeof path);
  std::size_t len = std::strlen(path), n = std::strlen(name);
  // A temporary-files path that leaves no room for the folder name gives no work folder:
  // the start-up extraction then cannot write and reports the damaged-file message.
  if (len + n + 1 > sizeof g_workFolder) return;
  std::memcpy(g_workFolder, path, len);
  std::memcpy(g_workFolder + len, name, n + 1);
  g_workFolderMade = true;
  plat::MakeFolder(g_workFolder);
  plat::SetCurrentFolder(g_workFolder);
}

void RemoveWorkFolder() {
  if (g_savedFolder[0]) plat::SetCurrentFolder(g_savedFolder);
  if (!g_workFolderMade) return;
  paths::DeleteMatchingFiles(g_workFolder, "*.*");
  plat::RemoveFolder(g_workFolder);
}

const char* WorkFolderPath() { return g_workFolder; }

void EndWithError(const char* message) {
  ReportError("%s", message);
  RemoveWorkFolder();
  plat::Exit(-1);
}

// Forgets the work folder (native tests).
void ResetWorkFolderForTests() {
  g_savedFolder[0] = g_workFolder[0] = '\0';
  g_workFolderMade = false;
}

}  // namespace base
