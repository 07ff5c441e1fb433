// Title image: decoder, loader, bitmap surfaces and the mkupdater codec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/rct.h"
#include "image/surface.h"
#include "platform/host_control.h"
#include "rct_codec.h"
#include "shell/shell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Signatures spelled out independently of the decoder's table: "六丁" + four letters.
const std::string kKanji = "\x98\x5A\x92\x9A";
const std::string kTC00 = kKanji + "TC00", kTS00 = kKanji + "TS00", kTC01 = kKanji + "TC01",
                  kTS01 = kKanji + "TS01";

void PutU32(Bytes* b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A file assembled byte by byte: header, optional name field, data block, extra bytes.
// dataSize -1 stands for the data block's real size.
Bytes RctFile(const std::string& signature, std::int32_t width, std::int32_t height,
              const Bytes& data, bool nameField = false, const std::string& name = "",
              std::int64_t dataSize = -1, const Bytes& tail = {}) {
  Bytes b(signature.begin(), signature.end());
  PutU32(&b, static_cast<std::uint32_t>(width));
  PutU32(&b, static_cast<std::uint32_t>(height));
  PutU32(&b, static_cast<std::uint32_t>(dataSize < 0 ? data.size() : dataSize));
  if (nameField) {
    b.push_back(static_cast<std::uint8_t>(name.size()));
    b.push_back(static_cast<std::uint8_t>(name.size() >> 8));
    b.insert(b.end(), name.begin(), name.end());
  }
  b.insert(b.end(), data.begin(), data.end());
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The 2 × 2 example: first pixel, a literal pixel, then one row copied from above.
const Bytes kVector2x2 = {0x10, 0x20, 0x30, 0x00, 0x40, 0x50, 0x60, 0xA5};
const Bytes kTrailer = {0x54, 0x53};

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kovela-image-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string p = path_ + "/" + name;
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return p;
  }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct SurfaceDeleter {
  void operator()(image::BitmapSurface* s) const { image::FreeSurface(s, 1); }
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

class ImageLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    shell::EnablePlainNameLookup();
  }
  SurfacePtr Load(const Bytes& file) {
    return SurfacePtr(image::LoadRctImage(dir_.Write("t.rct", file).c_str()));
  }
  TempDir dir_;
};

// ---- Decoder ------------------------------------------------------------------------------

TEST(RctDecode, TwoByTwoVectorWithPaddedRows) {
  std::uint8_t pixels[16] = {};
  std::size_t consumed = 0;
  ASSERT_EQ(0, image::DecodeRctData(kVector2x2.data(), kVector2x2.size(), 2, 2, pixels, 8,
                                    sizeof pixels, &consumed));
  EXPECT_EQ(8u, consumed);
  // The first row's padding keeps what the packed second row left there.
  const Bytes expected = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x10, 0x20,
                          0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x00, 0x00};
  EXPECT_EQ(expected, Bytes(pixels, pixels + 16));
}

// Every source of the back-reference table, derived from its rule: six pixels to the left,
// dx +3..-3 on the three rows above, dx +2..-2 on the fourth. The copy is taken at the last
// pixel of a row, so the sources with dx > 0 wrap into the current row (no clamping).
TEST(RctDecode, EveryBackReferenceSource) {
  constexpr int kW = 8, kH = 6;
  for (int k = 0; k < 32; ++k) {
    int dx, dy;
    if (k < 6) {
      dx = -(k + 1), dy = 0;
    } else if (k < 27) {
      dy = -((k - 6) / 7 + 1), dx = 3 - (k - 6) % 7;
    } else {
      dy = -4, dx = 2 - (k - 27);
    }
    // Pixels 0..46 are distinct literals; pixel 47 (the last) comes from source k.
    Bytes data = {1, 2, 3, 45};
    for (int p = 1; p < kW * kH - 1; ++p) data.insert(data.end(), {std::uint8_t(p), 7, 9});
    data.push_back(static_cast<std::uint8_t>(0x80 | k << 2));
    std::vector<std::uint8_t> pixels(kW * kH * 3);
    ASSERT_EQ(0, image::DecodeRctData(data.data(), data.size(), kW, kH, pixels.data(), kW * 3,
                                      pixels.size()))
        << k;
    const int source = kW * kH - 1 + dx + dy * kW;
    EXPECT_EQ(Bytes(pixels.begin() + 3 * source, pixels.begin() + 3 * source + 3),
              Bytes(pixels.end() - 3, pixels.end()))
        << "k=" << k;
  }
}

