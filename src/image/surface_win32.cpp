// The bitmap section of a surface: a GDI DIB section whose pixel memory the decoder fills
// and the main menu paints with StretchDIBits.
#include <windows.h>

#include "image/surface.h"

namespace image {
namespace internal {

static_assert(sizeof(BitmapInfoHeader) == sizeof(BITMAPINFOHEADER), "same header layout");

void* CreateSection(const BitmapInfoHeader* info, std::uint8_t** bits) {
  *bits = nullptr;
  // A memory context compatible with the screen; with DIB_RGB_COLORS the section does not
  // depend on it, so a missing context is passed on as none.
  HDC dc = CreateCompatibleDC(nullptr);
  void* memory = nullptr;
  HBITMAP section =
      CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(info), DIB_RGB_COLORS, &memory, nullptr, 0);
  if (dc != nullptr) DeleteDC(dc);
  if (section == nullptr || memory == nullptr) {
    if (section != nullptr) DeleteObject(section);
    return nullptr;
  }
  *bits = static_cast<std::uint8_t*>(memory);
  return section;
}

void DeleteSection(void* section) {
  if (section != nullptr) DeleteObject(static_cast<HBITMAP>(section));
}

}  // namespace internal
}  // namespace image
