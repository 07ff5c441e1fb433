// Title image: decoder, loader, bitmap surfaces and the mkupdater codec.
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "fake.h"
#include "image/rct.h"
#include "image/surface.h"
#include "rct_codec.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Signatures spelled out independently of the decoder's table: "六丁" + four letters.
const std::string kKanji = "\x98\x5A\x92\x9A";
const std::string kTC00 = kKanji + "TC00", kTS00 = kKanji + "TS00", kTC01 = kKanji + "TC01",
                  kTS01 = kKanji + "TS01";

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes U32(std::uint32_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

// A file assembled byte by byte: header, the name field when given, data block, extra bytes.
// dataSize -1 stands for the data block's real size.
Bytes RctFile(const std::string& signature, std::int32_t width, std::int32_t height, const Bytes& data,
              const std::string* name = nullptr, std::int64_t dataSize = -1, const Bytes& tail = {}) {
  Bytes b = Cat(Cat(Cat(Bytes(signature.begin(), signature.end()), U32(width)), U32(height)),
                U32(static_cast<std::uint32_t>(dataSize < 0 ? data.size() : dataSize)));
  if (name) {
    const Bytes length = U32(std::uint32_t(name->size()));
    b = Cat(Cat(b, Bytes(length.begin(), length.begin() + 2)), Bytes(name->begin(), name->end()));
  }
  return Cat(Cat(b, data), tail);
}

// The 2 × 2 example: first pixel, a literal pixel, then one row copied from above.
const Bytes kVector2x2 = {0x10, 0x20, 0x30, 0x00, 0x40, 0x50, 0x60, 0xA5};
// Its pixel memory at a stride of 8: the first row's padding keeps what the packed second row
// left there.
const Bytes kMemory2x2 = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x10, 0x20,
                          0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0,    0};
const Bytes kTrailer = {0x54, 0x53};