struct FormCase {
  const char* what;
  std::int32_t width;
  Bytes data;
  Bytes expected;  // packed pixels
};

Bytes Repeat(const Bytes& pixel, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

Bytes Ramp(int pixels) {
  Bytes out;
  for (int i = 0; i < 3 * pixels; ++i) out.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  return out;
}

TEST(RctDecode, CommandLengthsAndOverlap) {
  const Bytes px = {9, 8, 7};
  const Bytes ab = Ramp(2);
  const std::vector<FormCase> cases = {
      {"k0 n=3 repeats one pixel", 2, Concat(px, {0x80}), Repeat(px, 2)},
      {"k0 n=9 repeats the previous pixel thrice", 4, Concat(px, {0x82}), Repeat(px, 4)},
      {"long reference L=0 gives 4 pixels", 5, Concat(px, {0x83, 0, 0}), Repeat(px, 5)},
      {"long reference L=300 gives 304 pixels", 305, Concat(px, {0x83, 0x2C, 0x01}),
       Repeat(px, 305)},
      // Pixels A B, then k = 1 (two to the left) for 4 pixels: A B A B A B.
      {"k1 overlap repeats a two-pixel pattern", 6,
       Concat(Concat(Bytes(ab.begin(), ab.begin() + 3), {0x00}),
              Concat(Bytes(ab.begin() + 3, ab.end()), {0x87, 0, 0})),
       Repeat(ab, 3)},
      {"literal 0x7E gives 127 pixels", 128, Concat(px, Concat({0x7E}, Ramp(127))),
       Concat(px, Ramp(127))},
      {"literal 0x7F L=0 gives 128 pixels", 129, Concat(px, Concat({0x7F, 0, 0}, Ramp(128))),
       Concat(px, Ramp(128))},
      {"literal 0x7F L=2 gives 130 pixels", 131, Concat(px, Concat({0x7F, 2, 0}, Ramp(130))),
       Concat(px, Ramp(130))},
  };
  for (const FormCase& c : cases) {
    std::vector<std::uint8_t> pixels(c.expected.size());
    std::size_t consumed = 0;
    EXPECT_EQ(0, image::DecodeRctData(c.data.data(), c.data.size(), c.width, 1, pixels.data(),
                                      pixels.size(), pixels.size(), &consumed))
        << c.what;
    EXPECT_EQ(c.data.size(), consumed) << c.what;
    EXPECT_EQ(c.expected, pixels) << c.what;
  }
}

// Rows are decoded packed and then spread to the stride from the last row up.
TEST(RctDecode, SpreadsRowsToTheStride) {
  for (std::int32_t width : {1, 3, 4, 5, 7}) {
    constexpr std::int32_t kH = 3;
    const Bytes source = Ramp(width * kH);
    Bytes data(source.begin(), source.begin() + 3);
    if (width * kH > 1) {
      data.push_back(static_cast<std::uint8_t>(width * kH - 2));
      data.insert(data.end(), source.begin() + 3, source.end());
    }
    const std::size_t stride = static_cast<std::size_t>(image::SurfaceStride(width, 0));
    std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[stride * kH]());
    ASSERT_EQ(0, image::DecodeRctData(data.data(), data.size(), width, kH, pixels.get(),
                                      stride, stride * kH));
    for (int y = 0; y < kH; ++y) {
      EXPECT_EQ(Bytes(source.begin() + 3 * width * y, source.begin() + 3 * width * (y + 1)),
                Bytes(pixels.get() + y * stride, pixels.get() + y * stride + 3 * width))
          << "width " << width << " row " << y;
    }
  }
}

struct CorruptCase {
  const char* what;
  std::int32_t width, height;
  Bytes data;
  int result;
  std::size_t consumed;
  Bytes prefix;  // packed pixels that must have been decoded before the damage
};

