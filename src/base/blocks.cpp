// Memory blocks.
#include "base/blocks.h"

#include <cstdint>

#include "base/messages.h"
#include "base/workfolder.h"
#include "platform/platform.h"

namespace base {

void* AllocBlock(std::size_t n) {
  void* p = n <= SIZE_MAX - 32 ? std::malloc(n + 32) : nullptr;
  if (!p) EndOutOfMemory();
  return p;
}

void EndOutOfMemory() {
  // The box says that processing stops; it does, cleanly: the work folder goes with it.
  plat::ShowMessageBox(nullptr, text::kOutOfMemory, text::kOutOfMemoryCaption,
                       plat::kMbOk | plat::kMbIconError);
  RemoveWorkFolder();
  plat::Exit(-1);
}

}  // namespace base
