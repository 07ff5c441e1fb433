// Start-up of the updater.
#include "shell/startup.h"

#include <cstring>

#include "config/config.h"
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

  config::LoadSetupConfig(configName);
  config::LoadSetupSections(configName);

  // One updater per title: the mutex is held, never released, until the process ends.
  switch (plat::CreateOwnedMutex(config::UpdaterTitle())) {
    case plat::MutexResult::Failed:
      RemoveWorkFolder();
      plat::Exit(0);
    case plat::MutexResult::AlreadyExists: {
      char message[kMessageSize];
      std::snprintf(message, sizeof message, text::kAlreadyRunning, config::UpdaterTitle());
      plat::ShowMessageBox(nullptr, message, config::TitleBar(), plat::kMbOk | plat::kMbIconError);
      RemoveWorkFolder();
      plat::Exit(0);
    }
    case plat::MutexResult::Created:
      break;
  }

  return RunMainMenu();
}

}  // namespace shell
