// Message boxes and the window that owns them.
//
// Every box is owned by the owner window (the main menu, once it is open) and carries the
// owner's current title as its caption. Texts are formatted printf-style into 1024 bytes.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace base {

constexpr std::size_t kMessageSize = 1024;

// Retry/Cancel, error icon. Returns on Retry (or when the box cannot be shown); Cancel ends
// the process with -1 and leaves the work folder. The text also goes to the clipboard.
void ReportFatal(const char* format, ...);
// OK, error icon. Always returns. The text also goes to the clipboard.
void ReportError(const char* format, ...);
// Yes/No, question icon. True for Yes.
bool AskYesNo(const char* format, ...);

void SetOwnerWindow(plat::Window w);
plat::Window GetOwnerWindow();
const char* GetOwnerTitle();  // the owner's title, read afresh; "" without an owner

// Opens a document with its associated program ("open", normal window, the owner window as
// parent). A relative name is taken from the current folder. Failures are not reported.
void OpenDocument(const char* path);

}  // namespace base