// Damaged data blocks: decoding stops inside both buffers (exact-size heap copies, so the
// sanitizer sees any stray access) and keeps what it produced before the damage.
TEST(RctDecode, CorruptBlocksStayInsideTheirBuffers) {
  const std::vector<CorruptCase> cases = {
      {"empty block", 2, 2, {}, -1, 0, {}},
      {"first pixel cut short", 2, 2, {1, 2}, -1, 0, {}},
      {"no command after the first pixel", 2, 1, {1, 2, 3}, -1, 3, {1, 2, 3}},
      {"literal past the block", 2, 2, {1, 2, 3, 0x01, 4, 5, 6}, -1, 3, {1, 2, 3}},
      {"literal past the image", 2, 1, {1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}, -1, 3, {1, 2, 3}},
      {"long literal without its length", 200, 1, {1, 2, 3, 0x7F, 0}, -1, 3, {1, 2, 3}},
      {"long literal past the block", 200, 1, {1, 2, 3, 0x7F, 0, 0, 4}, -1, 3, {1, 2, 3}},
      {"long reference without its length", 9, 1, {1, 2, 3, 0x83, 0}, -1, 3, {1, 2, 3}},
      {"long reference past the image", 9, 1, {1, 2, 3, 0x83, 0xFF, 0xFF}, -1, 3, {1, 2, 3}},
      {"reference past the image", 2, 1, {1, 2, 3, 0x81}, -1, 3, {1, 2, 3}},
      {"reference above the first row", 2, 2, {1, 2, 3, 0xA4}, -1, 3, {1, 2, 3}},
      {"reference before the first pixel", 4, 1, {1, 2, 3, 0x84}, -1, 3, {1, 2, 3}},
      {"source ahead past the image", 1, 2, {1, 2, 3, 0x98}, -1, 3, {1, 2, 3}},
      {"damage after good commands", 3, 1, {1, 2, 3, 0x00, 4, 5, 6, 0x7F}, -1, 7,
       {1, 2, 3, 4, 5, 6}},
      {"bytes after the last command are left alone", 2, 1, {1, 2, 3, 0x80, 0xFF, 0xFF}, 0, 4,
       {1, 2, 3, 1, 2, 3}},
  };
  for (const CorruptCase& c : cases) {
    const std::size_t total = static_cast<std::size_t>(c.width) * c.height * 3;
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[c.data.size() + 1]);
    if (!c.data.empty()) std::memcpy(data.get(), c.data.data(), c.data.size());
    std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[total]());
    std::size_t consumed = 99;
    EXPECT_EQ(c.result, image::DecodeRctData(c.data.empty() ? nullptr : data.get(),
                                             c.data.size(), c.width, c.height, pixels.get(),
                                             3 * c.width, total, &consumed))
        << c.what;
    EXPECT_EQ(c.consumed, consumed) << c.what;
    EXPECT_EQ(c.prefix, Bytes(pixels.get(), pixels.get() + c.prefix.size())) << c.what;
    EXPECT_TRUE(std::all_of(pixels.get() + c.prefix.size(), pixels.get() + total,
                            [](std::uint8_t b) { return b == 0; }))
        << c.what;
  }
}

TEST(RctDecode, RejectsUnusablePixelMemoryWithoutWriting) {
  struct Case {
    std::int32_t width, height;
    std::size_t stride, pixelBytes;
  };
  const Case cases[] = {
      {2, 2, 5, 16},   // stride shorter than a packed row
      {2, 2, 8, 15},   // memory one byte short of stride × height
      {0, 2, 8, 16},   // no width
      {2, -1, 8, 16},  // negative height
      {0x40000000, 1, 0xC0000000u, 0xC0000000u},  // width × 3 beyond a signed 32-bit integer
  };
  for (const Case& c : cases) {
    std::uint8_t pixels[16] = {};
    EXPECT_EQ(-2, image::DecodeRctData(kVector2x2.data(), kVector2x2.size(), c.width, c.height,
                                       pixels, c.stride, c.pixelBytes));
    EXPECT_EQ(Bytes(16, 0), Bytes(pixels, pixels + 16));
  }
}

// ---- Loader -------------------------------------------------------------------------------