struct SurfaceDeleter {
  void operator()(image::BitmapSurface* s) const { image::FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<image::BitmapSurface, SurfaceDeleter>;

// Rows of a surface without their padding, packed back to back.
Bytes PackedRows(const image::BitmapSurface& s) {
  Bytes out;
  for (int y = 0; y < s.height; ++y) {
    const std::uint8_t* row = s.bits + static_cast<std::size_t>(y) * s.stride;
    out.insert(out.end(), row, row + 3 * s.width);
  }
  return out;
}

class ImageTest : public HostTest {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteWholeFile(dir_ + "/" + name, std::string(bytes.begin(), bytes.end()));
    return dir_ + "/" + name;
  }
  SurfacePtr Load(const Bytes& file) { return SurfacePtr(image::LoadRctImage(Write("t.rct", file).c_str())); }
};

// Every source of the back-reference table, derived from its rule: six pixels to the left,
// dx +3..-3 on the three rows above, dx +2..-2 on the fourth. The copy is taken at the last
// pixel of a row, so the sources with dx > 0 wrap into the current row (no clamping).
TEST(RctDecode, EveryBackReferenceSource) {
  constexpr int kW = 8, kH = 6;
  for (int k = 0; k < 32; ++k) {
    int dx = k < 6 ? -(k + 1) : k < 27 ? 3 - (k - 6) % 7 : 2 - (k - 27);
    int dy = k < 6 ? 0 : k < 27 ? -((k - 6) / 7 + 1) : -4;
    // Pixels 0..46 are distinct literals; pixel 47 (the last) comes from source k.
    Bytes data = {1, 2, 3, 45};
    for (int p = 1; p < kW * kH - 1; ++p) data.insert(data.end(), {std::uint8_t(p), 7, 9});
    data.push_back(static_cast<std::uint8_t>(0x80 | k << 2));
    Bytes pixels(kW * kH * 3);
    ASSERT_EQ(image::RctDecode::Filled,
              image::DecodeRctData(data.data(), data.size(), kW, kH, pixels.data(), kW * 3, pixels.size()))
        << k;
    const int source = 3 * (kW * kH - 1 + dx + dy * kW);
    EXPECT_EQ(Bytes(pixels.begin() + source, pixels.begin() + source + 3),
              Bytes(pixels.end() - 3, pixels.end()))
        << "k=" << k;
  }
}

// A pixel repeated; a ramp of distinct bytes, so many pixels long.
Bytes Repeat(const Bytes& pixel, int times) {
  Bytes o;
  while (times-- > 0) o = Cat(o, pixel);
  return o;
}
Bytes Ramp(int pixels) {
  Bytes o(3 * pixels);
  for (std::size_t i = 0; i < o.size(); ++i) o[i] = std::uint8_t(i * 7 + 1);
  return o;
}

// Data blocks, decoded from and into exact-size heap copies so that the sanitizer sees any
// stray access. pixels: what the memory holds afterwards, zeros after it; a damaged block
// keeps what decoded before the damage. stride 0 stands for packed rows.
TEST(RctDecode, CommandsAndDamagedBlocks) {
  constexpr std::size_t kAll = SIZE_MAX;  // consumed: the whole block
  const Bytes p = {1, 2, 3}, px = {9, 8, 7};
  const struct {
    const char* what;
    std::int32_t width, height;
    Bytes data;
    int result;
    std::size_t consumed;
    Bytes pixels;
    std::size_t stride = 0;
  } cases[] = {
      {"2 x 2 example", 2, 2, kVector2x2, 0, kAll, kMemory2x2, 8},
      {"k0 n=9 repeats the previous pixel thrice", 4, 1, Cat(px, {0x82}), 0, kAll, Repeat(px, 4)},
      {"long reference L=300: 304 pixels", 305, 1, Cat(px, {0x83, 0x2C, 0x01}), 0, kAll, Repeat(px, 305)},
      // Pixels A B, then k = 1 (two to the left) for 4 pixels: A B A B A B.
      {"k1 overlap", 6, 1, {1, 8, 15, 0x00, 22, 29, 36, 0x87, 0, 0}, 0, kAll, Repeat(Ramp(2), 3)},
      {"literal 0x7E: 127 pixels", 128, 1, Cat(px, Cat({0x7E}, Ramp(127))), 0, kAll, Cat(px, Ramp(127))},
      {"literal 0x7F L=2: 130 pixels", 131, 1, Cat(px, Cat({0x7F, 2, 0}, Ramp(130))), 0, kAll,
       Cat(px, Ramp(130))},
      {"bytes after the last command are left alone", 2, 1, Cat(p, {0x80, 0xFF}), 0, 4, Repeat(p, 2)},
      {"empty block", 2, 2, {}, -1, 0, {}},
      {"first pixel cut short", 2, 2, {1, 2}, -1, 0, {}},
      {"no command after the first pixel", 2, 1, p, -1, 3, p},
      {"literal past the block", 2, 2, Cat(p, {0x01, 4, 5, 6}), -1, 3, p},
      {"literal past the image", 2, 1, Cat(p, {0x01, 4, 5, 6, 7, 8, 9}), -1, 3, p},
      {"long literal without its length", 200, 1, Cat(p, {0x7F, 0}), -1, 3, p},
      {"long literal past the block", 200, 1, Cat(p, {0x7F, 0, 0, 4}), -1, 3, p},
      {"long reference without its length", 9, 1, Cat(p, {0x83, 0}), -1, 3, p},
      {"long reference past the image", 9, 1, Cat(p, {0x83, 0xFF, 0xFF}), -1, 3, p},
      {"reference past the image", 2, 1, Cat(p, {0x81}), -1, 3, p},
      {"source ahead past the image", 1, 2, Cat(p, {0x98}), -1, 3, p},
      {"reference above the first row", 2, 2, Cat(p, {0xA4}), -1, 3, p},
      {"reference before the first pixel", 4, 1, Cat(p, {0x84}), -1, 3, p},
      {"damage after good commands", 3, 1, Cat(p, {0x00, 4, 5, 6, 0x7F}), -1, 7, {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t stride = c.stride ? c.stride : 3 * std::size_t(c.width), total = stride * c.height;
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[c.data.size() + 1]);
    if (!c.data.empty()) std::memcpy(data.get(), c.data.data(), c.data.size());
    std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[total]());
    std::size_t consumed = 99;
    EXPECT_EQ(c.result == 0 ? image::RctDecode::Filled : image::RctDecode::Damaged,
              image::DecodeRctData(c.data.empty() ? nullptr : data.get(), c.data.size(), c.width, c.height,
                                   pixels.get(), stride, total, &consumed));
    EXPECT_EQ(c.consumed == kAll ? c.data.size() : c.consumed, consumed);
    EXPECT_EQ(Cat(c.pixels, Bytes(total - c.pixels.size(), 0)), Bytes(pixels.get(), pixels.get() + total));
  }
}

TEST(RctDecode, RejectsUnusablePixelMemoryWithoutWriting) {
  const struct {
    std::int32_t width, height;
    std::size_t stride, pixelBytes;
  } cases[] = {
      {2, 2, 5, 16},                              // stride shorter than a packed row
      {2, 2, 8, 15},                              // memory one byte short of stride × height
      {0, 2, 8, 16},                              // no width
      {2, -1, 8, 16},                             // negative height
      {0x40000000, 1, 0xC0000000u, 0xC0000000u},  // width × 3 beyond a signed 32-bit integer
  };
  for (const auto& c : cases) {
    std::uint8_t pixels[16] = {};
    EXPECT_EQ(image::RctDecode::Unusable, image::DecodeRctData(kVector2x2.data(), kVector2x2.size(), c.width,
                                                               c.height, pixels, c.stride, c.pixelBytes));
    EXPECT_EQ(Bytes(16, 0), Bytes(pixels, pixels + 16));
  }
}

// Every variant with its name field; bytes after the data block are ignored. A trailer
// variant without its "TS" gives a black surface of the header's size (3 x 2 here); the same
// bytes in a plain variant decode, the two extra bytes never read as commands.
TEST_F(ImageTest, VariantsNamesAndTrailers) {
  const std::string none, longName(300, 'n');
  const Bytes black(24, 0), wrongEnd = Cat(kVector2x2, {0x54, 0x54}),
                            reversed = Cat(kVector2x2, {0x53, 0x54}),
                            halfRight = Cat(kVector2x2, {0x53, 0x53});
  const struct {
    std::string signature;
    const std::string* name;
    Bytes data;
    std::int32_t width;
    Bytes memory;
  } cases[] = {
      {kTC00, nullptr, kVector2x2, 2, kMemory2x2},
      {kTS00, nullptr, Cat(kVector2x2, kTrailer), 2, kMemory2x2},
      {kTC01, &none, kVector2x2, 2, kMemory2x2},  // data block at offset 22
      {kTS01, &longName, Cat(kVector2x2, kTrailer), 2, kMemory2x2},
      {kTC00, nullptr, wrongEnd, 2, kMemory2x2},
      {kTS00, nullptr, wrongEnd, 3, black},
      {kTS01, &none, {0x53}, 3, black},
      {kTS00, nullptr, {}, 3, black},
      {kTS01, &none, reversed, 3, black},
      {kTS00, nullptr, halfRight, 3, black},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signature.substr(4) + " name " + std::to_string(c.name ? c.name->size() : 0) + " data " +
                 ::testing::PrintToString(c.data));
    SurfacePtr s = Load(RctFile(c.signature, c.width, 2, c.data, c.name, -1, {0xDE, 0xAD}));
    ASSERT_TRUE(s);
    EXPECT_EQ(std::make_tuple(c.width, 2, std::int32_t(c.memory.size() / 2)),
              std::make_tuple(s->width, s->height, s->stride));
    EXPECT_EQ(c.memory, Bytes(s->bits, s->bits + c.memory.size()));
  }
  EXPECT_TRUE(fake::Boxes().empty());
}

