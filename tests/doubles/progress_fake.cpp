// Stand-in for the copy-progress window: pumps after every block as the window does, handing a
// quit message to the extraction.
#include "base/pump.h"
#include "payload/progress.h"

namespace payload {
namespace {

bool g_open = false;
bool g_quit = false;
int g_quitCode = 0;

bool Start(Progress*, std::uint32_t) {
  g_open = true;
  g_quit = false;
  return true;
}

void BeginFile(Progress*, const char*, std::uint32_t) {}

bool BlocksWritten(Progress*, std::uint32_t, std::uint32_t) {
  g_quit = g_quit || !base::PumpMessagesOrQuit(&g_quitCode);
  return !g_quit;
}

Progress g_watcher = {Start, BeginFile, BlocksWritten};

}  // namespace

Progress* CopyProgressWindow() { return &g_watcher; }

bool QuitTaken(int* code) {
  if (g_quit) *code = g_quitCode;
  return g_quit;
}

int CloseProgressWindow() {
  if (!g_open) return 1;
  g_open = false;
  return 0;
}

}  // namespace payload
