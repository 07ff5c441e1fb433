// Stand-in for the copy-progress window: records what the extraction reports, and pumps
// after every block as the window does, handing a quit message to the extraction.
#include "base/pump.h"
#include "doubles.h"
#include "payload/progress.h"

namespace payload {
namespace {

bool g_open = false;
bool g_quit = false;
int g_quitCode = 0;

bool Start(Progress*, std::uint32_t total) {
  CloseProgressWindow();
  g_open = true;
  g_quit = false;
  RecordedProgress().push_back({'O', "", total, 0});
  return true;
}

void BeginFile(Progress*, const char* path, std::uint32_t size) {
  if (g_open) RecordedProgress().push_back({'B', path, size, 0});
}

bool BlocksWritten(Progress*, std::uint32_t written, std::uint32_t consumed) {
  if (g_open) RecordedProgress().push_back({'U', "", written, consumed});
  g_quit = g_quit || !base::PumpMessagesOrQuit(&g_quitCode);
  return !g_quit;
}

Progress g_watcher = {Start, BeginFile, BlocksWritten};

}  // namespace

std::vector<ProgressEvent>& RecordedProgress() {
  static std::vector<ProgressEvent> events;
  return events;
}

Progress* CopyProgressWindow() { return &g_watcher; }

bool QuitTaken(int* code) {
  if (g_quit) *code = g_quitCode;
  return g_quit;
}

int CloseProgressWindow() {
  if (!g_open) return 1;
  g_open = false;
  RecordedProgress().push_back({'C', "", 0, 0});
  return 0;
}

}  // namespace payload