// No surface for a foreign signature, a file shorter than its header announces (the user is
// never asked), sizes that the format or a surface cannot hold, or a section the system
// refuses; the surface list stays as it was.
TEST_F(ImageTest, FilesThatGiveNoSurface) {
  const Bytes full = RctFile(kTC00, 2, 2, kVector2x2);
  const std::string name = "name";
  Bytes nameCut = RctFile(kTC01, 2, 2, kVector2x2, &name);
  nameCut.resize(24);
  std::vector<Bytes> files = {Bytes(full.begin(), full.begin() + 10),  // header cut
                              Bytes(full.begin(), full.end() - 1),     // data block one byte short
                              Bytes(full.begin(), full.begin() + 21),  // name length cut
                              nameCut,
                              RctFile(kTC00, 2, 2, kVector2x2, nullptr, 0xFFFFFFF0)};  // never allocated
  for (const char* tail : {"tc00", "Tc00", "ts01", "TC02", "TX00"}) {
    files.push_back(RctFile(kKanji + tail, 2, 2, kVector2x2));
  }
  for (const std::string& sig : {std::string("\x98\x5B\x92\x9ATC00"), std::string("\x98\x5A\x92\x9BTC00"),
                                 std::string("BMTC00\0\0", 8), std::string(8, '\0')})
    files.push_back(RctFile(sig, 2, 2, kVector2x2));
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {0, 2},         {2, 0},         {-2, 2},        {2, -2}, {INT32_MIN, 1},
      {65536, 65536}, {715827883, 1}, {715827882, 1},  // fits the format, but no surface row can be that long
  };
  for (auto [w, h] : sizes) files.push_back(RctFile(kTC00, w, h, kVector2x2));
  for (const Bytes& f : files) EXPECT_FALSE(Load(f)) << ::testing::PrintToString(f);
  const std::int32_t surfaces[][2] = {{0, 1},         {-1, 1},         {1, 0},
                                      {1, INT32_MIN}, {0x2AAAAAAB, 1}, {65536, 65536}};
  for (const auto& s : surfaces) EXPECT_EQ(nullptr, image::CreateSurface(s[0], s[1])) << s[0] << "x" << s[1];
  image::internal::FailSectionCreations(2);
  EXPECT_EQ(nullptr, image::CreateSurface(2, 2));
  EXPECT_FALSE(Load(full));
  EXPECT_TRUE(fake::Boxes().empty());
  EXPECT_TRUE(Load(full));
}

