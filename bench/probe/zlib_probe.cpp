// Benchmark probe (not a test): the least an extraction of an updater's payload can do. It
// walks the records, makes the folders and inflates every stream straight to its file with
// plain zlib, reading and writing 128 KiB blocks through stdio; no layout check, no file
// times, no progress. Built natively and for Windows from this one source.
//
//   zlib_probe <updater.exe> <destination folder> [wait]
//
// With "wait" it first prints "ready" and starts on a line from its standard input, so that a
// driver can time it without its process start-up. Prints "probe_ms=<milliseconds> files=<n>
// bytes=<total written>"; exit code 0, or 1 on any failure.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/paths.h"
#include "payload/container.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kBlock = 131072;

// Inflates one zlib stream of `packed` bytes from src into out; true when it ended exactly there.
bool Inflate(payload::Source* src, std::uint32_t packed, std::FILE* out, std::vector<unsigned char>& in,
             std::vector<unsigned char>& buf, std::uint64_t* total) {
  if (src->left < packed) return false;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  std::uint32_t left = packed;
  int r = Z_OK;
  for (;;) {
    if (z.avail_in == 0 && left > 0) {
      std::size_t n = std::fread(in.data(), 1, left < kBlock ? left : kBlock, src->file);
      left -= static_cast<std::uint32_t>(n);
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = buf.data();
    z.avail_out = kBlock;
    r = inflate(&z, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) break;  // Z_BUF_ERROR: the stream was cut short
    std::size_t n = kBlock - z.avail_out;
    if (n && std::fwrite(buf.data(), 1, n, out) != n) r = Z_ERRNO;
    *total += n;
    if (r != Z_OK) break;
  }
  inflateEnd(&z);
  src->left -= packed - left;
  return r == Z_STREAM_END && left == 0 && z.avail_in == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "wait")) {
    std::fputs("usage: zlib_probe <updater.exe> <destination folder> [wait]\n", stderr);
    return 1;
  }
  if (argc == 4) {
    std::puts("ready");
    std::fflush(stdout);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin)) return 1;
  }
  auto start = std::chrono::steady_clock::now();
  std::FILE* f = plat::OpenFile(argv[1], "rb");
  payload::Source src{};
  std::uint32_t length = 0;
  if (!f || payload::LocatePayload(f, &src, &length) != 0) {
    std::fprintf(stderr, "zlib_probe: %s: no payload\n", argv[1]);
    return 1;
  }
  plat::MakeFolder(argv[2]);
  std::vector<unsigned char> in(kBlock), buf(kBlock);
  payload::Record rec{};
  std::uint64_t total = 0;
  int files = 0, r;
  while ((r = payload::ReadRecord(&src, &rec)) == 0) {
    char path[plat::kMaxPath];
    if (paths::JoinPath(path, sizeof path, argv[2], rec.name) != 0) break;
    if (rec.folder) {
      plat::MakeFolder(path);
      continue;
    }
    unsigned char stamp[8];
    if (src.left < 8 || std::fread(stamp, 1, 8, f) != 8) break;
    src.left -= 8;
    std::FILE* out = plat::OpenFile(path, "wb");
    bool ok = out && Inflate(&src, rec.packed, out, in, buf, &total);
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok) {
      std::fprintf(stderr, "zlib_probe: %s: cannot inflate\n", path);
      return 1;
    }
    ++files;
  }
  std::fclose(f);
  if (r != 1) {
    std::fputs("zlib_probe: damaged container\n", stderr);
    return 1;
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("probe_ms=%.1f files=%d bytes=%llu\n", ms, files, static_cast<unsigned long long>(total));
  std::fflush(stdout);
  return 0;
}
