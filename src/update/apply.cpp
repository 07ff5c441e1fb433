// Applying the update once the install folder is known.
#include "update/apply.h"

#include "config/config.h"
#include "payload/container.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "update/finish.h"
#include "update/transfers.h"

namespace update {

int ApplyUpdate(const char* installFolder) {
  // Any failure of the extraction is reported there and ends the program.
  payload::ExtractPayload(installFolder, payload::Mode::Full);
  RecordInstallFolder(installFolder);
  TransferIniLines();
  TransferRegLines();
  DeleteAfterInstallFiles(installFolder);
  ShowFinishDialog();
  // A bare readme name is opened from the install folder; the folder stays current until
  // the menu removes the work folder.
  plat::SetCurrentFolder(installFolder);
  if (ReadmeAfterFinish()) {
    char readme[512];
    shell::OpenDocument(config::InstReadmeFl(readme, sizeof readme));
  }
  return 0;
}

}  // namespace update
