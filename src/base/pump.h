// The message pump that long operations run between steps of their work.
#pragma once

namespace base {

// Drains the thread's message queue; a WM_QUIT ends the process with its wParam (the work
// folder stays).
void PumpMessages();

}  // namespace base
