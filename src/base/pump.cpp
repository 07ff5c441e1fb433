// The message pump.
#include "base/pump.h"

#include "platform/platform.h"

namespace base {

void PumpMessages() {
  int code = 0;
  for (;;) {
    plat::Pumped r = plat::PumpOne(&code);
    if (r == plat::Pumped::Empty) return;
    if (r == plat::Pumped::Quit) plat::Exit(code);
  }
}

}  // namespace base
