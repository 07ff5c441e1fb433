// Applying the update once the install folder is known.
#include "update/apply.h"

#include "base/blocks.h"
#include "base/boxes.h"
#include "base/workfolder.h"
#include "config/config.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "platform/platform.h"
#include "update/finish.h"
#include "update/transfers.h"

namespace update {

int ApplyUpdate(const char* installFolder) {
  payload::Failure failure;
  if (payload::ExtractPayload(installFolder, payload::Mode::Full, payload::CopyProgressWindow(), &failure) !=
      0) {
    if (failure.fault == payload::Fault::Memory) base::EndOutOfMemory();
    payload::CloseProgressWindow();
    base::EndWithError(payload::text::kDamagedFile);
  }
  payload::CloseProgressWindow();
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
    base::OpenDocument(config::InstReadmeFl(readme, sizeof readme));
  }
  return 0;
}

}  // namespace update