TEST_F(ImageLoad, TwoByTwoFileDecodesIntoAPaddedSurface) {
  SurfacePtr s = Load(RctFile(kTC00, 2, 2, kVector2x2));
  ASSERT_TRUE(s);
  EXPECT_EQ(2, s->width);
  EXPECT_EQ(2, s->height);
  EXPECT_EQ(8, s->stride);
  EXPECT_EQ(0, s->keep);
  EXPECT_EQ((Bytes{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60}),
            PackedRows(*s));
}

TEST_F(ImageLoad, EveryVariantWithItsNameAndTrailer) {
  const Bytes rows = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  struct Case {
    std::string signature;
    bool nameField;
    std::string name;
    Bytes data;
  };
  const Case cases[] = {
      {kTC00, false, "", kVector2x2},
      {kTS00, false, "", Concat(kVector2x2, kTrailer)},
      {kTC01, true, "", kVector2x2},  // data block at offset 22
      {kTC01, true, "タイトル画面", kVector2x2},
      {kTS01, true, "", Concat(kVector2x2, kTrailer)},
      {kTS01, true, std::string(300, 'n'), Concat(kVector2x2, kTrailer)},
  };
  for (const Case& c : cases) {
    // Bytes after the data block are ignored.
    SurfacePtr s = Load(RctFile(c.signature, 2, 2, c.data, c.nameField, c.name, -1, {0xDE, 0xAD}));
    ASSERT_TRUE(s) << c.signature.substr(4) << " name " << c.name.size();
    EXPECT_EQ(rows, PackedRows(*s)) << c.signature.substr(4);
  }
  EXPECT_TRUE(host::Boxes().empty());
}

TEST_F(ImageLoad, ForeignSignaturesGiveNone) {
  const std::string signatures[] = {
      kKanji + "tc00", kKanji + "Tc00", kKanji + "ts01", kKanji + "TC02", kKanji + "TX00",
      "\x98\x5B\x92\x9A" "TC00", "\x98\x5A\x92\x9B" "TC00", "BMTC00\0\0", std::string(8, '\0'),
  };
  for (const std::string& sig : signatures) {
    EXPECT_FALSE(Load(RctFile(sig, 2, 2, kVector2x2))) << sig;
  }
  EXPECT_TRUE(host::Boxes().empty());
}

TEST_F(ImageLoad, MissingTrailerGivesABlackSurfaceOfTheHeaderSize) {
  const Bytes wrongEnd = Concat(kVector2x2, {0x54, 0x54});
  const Bytes cases[] = {wrongEnd, {0x53}, {}, Concat(kVector2x2, {0x53, 0x54})};
  for (const Bytes& data : cases) {
    for (const std::string& sig : {kTS00, kTS01}) {
      SurfacePtr s = Load(RctFile(sig, 3, 2, data, sig == kTS01));
      ASSERT_TRUE(s);
      EXPECT_EQ(3, s->width);
      EXPECT_EQ(2, s->height);
      EXPECT_EQ(Bytes(static_cast<std::size_t>(s->stride) * 2, 0),
                Bytes(s->bits, s->bits + s->stride * 2));
    }
  }
  // The same bytes in a plain variant decode; the two extra bytes are never commands.
  SurfacePtr plain = Load(RctFile(kTC00, 2, 2, wrongEnd));
  ASSERT_TRUE(plain);
  EXPECT_EQ(0x10, plain->bits[8]);
}

TEST_F(ImageLoad, FilesShorterThanAnnouncedGiveNoneWithoutAsking) {
  const Bytes full = RctFile(kTC00, 2, 2, kVector2x2);
  Bytes nameCut = RctFile(kTC01, 2, 2, kVector2x2, true, "name");
  nameCut.resize(24);
  const Bytes cases[] = {
      Bytes(full.begin(), full.begin() + 10),  // header cut
      Bytes(full.begin(), full.end() - 1),     // data block one byte short
      Bytes(full.begin(), full.begin() + 21),  // name length cut
      nameCut,
      RctFile(kTC00, 2, 2, kVector2x2, false, "", 0xFFFFFFF0),  // must not be allocated
  };
  for (const Bytes& file : cases) EXPECT_FALSE(Load(file)) << file.size();
  EXPECT_TRUE(host::Boxes().empty());
}

