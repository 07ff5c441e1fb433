// libFuzzer target for the title image decoder: header parsing and data-block decoding on
// a byte buffer, into pixel memory of exactly stride × height bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/rct.h"
#include "image/surface.h"

namespace {
constexpr std::int64_t kMaxPixels = 1 << 18;  // keeps each run short
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::int32_t width, height;
  const std::uint8_t* block;
  std::size_t blockSize;
  image::RctHeader header{};
  if (image::ParseRctHeader(data, size, &header) == 0 &&
      image::RctDimensionsUsable(header.width, header.height) &&
      std::int64_t{header.width} * header.height <= kMaxPixels) {
    // A whole file: the data block follows the header (and the name field).
    width = header.width;
    height = header.height;
    std::size_t pos = image::kRctHeaderSize;
    if (image::RctHasName(header.variant)) {
      if (size - pos < 2) return 0;
      pos += 2 + (data[pos] | data[pos + 1] << 8);
      if (pos > size) return 0;
    }
    blockSize = std::min<std::size_t>(size - pos, header.dataSize);
    block = data + pos;
    if (image::RctHasTrailer(header.variant)) {
      if (blockSize < 2 || std::memcmp(block + blockSize - 2, image::kRctTrailer, 2) != 0) { return 0; }
      blockSize -= 2;
    }
  } else {
    // A bare data block: the first two bytes pick a small size.
    width = 1 + data[0] % 40;
    height = 1 + data[1] % 40;
    block = data + 2;
    blockSize = size - 2;
  }
  const std::size_t stride = static_cast<std::size_t>(image::SurfaceStride(width));
  const std::size_t bytes = stride * static_cast<std::size_t>(height);
  std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[bytes]());
  // The block gets its own exact-size copy so that a read past it is caught.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[blockSize + 1]);
  if (blockSize != 0) std::memcpy(copy.get(), block, blockSize);
  std::size_t consumed = 0;
  if (image::DecodeRctData(copy.get(), blockSize, width, height, pixels.get(), stride, bytes, &consumed) ==
      image::RctDecode::Unusable)
    std::abort();
  if (consumed > blockSize) std::abort();
  return 0;
}
