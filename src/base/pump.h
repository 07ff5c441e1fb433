// The message pump that long operations run between steps of their work.
#pragma once

namespace base {

// Drains the thread's message queue; a WM_QUIT ends the process with its wParam (the work
// folder stays).
void PumpMessages();
// The same, but a WM_QUIT is handed back instead: false with *quitCode set when one was taken
// (the messages after it stay queued).
bool PumpMessagesOrQuit(int* quitCode);

}  // namespace base
