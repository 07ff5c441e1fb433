// Stand-in for the main menu: the run ends as the menu's exit button ends it.
#include "base/workfolder.h"
#include "shell/startup.h"

namespace shell {

int RunMainMenu() {
  base::RemoveWorkFolder();
  return 0;
}

}  // namespace shell