// Strides and info blocks; a negative height makes bottom-up rows.
TEST(Surface, StridesAndInfoBlocks) {
  const struct {
    std::int32_t width, height, stride;
  } cases[] = {{1, 3, 4}, {4, 3, 12}, {5, 3, 16}, {256, 3, 768}, {4, -3, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    SurfacePtr s(image::CreateSurface(c.width, c.height));
    ASSERT_TRUE(s);
    EXPECT_EQ(c.stride, s->stride);
    EXPECT_EQ(3, s->height);
    const image::BitmapInfoHeader& h = *s->info;  // biHeight negative: top-down rows
    EXPECT_EQ(std::make_tuple(40u, c.width, -c.height, 1, 24, 0u, 0u),
              std::make_tuple(h.biSize, h.biWidth, h.biHeight, int(h.biPlanes), int(h.biBitCount),
                              h.biClrUsed, h.biCompression));
    EXPECT_EQ(Bytes(c.stride * 3, 0), Bytes(s->bits, s->bits + c.stride * 3));
  }
  image::FreeSurface(nullptr);
}

enum class Kind { Random, Smooth, Constant };

mkupdater::BgrImage MakeImage(std::int32_t w, std::int32_t h, Kind kind, std::uint32_t seed) {
  mkupdater::BgrImage img{w, h, {}};
  std::mt19937 rng(seed);
  for (std::int32_t i = 0; i < w * h; ++i) {
    const int x = i % w, y = i / w;
    if (kind == Kind::Random) {
      for (int c = 0; c < 3; ++c) img.pixels.push_back(static_cast<std::uint8_t>(rng()));
    } else if (kind == Kind::Smooth) {  // flat bands of a diagonal gradient with an occasional speck
      img.pixels.insert(img.pixels.end(), {std::uint8_t((x + y) / 6 * 9),
                                           std::uint8_t((y / 5 * 11) ^ (rng() % 97 == 0 ? 0x55 : 0)),
                                           std::uint8_t(200 - x / 7 * 5)});
    } else {
      img.pixels.insert(img.pixels.end(), {0x12, 0x34, 0x56});
    }
  }
  return img;
}

// size: the data block's size when given, or its bound (a quarter of the raw size) atMost.
// Random pixels: one long literal beats a chain of short ones. One colour: the
// first pixel and a single long reference per 65539 pixels.
TEST_F(ImageTest, EncoderRoundTripsThroughTheLoaderForEveryVariant) {
  const struct {
    std::int32_t w, h;
    Kind kind;
    std::size_t size = 0;
    bool atMost = false;
  } images[] = {{1, 1, Kind::Random},
                {1, 9, Kind::Random},
                {37, 23, Kind::Random},
                {129, 1, Kind::Random},  // a literal of 128 pixels needs the long form
                {5, 40, Kind::Smooth},
                {2000, 1, Kind::Random, 3 + 3 + 1999 * 3},
                {200, 300, Kind::Constant, 6},
                {400, 300, Kind::Constant, 9},
                {256, 256, Kind::Smooth, 256 * 256 * 3 / 4, true}};
  using V = image::RctVariant;
  const std::pair<V, std::string> variants[] = {
      {V::TC00, ""}, {V::TS00, ""}, {V::TC01, "タイトル"}, {V::TS01, ""}};
  std::uint32_t seed = 1;
  for (const auto& im : images) {
    const mkupdater::BgrImage img = MakeImage(im.w, im.h, im.kind, seed++);
    const std::size_t size = mkupdater::EncodeRctData(img).size();
    if (im.size) { EXPECT_TRUE(im.atMost ? size < im.size : size == im.size) << im.w << ": " << size; }
    for (const auto& [variant, name] : variants) {
      SCOPED_TRACE(std::to_string(im.w) + "x" + std::to_string(im.h) + " variant " +
                   std::to_string(int(variant)));
      Bytes file;
      ASSERT_EQ(0, mkupdater::BuildRctFile(img, variant, name, &file));
      SurfacePtr s = Load(file);
      ASSERT_TRUE(s);
      EXPECT_EQ(img.pixels, PackedRows(*s));
      mkupdater::BgrImage back;
      std::string error;
      image::RctVariant seen{};
      ASSERT_EQ(0, mkupdater::DecodeRctFile(file, &back, &seen, &error)) << error;
      EXPECT_EQ(img.pixels, back.pixels);
      EXPECT_EQ(variant, seen);
    }
  }
}

// The example title through both commands and the loader; then the refusals, with exit code
// 1 for a wrong call or a file that cannot be read, 2 for input that is no image.
TEST_F(ImageTest, RctCommand) {
  const std::string png = std::string(KOVELA_SOURCE_DIR) + "/examples/title/title.png";
  const std::string rct = dir_ + "/insttscr.rct", back = dir_ + "/back.png", out = dir_ + "/o.png";
  ASSERT_EQ(0, RunTool(mkupdater::RunRctCommand, {"rct", "encode", png, rct}));
  ASSERT_EQ(0, RunTool(mkupdater::RunRctCommand, {"rct", "decode", rct, back}));
  mkupdater::BgrImage a, b;
  std::string error;
  ASSERT_EQ(0, mkupdater::ReadPng(png.c_str(), &a, &error)) << error;
  ASSERT_EQ(0, mkupdater::ReadPng(back.c_str(), &b, &error)) << error;
  EXPECT_EQ(std::make_pair(256, 256), std::make_pair(a.width, a.height));
  EXPECT_EQ(a.pixels, b.pixels);

  Bytes good;
  ASSERT_EQ(0, mkupdater::BuildRctFile(MakeImage(8, 8, Kind::Smooth, 1), image::RctVariant::TS00, "", &good));
  Bytes badTrailer = good;
  badTrailer.back() = 'X';
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"rct"}, 1},
      {{"rct", "convert", "a", "b"}, 1},
      {{"rct", "decode", dir_ + "/missing.rct", out}, 1},
      {{"rct", "decode", Write("foreign.rct", RctFile(kKanji + "tc00", 2, 2, kVector2x2)), out}, 2},
      {{"rct", "decode", Write("trailer.rct", badTrailer), out}, 2},
      {{"rct", "decode", Write("cut.rct", Bytes(good.begin(), good.end() - 4)), out}, 2},
      {{"rct", "decode", Write("broken.rct", RctFile(kTC00, 2, 2, {1, 2, 3, 0x7F})), out}, 2},
      {{"rct", "decode", Write("tiny.rct", {0x98, 0x5A}), out}, 2},
      {{"rct", "encode", Write("notpng.png", {1, 2, 3}), rct}, 2},
      {{"rct", "encode", "--variant", "TC02", png, rct}, 1},
      {{"rct", "encode", "--name", "x", png, rct}, 1},
      {{"rct", "encode", "--variant", "TS01", "--name", "x", png, rct}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, RunTool(mkupdater::RunRctCommand, c.args)) << c.args[1] << " " << c.args.back();
  }
}

}  // namespace