TEST_F(ImageLoad, UnusableSizesGiveNone) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {0, 2}, {2, 0}, {-2, 2}, {2, -2}, {INT32_MIN, 1}, {65536, 65536}, {715827883, 1},
      {715827882, 1},  // fits the format, but no surface row can be that long
  };
  image::BitmapSurface* head = image::SurfaceListHead();
  for (auto [w, h] : sizes) EXPECT_FALSE(Load(RctFile(kTC00, w, h, kVector2x2))) << w;
  EXPECT_EQ(head, image::SurfaceListHead());
}

TEST_F(ImageLoad, FailedSurfaceCreationGivesNone) {
  image::BitmapSurface* head = image::SurfaceListHead();
  image::internal::FailSectionCreations(1);
  EXPECT_FALSE(Load(RctFile(kTC00, 2, 2, kVector2x2)));
  EXPECT_EQ(head, image::SurfaceListHead());
  EXPECT_TRUE(Load(RctFile(kTC00, 2, 2, kVector2x2)));
}

// ---- Surfaces -----------------------------------------------------------------------------

TEST(SurfaceCreate, StridesAndInfoBlock) {
  struct Case {
    std::int32_t width, palettized, stride;
  };
  const Case cases[] = {{1, 0, 4}, {4, 0, 12}, {5, 0, 16}, {256, 0, 768},
                        {1, 1, 4}, {5, 1, 8},  {256, 1, 256}};
  for (const Case& c : cases) {
    SurfacePtr s(image::CreateSurface(c.width, 3, c.palettized, 0));
    ASSERT_TRUE(s);
    EXPECT_EQ(c.stride, s->stride) << c.width << "/" << c.palettized;
    EXPECT_EQ(3, s->height);
    const image::BitmapInfoHeader& h = *s->info;
    EXPECT_EQ(40u, h.biSize);
    EXPECT_EQ(c.width, h.biWidth);
    EXPECT_EQ(-3, h.biHeight);  // top-down rows
    EXPECT_EQ(1, h.biPlanes);
    EXPECT_EQ(c.palettized ? 8 : 24, h.biBitCount);
    EXPECT_EQ(c.palettized ? 256u : 0u, h.biClrUsed);
    EXPECT_EQ(0u, h.biCompression);
    if (c.palettized) {
      ASSERT_EQ(reinterpret_cast<std::uint8_t*>(s->info) + 40, s->colours);
      EXPECT_EQ(Bytes(1024, 0), Bytes(s->colours, s->colours + 1024));
    } else {
      EXPECT_EQ(nullptr, s->colours);
    }
    EXPECT_EQ(Bytes(c.stride * 3, 0), Bytes(s->bits, s->bits + c.stride * 3));
  }
}

TEST(SurfaceCreate, NegativeHeightMakesBottomUpRows) {
  SurfacePtr s(image::CreateSurface(4, -3, 0, 0));
  ASSERT_TRUE(s);
  EXPECT_EQ(3, s->height);
  EXPECT_EQ(3, s->info->biHeight);
}

TEST(SurfaceCreate, UnusableSizesAndFailedSectionsGiveNone) {
  image::BitmapSurface* head = image::SurfaceListHead();
  const std::int32_t sizes[][3] = {
      {0, 1, 0}, {-1, 1, 0}, {1, 0, 0}, {1, INT32_MIN, 0}, {0x2AAAAAAB, 1, 0}, {65536, 65536, 1},
  };
  for (const auto& s : sizes) EXPECT_EQ(nullptr, image::CreateSurface(s[0], s[1], s[2], 0));
  image::internal::FailSectionCreations(1);
  EXPECT_EQ(nullptr, image::CreateSurface24(2, 2, 0));
  EXPECT_EQ(head, image::SurfaceListHead());
}

TEST(SurfaceList, LinksNewestFirstAndUnlinks) {
  image::BitmapSurface* before = image::SurfaceListHead();
  image::BitmapSurface* a = image::CreateSurface24(1, 1, 0);
  image::BitmapSurface* b = image::CreateSurface24(1, 1, 0);
  image::BitmapSurface* c = image::CreateSurface24(1, 1, 0);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(c, image::SurfaceListHead());
  EXPECT_EQ(nullptr, c->prev);
  EXPECT_EQ(b, c->next);
  EXPECT_EQ(a, b->next);
  EXPECT_EQ(before, a->next);

  EXPECT_EQ(0, image::FreeSurface(b, 0));
  EXPECT_EQ(a, c->next);
  EXPECT_EQ(c, a->prev);

  EXPECT_EQ(0, image::FreeSurface(c, 0));
  EXPECT_EQ(a, image::SurfaceListHead());
  EXPECT_EQ(nullptr, a->prev);

  EXPECT_EQ(0, image::FreeSurface(a, 0));
  EXPECT_EQ(before, image::SurfaceListHead());
  EXPECT_EQ(0, image::FreeSurface(nullptr, 0));
}

