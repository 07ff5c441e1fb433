// The message pump.
#include "base/pump.h"

#include "platform/platform.h"

namespace base {

void PumpMessages() {
  int code = 0;
  if (!PumpMessagesOrQuit(&code)) plat::Exit(code);
}

bool PumpMessagesOrQuit(int* quitCode) {
  for (;;) {
    plat::Pumped r = plat::PumpOne(quitCode);
    if (r == plat::Pumped::Empty) return true;
    if (r == plat::Pumped::Quit) return false;
  }
}

}  // namespace base
