// Start-up of the updater.
#include "shell/startup.h"

#include <cstring>

#include "payload/container.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace shell {

int RunUpdater() {
  plat::CoInit();
  plat::AtExit(plat::CoUninit);
  EnablePlainNameLookup();
  CreateWorkFolder();
  payload::ExtractPayload(WorkFolderPath(), payload::Mode::Bootstrap);

  char configName[128] = {};
  std::strcpy(configName, "install.env");
  if (!FileExists(configName)) {
    ReportError(text::kMissingStartupFiles);
    RemoveWorkFolder();
    plat::Exit(-1);
  }

  return RunMainMenu();
}

}  // namespace shell
