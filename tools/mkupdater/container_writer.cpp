// Writes container records, streaming each file through deflate.
#include "container_writer.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "bytes.h"

namespace mkupdater {
namespace {

constexpr std::size_t kChunk = 1 << 17;

bool Put(std::FILE* out, const void* p, std::size_t n) { return std::fwrite(p, 1, n, out) == n; }

bool PutHeader(std::FILE* out, const std::string& name, std::int32_t size, std::int32_t packed) {
  std::vector<std::uint8_t> h;
  PutU16(h, static_cast<std::uint32_t>(name.size() + 1));
  h.insert(h.end(), name.begin(), name.end());
  h.push_back(0);
  PutU32(h, static_cast<std::uint32_t>(size));
  PutU32(h, static_cast<std::uint32_t>(packed));
  return Put(out, h.data(), h.size());
}

}  // namespace

int WriteFolderRecord(std::FILE* out, const std::string& name) {
  if (name.empty() || name.size() + 1 > 260) return -1;
  return PutHeader(out, name, -1, 0) ? 0 : -1;
}

int WriteFileRecord(std::FILE* out, const std::string& name, std::FILE* in, std::uint64_t size,
                    std::uint64_t filetime, int level, void (*progress)(void*, std::uint64_t),
                    void* context) {
  if (name.empty() || name.size() + 1 > 260 || size > 0x7FFFFFFF) return -1;
  long headerPos = std::ftell(out);
  if (headerPos < 0 || !PutHeader(out, name, static_cast<std::int32_t>(size), 0)) return -1;
  std::vector<std::uint8_t> t;
  PutU64(t, filetime);
  if (!Put(out, t.data(), t.size())) return -1;

  z_stream z{};
  if (deflateInit(&z, level) != Z_OK) return -1;
  std::unique_ptr<std::uint8_t[]> ib(new std::uint8_t[kChunk]), ob(new std::uint8_t[kChunk]);
  std::uint64_t left = size, packed = 0;
  int flush = Z_NO_FLUSH;
  int result = 0;
  do {
    std::size_t want = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
    std::size_t got = want ? std::fread(ib.get(), 1, want, in) : 0;
    if (got != want) {
      result = -1;
      break;
    }
    left -= got;
    if (progress) progress(context, size - left);
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = ib.get();
    z.avail_in = static_cast<uInt>(got);
    do {
      z.next_out = ob.get();
      z.avail_out = kChunk;
      deflate(&z, flush);
      std::size_t n = kChunk - z.avail_out;
      packed += n;
      if (!Put(out, ob.get(), n)) result = -1;
    } while (z.avail_out == 0 && result == 0);
  } while (flush != Z_FINISH && result == 0);
  deflateEnd(&z);
  if (result != 0 || packed > 0x7FFFFFFF) return -1;

  // The compressed size is known only now: patch it into the header.
  long end = std::ftell(out);
  std::vector<std::uint8_t> p;
  PutU32(p, static_cast<std::uint32_t>(packed));
  if (std::fseek(out, headerPos + 2 + static_cast<long>(name.size()) + 1 + 4, SEEK_SET) != 0 ||
      !Put(out, p.data(), 4) || std::fseek(out, end, SEEK_SET) != 0)
    return -1;
  return 0;
}

int WriteFileRecord(std::FILE* out, const std::string& name, const std::vector<std::uint8_t>& data,
                    std::uint64_t filetime, int level) {
  const std::vector<std::uint8_t> z = Deflate(data, level);
  return WriteCompressedRecord(out, name, data.size(), filetime, z.data(), z.size());
}

int WriteCompressedRecord(std::FILE* out, const std::string& name, std::uint64_t size, std::uint64_t filetime,
                          const std::uint8_t* z, std::size_t n) {
  if (name.empty() || name.size() + 1 > 260 || size > 0x7FFFFFFF || n > 0x7FFFFFFF) return -1;
  if (!PutHeader(out, name, static_cast<std::int32_t>(size), static_cast<std::int32_t>(n))) return -1;
  std::vector<std::uint8_t> t;
  PutU64(t, filetime);
  return Put(out, t.data(), t.size()) && Put(out, z, n) ? 0 : -1;
}

int WriteEnd(std::FILE* out, std::uint32_t payloadOffset) {
  long at = std::ftell(out);
  if (at < 0) return -1;
  // Marker, two zero bytes, then as many as make the whole length a multiple of 8.
  std::vector<std::uint8_t> e(4 + (8 - (static_cast<std::uint64_t>(at) + 8) % 8) % 8, 0);
  PutU32(e, payloadOffset);
  return Put(out, e.data(), e.size()) ? 0 : -1;
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data, int level) {
  uLongf n = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(n);
  compress2(out.data(), &n, data.data(), static_cast<uLong>(data.size()), level);
  out.resize(n);
  return out;
}

}  // namespace mkupdater
