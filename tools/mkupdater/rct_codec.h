// mkupdater's side of the title image format: the encoder, a checked decoder for whole
// files, and PNG reading and writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/rct.h"

namespace mkupdater {

// A 24-bit picture as the image format stores it: rows top to bottom, packed without
// padding, each pixel blue, green, red.
struct BgrImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;  // 3 × width × height bytes
};

// Compresses the pixels into a data block (first pixel, then commands; no trailer).
// The parse is optimal in bytes over every back-reference source and both literal forms.
std::vector<std::uint8_t> EncodeRctData(const BgrImage& image);

// A whole file: header, the name field of the 01 variants, the data block and, for the
// trailer variants, "TS". -1 when the image has unusable dimensions, the name does not fit
// its 16-bit length, or a 00 variant is given a name.
int BuildRctFile(const BgrImage& image, image::RctVariant variant, const std::string& name,
                 std::vector<std::uint8_t>* out);

// Decodes a whole file strictly. 0 on success; -1 with a message in *error for a foreign
// signature, -2 for a damaged file (cut short, unusable dimensions, missing trailer, data that
// breaks off before the image is full). Bytes left over after the last command are ignored,
// as the loader ignores them.
int DecodeRctFile(const std::vector<std::uint8_t>& file, BgrImage* out, image::RctVariant* variant,
                  std::string* error);

// PNG files of any colour type and depth are read as 8-bit colour (alpha composited onto
// black). 0 / -1 with a message in *error. libpng on Linux (png_posix.cpp), the Windows
// Imaging Component on Windows (png_win32.cpp); both give the same pixels.
int ReadPng(const char* path, BgrImage* out, std::string* error);
int WritePng(const char* path, const BgrImage& image, std::string* error);
// 8-bit BGRA rows (width x height of *out) onto black: each colour times alpha / 255, rounded.
void CompositeOnBlack(const std::vector<std::uint8_t>& bgra, BgrImage* out);

// Parses "TC00", "TS00", "TC01", "TS01"; -1 for anything else.
int ParseRctVariantName(const char* text, image::RctVariant* out);

// Texts of the rct command and its helpers (defined in rct_codec.cpp).
namespace text {
extern const char kUsage[], kUnknownVariant[], kNameWithout01[], kNameTooLong[], kCannotRead[],
    kCannotWrite[], kUnknownSignature[], kShortHeader[], kBadDimensions[], kShortName[], kShortData[],
    kNoTrailer[], kBrokenData[], kPngRead[], kPngWrite[], kPngTooLarge[], kDecoded[], kEncoded[];
}  // namespace text

// `mkupdater rct ...`; argv[0] is "rct". Exit codes: 0 done, 1 usage or file access errors,
// 2 input that is not a valid image (unknown signature, damaged file, unreadable PNG).
int RunRctCommand(int argc, char** argv);

}  // namespace mkupdater
