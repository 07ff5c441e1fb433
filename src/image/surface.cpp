// Bitmap surfaces: the record and its info block. The section itself comes from
// surface_win32.cpp (GDI), or from a stand-in in the native tests.
#include "image/surface.h"

#include <cstdlib>
#include <cstring>

#include "base/blocks.h"

namespace image {
namespace {

template <typename T>
T* AllocZeroed(std::size_t bytes) {
  void* p = base::AllocBlock(bytes);  // never returns without a block
  std::memset(p, 0, bytes);
  return static_cast<T*>(p);
}

}  // namespace

std::int32_t SurfaceStride(std::int32_t width) {
  if (width < 1) return -1;
  const std::int64_t stride = (std::int64_t{width} * 3 + 3) / 4 * 4;
  if (stride > INT32_MAX) return -1;
  return static_cast<std::int32_t>(stride);
}

BitmapSurface* CreateSurface(std::int32_t width, std::int32_t height) {
  // A size that GDI could not describe (or that would overflow the header's fields) is
  // refused before anything is allocated.
  const std::int32_t stride = SurfaceStride(width);
  if (stride < 0 || height == 0 || height == INT32_MIN) return nullptr;
  const std::int32_t rows = height < 0 ? -height : height;
  if (std::int64_t{stride} * rows > INT32_MAX) return nullptr;

  auto* info = AllocZeroed<BitmapInfoHeader>(sizeof(BitmapInfoHeader));
  info->biSize = sizeof(BitmapInfoHeader);
  info->biWidth = width;
  info->biHeight = -height;  // a positive height asks for top-down rows
  info->biPlanes = 1;
  info->biBitCount = 24;

  std::uint8_t* bits = nullptr;
  void* section = internal::CreateSection(info, &bits);
  if (section == nullptr || bits == nullptr) {
    if (section != nullptr) internal::DeleteSection(section);
    std::free(info);
    return nullptr;
  }

  auto* s = AllocZeroed<BitmapSurface>(sizeof(BitmapSurface));
  *s = BitmapSurface{width, rows, stride, info, bits, section};
  return s;
}

void FreeSurface(BitmapSurface* surface) {
  if (surface == nullptr) return;
  internal::DeleteSection(surface->bitmap);  // frees the pixel memory with it
  std::free(surface->info);
  std::free(surface);
}

}  // namespace image
