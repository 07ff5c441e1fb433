// Win32-only helpers shared by the dialogs. Texts on windows go through here and nowhere
// else: code page 932 in, the system's Unicode windows out, whatever its code page is.
#pragma once

#include <windows.h>

#include <cstddef>

namespace base {

// Centres the window on the screen (size from the window's device context).
void CenterOnScreen(HWND w);
// The module that holds the dialog templates: the instance of the owner window when there
// is one, else this executable.
HINSTANCE DialogInstance();

// A window's or a dialog item's text, from code page 932.
void SetText(HWND w, const char* text);
void SetItemText(HWND dialog, int item, const char* text);
// A dialog item's text into buf (size bytes, terminated; empty unless Ok): TooLong when it does
// not fit, NotCp932 when a character has no code page 932 form.
enum class ItemText { Ok, TooLong, NotCp932 };
ItemText GetItemText(HWND dialog, int item, char* buf, std::size_t size);

}  // namespace base
