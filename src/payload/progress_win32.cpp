// The copy-progress window.
#include <windows.h>

#include "payload/progress.h"
#include "shell/shell.h"

namespace payload {

// Until the window exists the extraction runs without display, keeping the windows alive.
plat::Window OpenProgressWindow(std::uint32_t) { return nullptr; }
void BeginProgressFile(plat::Window, const char*, std::uint32_t) {}
void UpdateProgress(plat::Window, std::uint32_t, std::uint32_t) { shell::PumpMessages(); }
int CloseProgressWindow() { return 1; }

}  // namespace payload
