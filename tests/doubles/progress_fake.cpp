// Stand-in for the copy-progress window: records what the extraction reports, and pumps
// after every block as the window does.
#include "base/pump.h"
#include "doubles.h"
#include "payload/progress.h"

namespace payload {
namespace {

bool g_open = false;

void Start(Progress*, std::uint32_t total) {
  CloseProgressWindow();
  g_open = true;
  RecordedProgress().push_back({'O', "", total, 0});
}

void BeginFile(Progress*, const char* path, std::uint32_t size) {
  if (g_open) RecordedProgress().push_back({'B', path, size, 0});
}

void BlocksWritten(Progress*, std::uint32_t written, std::uint32_t consumed) {
  if (g_open) RecordedProgress().push_back({'U', "", written, consumed});
  base::PumpMessages();
}

Progress g_watcher = {Start, BeginFile, BlocksWritten};

}  // namespace

std::vector<ProgressEvent>& RecordedProgress() {
  static std::vector<ProgressEvent> events;
  return events;
}

Progress* CopyProgressWindow() { return &g_watcher; }

int CloseProgressWindow() {
  if (!g_open) return 1;
  g_open = false;
  RecordedProgress().push_back({'C', "", 0, 0});
  return 0;
}

}  // namespace payload
