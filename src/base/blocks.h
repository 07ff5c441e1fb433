// Memory blocks and owning handles for heap memory and C streams.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace base {

// A heap block of n + 32 bytes. On failure the out-of-memory box is shown and the run ends
// (work folder removed, exit -1): no caller ever sees a missing block.
void* AllocBlock(std::size_t n);
// The out-of-memory end itself, for work that allocates on its own and reports the failure.
[[noreturn]] void EndOutOfMemory();

struct BlockFree {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char[], BlockFree>;
inline Block AllocOwned(std::size_t n) { return Block(static_cast<unsigned char*>(AllocBlock(n))); }

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

}  // namespace base
