// Stand-in for the bitmap section: zero-filled heap memory sized from the info block
// as GDI would size it. Tests can make the next creations fail.
#include <cstdlib>

#include "doubles.h"
#include "image/surface.h"

namespace image {
namespace internal {
namespace {
int g_failCount = 0;
}  // namespace

void* CreateSection(const BitmapInfoHeader* info, std::uint8_t** bits) {
  *bits = nullptr;
  if (g_failCount > 0) {
    --g_failCount;
    return nullptr;
  }
  if (info == nullptr || info->biSize != sizeof(BitmapInfoHeader) || info->biPlanes != 1 ||
      info->biBitCount != 24 || info->biHeight == 0) {
    return nullptr;
  }
  const std::int32_t stride = SurfaceStride(info->biWidth);
  if (stride < 0) return nullptr;
  const std::int64_t rows = info->biHeight < 0 ? -std::int64_t{info->biHeight} : info->biHeight;
  void* memory = std::calloc(static_cast<std::size_t>(std::int64_t{stride} * rows), 1);
  if (memory == nullptr) return nullptr;
  *bits = static_cast<std::uint8_t*>(memory);
  return memory;  // the "section" is its own pixel memory
}

void DeleteSection(void* section) { std::free(section); }

void FailSectionCreations(int count) { g_failCount = count; }

}  // namespace internal
}  // namespace image
