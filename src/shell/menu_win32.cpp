// The main menu window.
#include <windows.h>

#include "shell/shell.h"
#include "shell/startup.h"

namespace shell {

// Until the menu window exists, a run ends cleanly after the start-up files are in place.
int RunMainMenu() {
  RemoveWorkFolder();
  return 0;
}

}  // namespace shell
