// The engine's compressed 24-bit title image (insttscr.rct): header parsing, the decoder and
// the loader that turns a file into a bitmap surface.
//
// File layout (little-endian):
//   0   8  signature: "六丁" (98 5A 92 9A) and "TC00", "TS00", "TC01" or "TS01"
//   8   4  width in pixels
//   12  4  height in pixels
//   16  4  data size: byte length of the data block
//   20  2  name length            (01 variants only)
//   22  n  name, opaque bytes     (01 variants only)
//   then the data block; in the S (trailer) variants its last two bytes are "TS".
// Pixels are blue, green, red; rows top to bottom, packed without padding while decoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/surface.h"

namespace image {

constexpr std::size_t kRctHeaderSize = 20;
constexpr std::size_t kRctSignatureSize = 8;
constexpr std::size_t kRctNameLengthSize = 2;
constexpr std::uint8_t kRctTrailer[2] = {0x54, 0x53};  // "TS"
constexpr int kRctOffsetCount = 32;

enum class RctVariant { TC00, TS00, TC01, TS01 };

// The four signatures, "六丁TC00", "六丁TS00", "六丁TC01", "六丁TS01", as bytes: the
// comparison is on the code page 932 bytes, whatever the compiler does with literals.
constexpr char kRctSignatures[4][kRctSignatureSize + 1] = {
    "\x98\x5A\x92\x9A"
    "TC00",
    "\x98\x5A\x92\x9A"
    "TS00",
    "\x98\x5A\x92\x9A"
    "TC01",
    "\x98\x5A\x92\x9A"
    "TS01",
};

constexpr bool RctHasTrailer(RctVariant v) { return v == RctVariant::TS00 || v == RctVariant::TS01; }
constexpr bool RctHasName(RctVariant v) { return v == RctVariant::TC01 || v == RctVariant::TS01; }

struct RctHeader {
  RctVariant variant;
  std::int32_t width;
  std::int32_t height;
  std::uint32_t dataSize;
};

// Parses the 20-byte header. 0 when the signature is one of the four (exact 8-byte match),
// -1 for any other signature or fewer than 20 bytes.
int ParseRctHeader(const std::uint8_t* bytes, std::size_t size, RctHeader* out);

// True when width and height are at least 1 and width × height × 3 fits a signed 32-bit
// integer.
bool RctDimensionsUsable(std::int32_t width, std::int32_t height);

// Byte offsets of the 32 back-reference sources for this width: 3 × (dx + dy × width).
void BuildRctOffsets(std::int32_t width, std::int64_t offsets[kRctOffsetCount]);

// Decodes a data block (without its trailer) into pixels: packed rows of 3 × width bytes
// first, then spread to stride bytes per row from the last row up. The pixel memory must
// hold stride × height bytes (pixelBytes says how many it has).
// Damaged: a command or run past the end of the block or of the image, a source before the
// first pixel; decoding stops before that command and keeps what it produced, still spread
// to the stride. Unusable: the dimensions or the pixel memory; nothing is written then.
// *consumed (optional) receives the number of data bytes used.
enum class RctDecode { Filled, Damaged, Unusable };
RctDecode DecodeRctData(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height,
                        std::uint8_t* pixels, std::size_t stride, std::size_t pixelBytes,
                        std::size_t* consumed = nullptr);

// Loads an image file into a new surface. Returns:
//  - the decoded image (a damaged data block keeps what decoded before the damage);
//  - an all-black surface of the header's size when a trailer variant lacks its trailer;
//  - none for an unknown signature, unusable dimensions, a surface that cannot be created,
//    or a file that stays shorter than its header announces after kRctReadAttempts reads.
// Opening goes through base::Ffopen, which asks the user to retry until the file opens.
constexpr int kRctReadAttempts = 3;
BitmapSurface* LoadRctImage(const char* path);

}  // namespace image
