// Title image header and decoder: pure functions over bytes.
#include "image/rct.h"

#include <cstring>

namespace image {
namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Back-reference sources as pixel displacements (dx, dy) from the current output pixel.
// Current row: the six pixels to the left. Rows 1 to 3 above: dx +3 down to -3. Row 4 above:
// dx +2 down to -2.
struct Displacement {
  std::int8_t dx, dy;
};
constexpr Displacement kDisplacements[kRctOffsetCount] = {
    {-1, 0}, {-2, 0}, {-3, 0}, {-4, 0},  {-5, 0},  {-6, 0},             // 0-5
    {3, -1}, {2, -1}, {1, -1}, {0, -1},  {-1, -1}, {-2, -1}, {-3, -1},  // 6-12
    {3, -2}, {2, -2}, {1, -2}, {0, -2},  {-1, -2}, {-2, -2}, {-3, -2},  // 13-19
    {3, -3}, {2, -3}, {1, -3}, {0, -3},  {-1, -3}, {-2, -3}, {-3, -3},  // 20-26
    {2, -4}, {1, -4}, {0, -4}, {-1, -4}, {-2, -4},                      // 27-31
};

// Input side of the decoder: a cursor that never passes the end of the data block.
struct Cursor {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;

  bool Has(std::size_t n) const { return n <= size - pos; }
  std::uint8_t U8() { return data[pos++]; }
  std::uint32_t U16() {
    const std::uint32_t v = std::uint32_t{data[pos]} | std::uint32_t{data[pos + 1]} << 8;
    pos += 2;
    return v;
  }
};

// Literal pixels are copied a 32-bit word at a time, then the 0 to 3 remaining bytes.
void CopyLiteral(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint32_t word;
    std::memcpy(&word, src + i, 4);
    std::memcpy(dst + i, &word, 4);
  }
  for (; i < n; ++i) dst[i] = src[i];
}

// Spreads packed rows (3 × width bytes each) to their stride, last row first, so that no row
// is overwritten before it has moved. Padding bytes keep whatever they held.
void Restride(std::uint8_t* pixels, std::size_t rowBytes, std::size_t stride, std::int32_t height) {
  if (stride == rowBytes) return;
  for (std::int32_t y = height - 1; y >= 1; --y) {
    std::memmove(pixels + static_cast<std::size_t>(y) * stride,
                 pixels + static_cast<std::size_t>(y) * rowBytes, rowBytes);
  }
}

}  // namespace

// Header, 20 bytes, little-endian: signature[8] ("六丁" 98 5A 92 9A + "TC00" / "TS00" /
// "TC01" / "TS01"), width u32 @8, height u32 @12, data size u32 @16.
int ParseRctHeader(const std::uint8_t* bytes, std::size_t size, RctHeader* out) {
  if (bytes == nullptr || size < kRctHeaderSize) return -1;
  // The order of the table decides which variant a signature names.
  constexpr RctVariant kVariants[4] = {RctVariant::TC00, RctVariant::TS00, RctVariant::TC01,
                                       RctVariant::TS01};
  for (int i = 0; i < 4; ++i) {
    if (std::memcmp(bytes, kRctSignatures[i], kRctSignatureSize) == 0) {
      out->variant = kVariants[i];
      out->width = static_cast<std::int32_t>(ReadU32(bytes + 8));
      out->height = static_cast<std::int32_t>(ReadU32(bytes + 12));
      out->dataSize = ReadU32(bytes + 16);
      return 0;
    }
  }
  return -1;
}

bool RctDimensionsUsable(std::int32_t width, std::int32_t height) {
  return width >= 1 && height >= 1 && std::int64_t{width} * height * 3 <= INT32_MAX;
}

void BuildRctOffsets(std::int32_t width, std::int64_t offsets[kRctOffsetCount]) {
  for (int k = 0; k < kRctOffsetCount; ++k) {
    offsets[k] = 3 * (std::int64_t{kDisplacements[k].dx} + std::int64_t{kDisplacements[k].dy} * width);
  }
}

// Data block: bytes 0-2 are the first pixel. Then commands, each led by a control byte f:
//   f bit 7 set     back-reference, source k = (f >> 2) & 31;
//                   f & 3 = 0..2: 3 × (f & 3) + 3 bytes; f & 3 = 3: u16 L, 3 × L + 12 bytes;
//                   copied a byte at a time, so an overlapping source repeats itself.
//   f 0x00-0x7E     literal run of 3 × f + 3 bytes that follow.
//   f 0x7F          u16 L, literal run of 3 × L + 384 bytes that follow.
RctDecode DecodeRctData(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height,
                        std::uint8_t* pixels, std::size_t stride, std::size_t pixelBytes,
                        std::size_t* consumed) {
  if (consumed != nullptr) *consumed = 0;
  if (!RctDimensionsUsable(width, height) || pixels == nullptr) return RctDecode::Unusable;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t total = rowBytes * static_cast<std::size_t>(height);
  if (stride < rowBytes || stride > pixelBytes / static_cast<std::size_t>(height)) return RctDecode::Unusable;
  if (data == nullptr || size < 3) return RctDecode::Damaged;

  std::int64_t offsets[kRctOffsetCount];
  BuildRctOffsets(width, offsets);

  std::memcpy(pixels, data, 3);
  Cursor in{data, size, 3};
  std::size_t out = 3;
  RctDecode result = RctDecode::Filled;
  while (out < total) {
    if (!in.Has(1)) {
      result = RctDecode::Damaged;
      break;
    }
    const std::size_t commandStart = in.pos;
    const std::uint8_t f = in.U8();
    std::size_t n;
    if (f & 0x80) {
      if ((f & 3) == 3) {
        if (!in.Has(2)) {
          in.pos = commandStart;
          result = RctDecode::Damaged;
          break;
        }
        n = 3 * std::size_t{in.U16()} + 12;
      } else {
        n = 3 * std::size_t{f & 3u} + 3;
      }
      const std::int64_t src = static_cast<std::int64_t>(out) + offsets[(f >> 2) & 31];
      // The source must lie inside the image written so far or ahead of it; a run may not
      // pass the end of the image on either side.
      if (n > total - out || src < 0 || static_cast<std::uint64_t>(src) + n > total) {
        in.pos = commandStart;
        result = RctDecode::Damaged;
        break;
      }
      const std::uint8_t* from = pixels + src;
      std::uint8_t* to = pixels + out;
      for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
      out += n;
    } else {
      if (f == 0x7F) {
        if (!in.Has(2)) {
          in.pos = commandStart;
          result = RctDecode::Damaged;
          break;
        }
        n = 3 * std::size_t{in.U16()} + 384;
      } else {
        n = 3 * std::size_t{f} + 3;
      }
      if (n > total - out || !in.Has(n)) {
        in.pos = commandStart;
        result = RctDecode::Damaged;
        break;
      }
      CopyLiteral(pixels + out, data + in.pos, n);
      in.pos += n;
      out += n;
    }
  }
  Restride(pixels, rowBytes, stride, height);
  if (consumed != nullptr) *consumed = in.pos;
  return result;
}

}  // namespace image
