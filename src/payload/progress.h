// The copy-progress window: the watcher that shows a full extraction to the user. Both bars
// count in 128 KiB units.
#pragma once

#include <cstdint>

#include "payload/extract.h"

namespace payload {

constexpr std::uint32_t kProgressUnit = 131072;

// The window as an extraction's watcher. Its start opens the window for the total (closing
// one still open); when the dialog cannot be made the extraction goes on without display.
// After every block it moves both bars, then pumps the message queue (it only pumps when
// there is no window). A quit message taken by its pumps stops the extraction; QuitTaken
// then gives its wParam.
Progress* CopyProgressWindow();
bool QuitTaken(int* code);
// 0 after destroying the open window, 1 when none was open.
int CloseProgressWindow();

}  // namespace payload
