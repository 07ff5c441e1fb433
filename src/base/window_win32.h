// Win32-only helpers shared by the dialogs.
#pragma once

#include <windows.h>

namespace base {

// Centres the window on the screen (size from the window's device context).
void CenterOnScreen(HWND w);
// The module that holds the dialog templates: the instance of the owner window when there
// is one, else this executable.
HINSTANCE DialogInstance();

}  // namespace base
