// PNG reading and writing on Linux, through libpng's simplified interface. Pixels are read
// as 8-bit BGRA and composited onto black by CompositeOnBlack, as on Windows.
#include <png.h>

#include <cstring>

#include "rct_codec.h"
#include "tool.h"

namespace mkupdater {

int ReadPng(const char* path, BgrImage* out, std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path)) {
    *error = Format(text::kPngRead, path, png.message);
    return -1;
  }
  png.format = PNG_FORMAT_BGRA;
  if (std::uint64_t{png.width} * png.height * 4 > INT32_MAX) {
    png_image_free(&png);
    *error = Format(text::kPngTooLarge, path);
    return -1;
  }
  std::vector<std::uint8_t> bgra(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, bgra.data(), 0, nullptr)) {
    *error = Format(text::kPngRead, path, png.message);
    png_image_free(&png);
    return -1;
  }
  out->width = static_cast<std::int32_t>(png.width);
  out->height = static_cast<std::int32_t>(png.height);
  CompositeOnBlack(bgra, out);
  return 0;
}

int WritePng(const char* path, const BgrImage& image, std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_BGR;
  if (!png_image_write_to_file(&png, path, 0, image.pixels.data(), 0, nullptr)) {
    *error = Format(text::kPngWrite, path, png.message);
    return -1;
  }
  return 0;
}

}  // namespace mkupdater
