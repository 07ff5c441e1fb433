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

// The one owning buffer of heap bytes. base::Allocate reports a failed allocation to its caller
// (an empty buffer), for the work that must put things back before it ends; AllocOwned ends
// the run instead.
struct FreeBytes {
  void operator()(void* p) const { std::free(p); }
};
template <typename T = unsigned char>
using Owned = std::unique_ptr<T[], FreeBytes>;
template <typename T = unsigned char>
Owned<T> Allocate(std::size_t count) {
  return Owned<T>(static_cast<T*>(std::calloc(count ? count : 1, sizeof(T))));
}
inline Owned<> AllocOwned(std::size_t n) { return Owned<>(static_cast<unsigned char*>(AllocBlock(n))); }

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

}  // namespace base
