// Bitmap surfaces: the record, its info block and the list of live surfaces. The section
// itself comes from surface_win32.cpp (GDI) or surface_host.cpp (native build).
#include "image/surface.h"

#include <cstdlib>
#include <cstring>

#include "base/blocks.h"

namespace image {
namespace {

BitmapSurface* g_surfaceList = nullptr;  // newest first

template <typename T>
T* AllocZeroed(std::size_t bytes) {
  void* p = base::AllocBlock(bytes);  // never returns without a block
  std::memset(p, 0, bytes);
  return static_cast<T*>(p);
}

}  // namespace

std::int32_t SurfaceStride(std::int32_t width, std::int32_t palettized) {
  if (width < 1) return -1;
  const std::int64_t rowBytes = palettized ? std::int64_t{width} : std::int64_t{width} * 3;
  const std::int64_t stride = (rowBytes + 3) / 4 * 4;
  if (stride > INT32_MAX) return -1;
  return static_cast<std::int32_t>(stride);
}

BitmapSurface* CreateSurface(std::int32_t width, std::int32_t height, std::int32_t palettized,
                             std::int32_t keep) {
  // A size that GDI could not describe (or that would overflow the header's fields) is
  // refused before anything is allocated.
  const std::int32_t stride = SurfaceStride(width, palettized);
  if (stride < 0 || height == 0 || height == INT32_MIN) return nullptr;
  const std::int32_t rows = height < 0 ? -height : height;
  if (std::int64_t{stride} * rows > INT32_MAX) return nullptr;

  const std::size_t infoSize = palettized ? kInfoSize8 : kInfoSize24;
  auto* info = AllocZeroed<BitmapInfoHeader>(infoSize);
  info->biSize = sizeof(BitmapInfoHeader);
  info->biWidth = width;
  info->biHeight = -height;  // a positive height asks for top-down rows
  info->biPlanes = 1;
  info->biBitCount = palettized ? 8 : 24;
  info->biClrUsed = palettized ? kColourEntries : 0;

  std::uint8_t* bits = nullptr;
  void* section = internal::CreateSection(info, &bits);
  if (section == nullptr || bits == nullptr) {
    if (section != nullptr) internal::DeleteSection(section);
    std::free(info);
    return nullptr;
  }

  auto* s = AllocZeroed<BitmapSurface>(sizeof(BitmapSurface));
  s->width = width;
  s->height = rows;
  s->stride = stride;
  s->keep = keep;
  s->palettized = palettized;
  s->info = info;
  s->colours = palettized ? reinterpret_cast<std::uint8_t*>(info) + kInfoSize24 : nullptr;
  s->bits = bits;
  s->bitmap = section;

  s->prev = nullptr;
  s->next = g_surfaceList;
  if (g_surfaceList != nullptr) g_surfaceList->prev = s;
  g_surfaceList = s;
  return s;
}

BitmapSurface* CreateSurface24(std::int32_t width, std::int32_t height, std::int32_t keep) {
  return CreateSurface(width, height, 0, keep);
}

int FreeSurface(BitmapSurface* surface, int force) {
  if (surface == nullptr) return 0;
  if (force == 0 && surface->keep != 0) return 1;

  if (surface->prev != nullptr) {
    surface->prev->next = surface->next;
  } else {
    g_surfaceList = surface->next;
  }
  if (surface->next != nullptr) surface->next->prev = surface->prev;

  internal::DeleteSection(surface->bitmap);  // frees the pixel memory with it
  std::free(surface->info);
  std::free(surface);
  return 0;
}

BitmapSurface* SurfaceListHead() { return g_surfaceList; }

}  // namespace image