TEST(SurfaceList, KeepFlagRefusesReleaseWithoutForce) {
  image::BitmapSurface* s = image::CreateSurface24(2, 2, 1);
  ASSERT_TRUE(s);
  EXPECT_EQ(1, image::FreeSurface(s, 0));
  EXPECT_EQ(s, image::SurfaceListHead());
  s->bits[0] = 0x7F;  // still usable
  EXPECT_EQ(0, image::FreeSurface(s, 1));
  EXPECT_NE(s, image::SurfaceListHead());
}

// ---- Encoder and the mkupdater command ----------------------------------------------------

mkupdater::BgrImage MakeImage(std::int32_t w, std::int32_t h, const char* kind,
                              std::uint32_t seed) {
  mkupdater::BgrImage img;
  img.width = w;
  img.height = h;
  img.pixels.resize(static_cast<std::size_t>(w) * h * 3);
  std::mt19937 rng(seed);
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint8_t* p = &img.pixels[(static_cast<std::size_t>(y) * w + x) * 3];
      if (std::strcmp(kind, "random") == 0) {
        for (int i = 0; i < 3; ++i) p[i] = static_cast<std::uint8_t>(rng());
      } else if (std::strcmp(kind, "smooth") == 0) {
        // Flat bands of a diagonal gradient with an occasional speck.
        p[0] = static_cast<std::uint8_t>((x + y) / 6 * 9);
        p[1] = static_cast<std::uint8_t>(y / 5 * 11);
        p[2] = static_cast<std::uint8_t>(200 - x / 7 * 5);
        if (rng() % 97 == 0) p[1] ^= 0x55;
      } else {  // constant
        p[0] = 0x12, p[1] = 0x34, p[2] = 0x56;
      }
    }
  }
  return img;
}

TEST(RctCodec, RoundTripsThroughTheLoaderForEveryVariant) {
  host::Reset();
  shell::EnablePlainNameLookup();
  TempDir dir;
  const struct {
    std::int32_t w, h;
    const char* kind;
  } images[] = {{1, 1, "random"},  {1, 9, "random"},  {9, 1, "smooth"},  {37, 23, "random"},
                {64, 48, "smooth"}, {5, 40, "smooth"}, {300, 3, "random"}, {70, 70, "constant"}};
  const std::pair<image::RctVariant, std::string> variants[] = {
      {image::RctVariant::TC00, ""},
      {image::RctVariant::TS00, ""},
      {image::RctVariant::TC01, "タイトル"},
      {image::RctVariant::TS01, ""},
  };
  std::uint32_t seed = 1;
  for (const auto& im : images) {
    const mkupdater::BgrImage img = MakeImage(im.w, im.h, im.kind, seed++);
    for (const auto& [variant, name] : variants) {
      Bytes file;
      ASSERT_EQ(0, mkupdater::BuildRctFile(img, variant, name, &file));
      SurfacePtr s(image::LoadRctImage(dir.Write("r.rct", file).c_str()));
      ASSERT_TRUE(s) << im.kind << " " << im.w << "x" << im.h;
      EXPECT_EQ(img.pixels, PackedRows(*s)) << im.kind << " " << im.w << "x" << im.h;

      mkupdater::BgrImage back;
      std::string error;
      image::RctVariant seen{};
      ASSERT_EQ(0, mkupdater::DecodeRctFile(file, &back, &seen, &error)) << error;
      EXPECT_EQ(img.pixels, back.pixels);
      EXPECT_EQ(variant, seen);
    }
  }
}

