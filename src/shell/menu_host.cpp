// Host stand-in for the main menu: the run ends as the menu's exit button ends it.
#include "shell/shell.h"
#include "shell/startup.h"

namespace shell {

int RunMainMenu() {
  RemoveWorkFolder();
  return 0;
}

}  // namespace shell
