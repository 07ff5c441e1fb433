// Bitmap surfaces: 24-bit images held in a device-independent bitmap section, so that the
// title image decoder writes its pixels straight into the memory GDI paints from.
#pragma once

#include <cstddef>
#include <cstdint>

namespace image {

// The 40-byte BITMAPINFOHEADER, laid out as GDI reads it (little-endian, packed).
#pragma pack(push, 1)
struct BitmapInfoHeader {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;  // negative: rows run from top to bottom
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;  // 0 = BI_RGB
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

struct BitmapSurface {
  std::int32_t width;
  std::int32_t height;     // always positive, whatever sign creation was given
  std::int32_t stride;     // bytes from one pixel row to the next, a multiple of 4
  BitmapInfoHeader* info;  // owned; handed to GDI as BITMAPINFO
  std::uint8_t* bits;      // pixel memory, owned by the bitmap section
  void* bitmap;            // the section (HBITMAP), owned
};

// Row stride of a surface of this width: 3 bytes per pixel, rounded up to a multiple of 4.
// -1 when the width is not positive or the stride would not fit a signed 32-bit integer.
std::int32_t SurfaceStride(std::int32_t width);

// A new all-black surface, or none when the size is not usable (width < 1, height 0, stride
// × rows beyond a signed 32-bit integer) or the system cannot create the bitmap section. A
// negative height makes the rows run from bottom to top; the recorded height is then its
// absolute value.
BitmapSurface* CreateSurface(std::int32_t width, std::int32_t height);
// Releases the surface and its section; nothing for none.
void FreeSurface(BitmapSurface* surface);

namespace internal {
// The two calls that differ between the product (GDI) and the native build.
// Creates a zero-filled bitmap section described by info (a BITMAPINFO) and stores its pixel
// memory in *bits. Returns the section, or none (and *bits none) when it cannot be made.
void* CreateSection(const BitmapInfoHeader* info, std::uint8_t** bits);
// Deletes the section and its pixel memory.
void DeleteSection(void* section);
}  // namespace internal

}  // namespace image
