// Host stand-in for the copy-progress window: records what the extraction reports.
#include "payload/progress.h"
#include "shell/shell.h"

namespace payload {
namespace {
bool g_open = false;
int g_token;
}  // namespace

std::vector<ProgressEvent>& RecordedProgress() {
  static std::vector<ProgressEvent> events;
  return events;
}

plat::Window OpenProgressWindow(std::uint32_t totalBytes) {
  CloseProgressWindow();
  g_open = true;
  RecordedProgress().push_back({'O', "", totalBytes, 0});
  return &g_token;
}

void BeginProgressFile(plat::Window w, const char* path, std::uint32_t size) {
  if (w) RecordedProgress().push_back({'B', path, size, 0});
}

void UpdateProgress(plat::Window w, std::uint32_t written, std::uint32_t consumed) {
  if (w) RecordedProgress().push_back({'U', "", written, consumed});
  shell::PumpMessages();
}

int CloseProgressWindow() {
  if (!g_open) return 1;
  g_open = false;
  RecordedProgress().push_back({'C', "", 0, 0});
  return 0;
}

}  // namespace payload
