// Bitmap surfaces: images held in a device-independent bitmap section, so that the title
// image decoder writes its pixels straight into the memory GDI paints from.
//
// Every live surface sits on a doubly linked list, newest first. A surface created with the
// keep flag refuses every release that is not forced.
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

constexpr std::size_t kColourEntries = 256;                           // RGBQUAD entries of an 8-bit surface
constexpr std::size_t kInfoSize24 = sizeof(BitmapInfoHeader);         // 40
constexpr std::size_t kInfoSize8 = kInfoSize24 + kColourEntries * 4;  // 1064
static_assert(kInfoSize8 == 1064, "header plus 256 RGBQUAD entries");

struct BitmapSurface {
  std::int32_t width;
  std::int32_t height;      // always positive, whatever sign creation was given
  std::int32_t stride;      // bytes from one pixel row to the next, a multiple of 4
  std::int32_t keep;        // nonzero: a release without force is refused
  std::int32_t palettized;  // nonzero: 8 bits per pixel and a colour table; else 24 bits
  BitmapInfoHeader* info;   // owned; 40 or 1064 bytes, handed to GDI as BITMAPINFO
  std::uint8_t* colours;    // the colour table inside info; none for 24-bit surfaces
  std::uint8_t* bits;       // pixel memory, owned by the bitmap section
  void* bitmap;             // the section (HBITMAP), owned
  BitmapSurface* prev;      // nearer the head of the list; none for the head
  BitmapSurface* next;      // farther from the head; none for the last
};

// Row stride of a surface of this width: 24-bit rows hold 3 bytes per pixel, 8-bit rows one;
// both are rounded up to a multiple of 4. -1 when the width is not positive or the stride
// would not fit a signed 32-bit integer.
std::int32_t SurfaceStride(std::int32_t width, std::int32_t palettized);

// A new all-black surface linked at the head of the list, or none when the size is not
// usable (width < 1, height 0, stride × rows beyond a signed 32-bit integer) or the system
// cannot create the bitmap section. A negative height makes the rows run from bottom to
// top; the recorded height is then its absolute value.
BitmapSurface* CreateSurface(std::int32_t width, std::int32_t height, std::int32_t palettized,
                             std::int32_t keep);
BitmapSurface* CreateSurface24(std::int32_t width, std::int32_t height, std::int32_t keep);

// 0 when released (or none was given), 1 when refused because keep is set and force is 0.
int FreeSurface(BitmapSurface* surface, int force);

// The newest live surface, or none. Nothing in the updater walks the list; tests do.
BitmapSurface* SurfaceListHead();

namespace internal {
// The two calls that differ between the product (GDI) and the native build.
// Creates a zero-filled bitmap section described by info (a BITMAPINFO) and stores its pixel
// memory in *bits. Returns the section, or none (and *bits none) when it cannot be made.
void* CreateSection(const BitmapInfoHeader* info, std::uint8_t** bits);
// Deletes the section and its pixel memory.
void DeleteSection(void* section);
}  // namespace internal

}  // namespace image
