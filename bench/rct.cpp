// Title image benchmark: decode time of the example title picture and the encoder's size
// against raw pixels (and against a greedy longest-match parse) on the example, on random
// pixels and on a smooth banded image.
//
//   bench_rct [title.png [out.rct]]
#include "image/rct.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "rct_codec.h"
#include "tool.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string DefaultTitlePath() {
  std::string here = __FILE__;  // .../bench/rct.cpp
  const std::size_t slash = here.find_last_of('/');
  here = slash == std::string::npos ? "." : here.substr(0, slash);
  return here + "/../examples/title/title.png";
}

// Size of a greedy parse (the longest match at each pixel, else a literal), for comparison.
std::size_t GreedySize(const mkupdater::BgrImage& img) {
  const std::size_t n = static_cast<std::size_t>(img.width) * img.height;
  auto px = [&](std::size_t i) {
    return img.pixels[3 * i] | img.pixels[3 * i + 1] << 8 | img.pixels[3 * i + 2] << 16;
  };
  std::int64_t offsets[image::kRctOffsetCount];
  image::BuildRctOffsets(img.width, offsets);
  std::size_t size = 3, literal = 0;
  auto flushLiteral = [&] {
    while (literal > 0) {
      const std::size_t m = std::min<std::size_t>(literal, 65535 + 128);
      size += (m <= 127 ? 1 : 3) + 3 * m;
      literal -= m;
    }
  };
  for (std::size_t p = 1; p < n;) {
    std::size_t best = 0;
    for (std::int64_t off : offsets) {
      const std::int64_t d = off / 3;
      if (d >= 0 || static_cast<std::int64_t>(p) + d < 0) continue;
      std::size_t m = 0;
      while (p + m < n && m < 65539 && px(p + m) == px(p + m + d)) ++m;
      best = std::max(best, m);
    }
    if (best == 0) {
      ++literal;
      ++p;
      continue;
    }
    flushLiteral();
    size += best <= 3 ? 1 : 3;
    p += best;
  }
  flushLiteral();
  return size;
}

void ReportRatio(const char* what, const mkupdater::BgrImage& img) {
  const auto t0 = Clock::now();
  const std::size_t size = mkupdater::EncodeRctData(img).size();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  const std::size_t greedy = GreedySize(img);
  std::printf(
      "%-10s %4dx%-4d data %7zu bytes = %5.1f%% of %zu raw; greedy parse %7zu bytes; "
      "encode %.1f ms\n",
      what, img.width, img.height, size, 100.0 * size / img.pixels.size(), img.pixels.size(), greedy, ms);
}

mkupdater::BgrImage Synthetic(bool random) {
  mkupdater::BgrImage img;
  img.width = img.height = 256;
  img.pixels.resize(256 * 256 * 3);
  std::mt19937 rng(42);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      std::uint8_t* p = &img.pixels[(y * 256 + x) * 3];
      if (random) {
        for (int i = 0; i < 3; ++i) p[i] = static_cast<std::uint8_t>(rng());
      } else {
        p[0] = static_cast<std::uint8_t>((x + y) / 6 * 9);
        p[1] = static_cast<std::uint8_t>(y / 5 * 11);
        p[2] = static_cast<std::uint8_t>(200 - x / 7 * 5);
      }
    }
  }
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string pngPath = argc > 1 ? argv[1] : DefaultTitlePath();
  mkupdater::BgrImage title;
  std::string error;
  if (mkupdater::ReadPng(pngPath.c_str(), &title, &error) != 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<std::uint8_t> file;
  mkupdater::BuildRctFile(title, image::RctVariant::TC00, "", &file);
  const std::string rctPath = argc > 2 ? argv[2] : "/tmp/bench_rct_title.rct";
  if (std::FILE* f = std::fopen(rctPath.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }

  // Decoding alone, into a 24-bit surface's layout.
  const std::vector<std::uint8_t> data = mkupdater::EncodeRctData(title);
  const std::size_t stride =
      (static_cast<std::size_t>(title.width) * 3 + 3) & ~std::size_t{3};  // a 24-bit row
  std::vector<std::uint8_t> pixels(stride * title.height);
  constexpr int kRounds = 2000;
  auto t0 = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    image::DecodeRctData(data.data(), data.size(), title.width, title.height, pixels.data(), stride,
                         pixels.size());
  }
  const double decodeUs = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / kRounds;

  // A whole file: open, read, check and decode.
  t0 = Clock::now();
  for (int i = 0; i < kRounds / 10; ++i) {
    std::vector<std::uint8_t> bytes;
    mkupdater::BgrImage decoded;
    image::RctVariant variant;
    if (mkupdater::ReadWholeFile(rctPath, &bytes) != 0 ||
        mkupdater::DecodeRctFile(bytes, &decoded, &variant, &error) != 0)
      return 1;
  }
  const double loadUs = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / (kRounds / 10);

  std::printf("example title %s: %zu-byte file\n", pngPath.c_str(), file.size());
  std::printf("decode %.1f us per image (data block only), %.1f us for the whole file\n", decodeUs, loadUs);
  ReportRatio("example", title);
  ReportRatio("random", Synthetic(true));
  ReportRatio("smooth", Synthetic(false));
  return 0;
}