TEST(RctCodec, SizesShowTheParseUsesTheLongForms) {
  // Random pixels: one long literal beats a chain of short ones.
  const mkupdater::BgrImage noise = MakeImage(2000, 1, "random", 7);
  EXPECT_EQ(3u + 3u + 1999u * 3u, mkupdater::EncodeRctData(noise).size());
  // One colour: the first pixel and a single long reference per 65539 pixels.
  EXPECT_EQ(6u, mkupdater::EncodeRctData(MakeImage(200, 300, "constant", 0)).size());
  EXPECT_EQ(9u, mkupdater::EncodeRctData(MakeImage(400, 300, "constant", 0)).size());
  // Banded gradients compress well below the raw size.
  const mkupdater::BgrImage smooth = MakeImage(256, 256, "smooth", 3);
  EXPECT_LT(mkupdater::EncodeRctData(smooth).size(), smooth.pixels.size() / 4);
}

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> out;
  for (std::string& a : args) out.push_back(a.data());
  return out;
}

int RunRct(std::vector<std::string> args) {
  std::vector<char*> argv = Argv(args);
  return mkupdater::RunRctCommand(static_cast<int>(argv.size()), argv.data());
}

TEST(RctCommand, EncodesTheExampleTitleAndDecodesItBack) {
  TempDir dir;
  const std::string png = std::string(KOVELA_SOURCE_DIR) + "/examples/title/title.png";
  const std::string rct = dir.Path("insttscr.rct"), back = dir.Path("back.png");
  ASSERT_EQ(0, RunRct({"rct", "encode", png, rct}));
  ASSERT_EQ(0, RunRct({"rct", "decode", rct, back}));
  mkupdater::BgrImage a, b;
  std::string error;
  ASSERT_EQ(0, mkupdater::ReadPng(png.c_str(), &a, &error)) << error;
  ASSERT_EQ(0, mkupdater::ReadPng(back.c_str(), &b, &error)) << error;
  EXPECT_EQ(256, a.width);
  EXPECT_EQ(256, a.height);
  EXPECT_EQ(a.pixels, b.pixels);

  host::Reset();
  shell::EnablePlainNameLookup();
  SurfacePtr s(image::LoadRctImage(rct.c_str()));
  ASSERT_TRUE(s);
  EXPECT_EQ(768, s->stride);
  EXPECT_EQ(a.pixels, PackedRows(*s));
}

TEST(RctCommand, RefusesBadInputAndUsage) {
  TempDir dir;
  mkupdater::BgrImage img = MakeImage(8, 8, "smooth", 1);
  Bytes good;
  ASSERT_EQ(0, mkupdater::BuildRctFile(img, image::RctVariant::TS00, "", &good));
  Bytes badTrailer = good;
  badTrailer.back() = 'X';
  Bytes cut(good.begin(), good.end() - 4);
  const Bytes broken = RctFile(kTC00, 2, 2, {1, 2, 3, 0x7F});
  const std::string png = dir.Path("in.png");
  std::string error;
  ASSERT_EQ(0, mkupdater::WritePng(png.c_str(), img, &error));

  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"rct"}, 1},
      {{"rct", "convert", "a", "b"}, 1},
      {{"rct", "decode", dir.Path("missing.rct"), dir.Path("o.png")}, 1},
      {{"rct", "decode", dir.Write("foreign.rct", RctFile(kKanji + "tc00", 2, 2, kVector2x2)),
        dir.Path("o.png")},
       2},
      {{"rct", "decode", dir.Write("trailer.rct", badTrailer), dir.Path("o.png")}, 2},
      {{"rct", "decode", dir.Write("cut.rct", cut), dir.Path("o.png")}, 2},
      {{"rct", "decode", dir.Write("broken.rct", broken), dir.Path("o.png")}, 2},
      {{"rct", "decode", dir.Write("tiny.rct", {0x98, 0x5A}), dir.Path("o.png")}, 2},
      {{"rct", "encode", dir.Write("notpng.png", {1, 2, 3}), dir.Path("o.rct")}, 2},
      {{"rct", "encode", "--variant", "TC02", png, dir.Path("o.rct")}, 1},
      {{"rct", "encode", "--name", "x", png, dir.Path("o.rct")}, 1},
      {{"rct", "encode", "--variant", "TS01", "--name", "x", png, dir.Path("o.rct")}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, RunRct(c.args)) << c.args[1] << " " << c.args.back();
  }
}

}  // namespace
