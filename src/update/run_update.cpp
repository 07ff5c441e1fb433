// The update action.
#include "base/boxes.h"
#include "config/config.h"
#include "platform/platform.h"
#include "update/apply.h"
#include "update/locate.h"
#include "update/messages.h"
#include "update/update.h"

namespace update {

int RunUpdate() {
  char installFolder[plat::kMaxPath] = {};

  // 1. Locate: automatically, else by hand when the user wants to.
  Located r = LocateInstallFolder(installFolder, sizeof installFolder);
  if (r == Located::NotFound && base::AskYesNo(text::kAskManualRoute, config::TitleBar()) &&
      SelectInstallFolder(installFolder, sizeof installFolder))
    r = Located::Found;
  if (r != Located::Found) {
    base::ReportError(text::kAbandoned);
    return -1;
  }

  return ApplyUpdate(installFolder);
}

}  // namespace update
