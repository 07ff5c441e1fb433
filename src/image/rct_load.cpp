// Loading a title image file into a bitmap surface.
#include <cstring>

#include "base/blocks.h"
#include "base/files.h"
#include "image/rct.h"

namespace image {

namespace {

enum class ReadOutcome { Ok, Unknown, Short };

// Reads the header, skips the name field of the 01 variants and reads the whole data block
// in one read. A data block that the file cannot hold counts as a short read before any
// memory is requested for it, so that a damaged size field never asks for gigabytes.
ReadOutcome ReadRctFile(std::FILE* f, RctHeader* header, base::Owned<>* block) {
  std::uint8_t head[kRctHeaderSize];
  if (std::fread(head, 1, sizeof head, f) != sizeof head) return ReadOutcome::Short;
  if (ParseRctHeader(head, sizeof head, header) != 0) return ReadOutcome::Unknown;

  if (RctHasName(header->variant)) {
    std::uint8_t len[kRctNameLengthSize];
    if (std::fread(len, 1, sizeof len, f) != sizeof len) return ReadOutcome::Short;
    const long nameLength = len[0] | len[1] << 8;
    if (std::fseek(f, nameLength, SEEK_CUR) != 0) return ReadOutcome::Short;
  }

  const long dataStart = std::ftell(f);
  if (dataStart < 0 || std::fseek(f, 0, SEEK_END) != 0) return ReadOutcome::Short;
  const long fileSize = std::ftell(f);
  if (fileSize < dataStart || std::fseek(f, dataStart, SEEK_SET) != 0) return ReadOutcome::Short;
  if (header->dataSize > static_cast<unsigned long>(fileSize - dataStart)) { return ReadOutcome::Short; }

  *block = base::AllocOwned(header->dataSize);
  if (std::fread(block->get(), 1, header->dataSize, f) != header->dataSize) {
    block->reset();
    return ReadOutcome::Short;
  }
  return ReadOutcome::Ok;
}

}  // namespace

BitmapSurface* LoadRctImage(const char* path) {
  for (int attempt = 0; attempt < kRctReadAttempts; ++attempt) {
    RctHeader header{};
    base::Owned<> block;
    {
      base::File f(base::Ffopen(path, "rb"));
      if (!f) return nullptr;
      const ReadOutcome r = ReadRctFile(f.get(), &header, &block);
      if (r == ReadOutcome::Unknown) return nullptr;
      if (r == ReadOutcome::Short) continue;
    }  // the file is closed before decoding

    if (!RctDimensionsUsable(header.width, header.height)) return nullptr;
    BitmapSurface* s = CreateSurface(header.width, header.height);
    if (s == nullptr) return nullptr;

    std::size_t size = header.dataSize;
    if (RctHasTrailer(header.variant)) {
      // The block must end in "TS"; otherwise the picture stays black. The trailer is never
      // read as a command.
      if (size < 2 || std::memcmp(block.get() + size - 2, kRctTrailer, 2) != 0) return s;
      size -= 2;
    }
    const std::size_t pixelBytes = static_cast<std::size_t>(s->stride) * static_cast<std::size_t>(s->height);
    DecodeRctData(block.get(), size, s->width, s->height, s->bits, static_cast<std::size_t>(s->stride),
                  pixelBytes);
    return s;
  }
  return nullptr;
}

}  // namespace image
