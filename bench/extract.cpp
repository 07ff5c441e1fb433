// Benchmark (not a test): the updater's Full extraction against a plain zlib loop that
// inflates the same streams to files in 128 KiB blocks, and the extraction's peak memory.
//
//   bench_extract [work folder]       (default: a fresh folder under /tmp)
#include "payload/extract.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "container_writer.h"
#include "payload/container.h"

namespace {

constexpr std::size_t kMiB = 1 << 20;

// Files of 4 MiB: 40 % random bytes, the rest text-like and well compressible.
void MakeContainer(const std::string& path, std::size_t totalMiB, int level) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite("MZ", 1, 2, out);
  std::mt19937 rng(42);
  std::size_t fileMiB = 4, files = totalMiB / fileMiB;
  std::vector<std::uint8_t> data(fileMiB * kMiB);
  for (std::size_t i = 0; i < files; ++i) {
    std::size_t random = data.size() * 4 / 10;
    for (std::size_t j = 0; j < random; ++j) data[j] = static_cast<std::uint8_t>(rng());
    for (std::size_t j = random; j < data.size(); ++j)
      data[j] = static_cast<std::uint8_t>("scene text of the game, line by line\n"[(j + i) % 37]);
    std::FILE* in = fmemopen(data.data(), data.size(), "rb");
    char name[32];
    std::snprintf(name, sizeof name, "file%03zu.bin", i);
    mkupdater::WriteFileRecord(out, name, in, data.size(), 0x01D710B41567C980ull, level);
    std::fclose(in);
  }
  mkupdater::WriteEnd(out, 2);
  std::fclose(out);
}

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

double TimeUpdater(const std::string& exe, const std::string& dest) {
  std::FILE* f = std::fopen(exe.c_str(), "rb");
  auto t = std::chrono::steady_clock::now();
  payload::Failure failure;
  int r = payload::ExtractFrom(f, dest.c_str(), payload::Mode::Full, nullptr, &failure);
  double s = Seconds(t);
  std::fclose(f);
  if (r != 0) std::fprintf(stderr, "extraction failed\n");
  return s;
}

// The baseline: walk the same records and inflate each stream straight to its file.
double TimePlainZlib(const std::string& exe, const std::string& dest) {
  std::FILE* f = std::fopen(exe.c_str(), "rb");
  auto t = std::chrono::steady_clock::now();
  payload::Source src{};
  std::uint32_t length;
  payload::LocatePayload(f, &src, &length);
  std::vector<unsigned char> in(131072), out(131072);
  payload::Record rec{};
  while (payload::ReadRecord(&src, &rec) == 0) {
    unsigned char stamp[8];
    if (std::fread(stamp, 1, 8, f) != 8) break;
    std::FILE* o = std::fopen((dest + "/" + rec.name).c_str(), "wb");
    z_stream z{};
    inflateInit(&z);
    std::uint32_t left = rec.packed;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
      if (z.avail_in == 0 && left > 0) {
        std::size_t n = std::fread(in.data(), 1, left < in.size() ? left : in.size(), f);
        left -= static_cast<std::uint32_t>(n);
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
      }
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      r = inflate(&z, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END) break;
      std::fwrite(out.data(), 1, out.size() - z.avail_out, o);
    }
    inflateEnd(&z);
    std::fclose(o);
    src.left -= 8 + rec.packed;
  }
  double s = Seconds(t);
  std::fclose(f);
  return s;
}

long PeakRssKiB() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Peak RSS growth of one extraction, measured in a fresh child process.
long RssGrowthKiB(const std::string& exe, const std::string& dest) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    long before = PeakRssKiB();
    TimeUpdater(exe, dest);
    long growth = PeakRssKiB() - before;
    if (write(fds[1], &growth, sizeof growth) != sizeof growth) _exit(1);
    _exit(0);
  }
  long growth = -1;
  if (read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  waitpid(pid, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
  return growth;
}

std::string Fresh(const std::string& base, const char* name) {
  std::string d = base + "/" + name;
  std::string cmd = "rm -rf '" + d + "' && mkdir -p '" + d + "'";
  if (std::system(cmd.c_str()) != 0) std::exit(1);
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  std::string base;
  if (argc > 1) {
    base = argv[1];
  } else {
    char tmpl[] = "/tmp/kovela-bench-XXXXXX";
    base = mkdtemp(tmpl);
  }
  std::string exe = base + "/payload64.exe";
  MakeContainer(exe, 64, 6);

  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 3; ++round) {
    double a = TimeUpdater(exe, Fresh(base, "out-updater"));
    double b = TimePlainZlib(exe, Fresh(base, "out-zlib"));
    if (a < best[0]) best[0] = a;
    if (b < best[1]) best[1] = b;
  }
  std::printf(
      "64 MiB payload, 40%% incompressible: updater %.3f s, plain zlib %.3f s, ratio %.3f (goal <= 1.10)\n",
      best[0], best[1], best[0] / best[1]);

  std::string small = base + "/payload16.exe";
  MakeContainer(small, 16, 6);
  std::printf("peak RSS growth, 16 MiB payload: %ld KiB\n", RssGrowthKiB(small, Fresh(base, "out-16")));
  std::remove(small.c_str());
  if (!std::getenv("BENCH_SKIP_GIB")) {
    std::string big = base + "/payload1024.exe";
    MakeContainer(big, 1024, 1);
    std::printf("peak RSS growth, 1 GiB payload: %ld KiB (goal: growth <= 2048 KiB)\n",
                RssGrowthKiB(big, Fresh(base, "out-1024")));
    std::remove(big.c_str());
  }
  if (argc <= 1) {
    std::string cmd = "rm -rf '" + base + "'";
    if (std::system(cmd.c_str()) != 0) return 1;
  }
  return 0;
}
