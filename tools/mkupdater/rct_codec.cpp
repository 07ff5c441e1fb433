// Title image encoder and strict file decoder for mkupdater (PNG: png_posix.cpp, png_win32.cpp).
#include "rct_codec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "bytes.h"
#include "tool.h"

namespace mkupdater {

// Every text the rct command shows, in one place.
namespace text {
const char kUsage[] =
    "usage: mkupdater rct decode <in.rct> <out.png>\n"
    "       mkupdater rct encode [--variant TC00|TS00|TC01|TS01] [--name TEXT] <in.png> "
    "<out.rct>\n";
const char kUnknownVariant[] = "unknown variant \"%s\" (use TC00, TS00, TC01 or TS01)";
const char kNameWithout01[] = "--name needs a 01 variant (TC01 or TS01)";
const char kNameTooLong[] = "the name has %lu bytes; at most 65535 fit";
const char kCannotRead[] = "cannot read %s";
const char kCannotWrite[] = "cannot write %s";
const char kUnknownSignature[] = "not a title image (unknown signature)";
const char kShortHeader[] = "damaged title image: the header is cut short";
const char kBadDimensions[] = "damaged title image: width %ld and height %ld are not usable";
const char kShortName[] = "damaged title image: the name field is cut short";
const char kShortData[] = "damaged title image: the data block is cut short (%lu of %lu bytes)";
const char kNoTrailer[] = "damaged title image: the data block does not end with \"TS\"";
const char kBrokenData[] = "damaged title image: the data breaks off at byte %lu of %lu";
const char kPngRead[] = "cannot read PNG %s: %s";
const char kPngWrite[] = "cannot write PNG %s: %s";
const char kPngTooLarge[] = "PNG %s is too large for a title image";
const char kDecoded[] = "%s: %ldx%ld, variant %s, %lu bytes (raw pixels %lu bytes, %.1f%%)\n";
const char kEncoded[] = "%s: %ldx%ld, variant %s, %lu bytes (raw pixels %lu bytes, %.1f%%)\n";
}  // namespace text

namespace {

// Command limits of the data block.
constexpr std::uint32_t kShortRefMax = 3;  // f & 3 = 0..2: 1 to 3 pixels
constexpr std::uint32_t kLongRefMin = 4;   // f & 3 = 3: L + 4 pixels
constexpr std::uint32_t kLongRefMax = 0xFFFF + kLongRefMin;
constexpr std::uint32_t kShortLiteralMax = 127;  // f = 0x00-0x7E: f + 1 pixels
constexpr std::uint32_t kLongLiteralMin = 128;   // f = 0x7F: L + 128 pixels
constexpr std::uint32_t kLongLiteralMax = 0xFFFF + kLongLiteralMin;

// Range minimum over keys that carry a cost in the high bits and a position in the low 30
// bits, arranged so that among equal costs the farther position (the longer command) wins.
class MinTree {
 public:
  static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
  explicit MinTree(std::size_t leaves) : n_(leaves), t_(2 * leaves, kNone) {}

  static std::uint64_t Key(std::uint64_t cost, std::uint32_t pos) {
    return cost << 30 | ((1u << 30) - 1 - pos);
  }
  static std::uint32_t Pos(std::uint64_t key) {
    return (1u << 30) - 1 - static_cast<std::uint32_t>(key & ((1u << 30) - 1));
  }
  static std::uint64_t Cost(std::uint64_t key) { return key >> 30; }

  void Set(std::size_t i, std::uint64_t key) {
    i += n_;
    t_[i] = key;
    for (i /= 2; i >= 1; i /= 2) t_[i] = std::min(t_[2 * i], t_[2 * i + 1]);
  }
  // Minimum over positions lo..hi inclusive.
  std::uint64_t Query(std::size_t lo, std::size_t hi) const {
    std::uint64_t best = kNone;
    for (lo += n_, hi += n_ + 1; lo < hi; lo /= 2, hi /= 2) {
      if (lo & 1) best = std::min(best, t_[lo++]);
      if (hi & 1) best = std::min(best, t_[--hi]);
    }
    return best;
  }

 private:
  std::size_t n_;
  std::vector<std::uint64_t> t_;
};

struct Step {
  std::uint32_t length;  // pixels produced
  std::int32_t source;   // back-reference source k, or -1 for a literal run
};

std::uint32_t GetU16(const std::uint8_t* p) { return p[0] | std::uint32_t{p[1]} << 8; }

}  // namespace

// The parse is a shortest path from the last pixel back to the second: cost[p] is the
// fewest bytes that encode pixels p to the end. From p a back-reference of m pixels costs 1
// byte (m <= 3) or 3 (m >= 4) plus cost[p + m]; a literal of m pixels costs 1 + 3m
// (m <= 127) or 3 + 3m plus cost[p + m]. For the long forms the best m is a range minimum,
// over cost (back-references) or over cost + 3 × position (literals), so every length is
// weighed without trying each one.
std::vector<std::uint8_t> EncodeRctData(const BgrImage& image) {
  std::vector<std::uint8_t> out;
  if (!image::RctDimensionsUsable(image.width, image.height)) return out;
  const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
  if (image.pixels.size() < count * 3) return out;
  const std::uint8_t* bgr = image.pixels.data();

  std::vector<std::uint32_t> px(count);
  for (std::size_t i = 0; i < count; ++i) {
    px[i] = bgr[3 * i] | std::uint32_t{bgr[3 * i + 1]} << 8 | std::uint32_t{bgr[3 * i + 2]} << 16;
  }

  // Pixel displacement of each source; sources that coincide for this width (or point at or
  // after the current pixel) are left out, keeping the lowest k.
  std::int64_t offsets[image::kRctOffsetCount];
  image::BuildRctOffsets(image.width, offsets);
  std::vector<int> sources;
  std::vector<std::int64_t> dist;
  for (int k = 0; k < image::kRctOffsetCount; ++k) {
    const std::int64_t d = offsets[k] / 3;
    if (d >= 0 || std::find(dist.begin(), dist.end(), d) != dist.end()) continue;
    sources.push_back(k);
    dist.push_back(d);
  }
  std::vector<std::uint32_t> run(sources.size(), 0);  // match length at p + 1, then at p

  std::vector<std::uint64_t> cost(count + 1, 0);
  std::vector<Step> steps(count + 1, Step{0, -1});
  MinTree costTree(count + 1), literalTree(count + 1);
  costTree.Set(count, MinTree::Key(0, static_cast<std::uint32_t>(count)));
  literalTree.Set(count, MinTree::Key(3 * count, static_cast<std::uint32_t>(count)));

  for (std::size_t p = count - 1; p >= 1; --p) {
    const std::size_t left = count - p;
    std::uint64_t best = MinTree::kNone;
    Step step{0, -1};

    for (std::size_t s = 0; s < sources.size(); ++s) {
      const std::int64_t from = static_cast<std::int64_t>(p) + dist[s];
      if (from < 0 || px[p] != px[static_cast<std::size_t>(from)]) {
        run[s] = 0;
        continue;
      }
      ++run[s];
      const std::uint32_t longest = std::min(run[s], kLongRefMax);
      for (std::uint32_t m = 1; m <= std::min(longest, kShortRefMax); ++m) {
        if (1 + cost[p + m] < best) {
          best = 1 + cost[p + m];
          step = Step{m, sources[s]};
        }
      }
      if (longest >= kLongRefMin) {
        const std::uint64_t key = costTree.Query(p + kLongRefMin, p + longest);
        if (3 + MinTree::Cost(key) < best) {
          best = 3 + MinTree::Cost(key);
          step = Step{static_cast<std::uint32_t>(MinTree::Pos(key) - p), sources[s]};
        }
      }
    }

    const std::size_t shortEnd = p + std::min<std::size_t>(left, kShortLiteralMax);
    std::uint64_t key = literalTree.Query(p + 1, shortEnd);
    if (1 + MinTree::Cost(key) - 3 * p < best) {
      best = 1 + MinTree::Cost(key) - 3 * p;
      step = Step{static_cast<std::uint32_t>(MinTree::Pos(key) - p), -1};
    }
    if (left >= kLongLiteralMin) {
      const std::size_t longEnd = p + std::min<std::size_t>(left, kLongLiteralMax);
      key = literalTree.Query(p + kLongLiteralMin, longEnd);
      if (3 + MinTree::Cost(key) - 3 * p < best) {
        best = 3 + MinTree::Cost(key) - 3 * p;
        step = Step{static_cast<std::uint32_t>(MinTree::Pos(key) - p), -1};
      }
    }

    cost[p] = best;
    steps[p] = step;
    costTree.Set(p, MinTree::Key(best, static_cast<std::uint32_t>(p)));
    literalTree.Set(p, MinTree::Key(best + 3 * p, static_cast<std::uint32_t>(p)));
  }

  out.reserve(3 + (count > 1 ? cost[1] : 0));
  out.insert(out.end(), bgr, bgr + 3);
  for (std::size_t p = 1; p < count; p += steps[p].length) {
    const Step step = steps[p];
    if (step.source >= 0) {
      const std::uint8_t f = static_cast<std::uint8_t>(0x80 | step.source << 2);
      if (step.length <= kShortRefMax) {
        out.push_back(static_cast<std::uint8_t>(f | (step.length - 1)));
      } else {
        out.push_back(f | 3);
        PutU16(out, step.length - kLongRefMin);
      }
    } else {
      if (step.length <= kShortLiteralMax) {
        out.push_back(static_cast<std::uint8_t>(step.length - 1));
      } else {
        out.push_back(0x7F);
        PutU16(out, step.length - kLongLiteralMin);
      }
      out.insert(out.end(), bgr + 3 * p, bgr + 3 * (p + step.length));
    }
  }
  return out;
}

int BuildRctFile(const BgrImage& image, image::RctVariant variant, const std::string& name,
                 std::vector<std::uint8_t>* out) {
  if (!image::RctDimensionsUsable(image.width, image.height)) return -1;
  if (!image::RctHasName(variant) && !name.empty()) return -1;
  if (name.size() > 0xFFFF) return -1;
  std::vector<std::uint8_t> data = EncodeRctData(image);
  if (data.empty()) return -1;
  if (image::RctHasTrailer(variant)) { data.insert(data.end(), image::kRctTrailer, image::kRctTrailer + 2); }

  const char* signature = image::kRctSignatures[static_cast<int>(variant)];
  out->clear();
  out->reserve(image::kRctHeaderSize + image::kRctNameLengthSize + name.size() + data.size());
  for (std::size_t i = 0; i < image::kRctSignatureSize; ++i) {
    out->push_back(static_cast<std::uint8_t>(signature[i]));
  }
  PutU32(*out, static_cast<std::uint32_t>(image.width));
  PutU32(*out, static_cast<std::uint32_t>(image.height));
  PutU32(*out, static_cast<std::uint32_t>(data.size()));
  if (image::RctHasName(variant)) {
    PutU16(*out, static_cast<std::uint32_t>(name.size()));
    out->insert(out->end(), name.begin(), name.end());
  }
  out->insert(out->end(), data.begin(), data.end());
  return 0;
}

// Same layout as the loader reads (see image/rct.h), but every shortfall is an error.
int DecodeRctFile(const std::vector<std::uint8_t>& file, BgrImage* out, image::RctVariant* variant,
                  std::string* error) {
  // A file too short for its header is judged by the signature bytes it has.
  std::uint8_t head[image::kRctHeaderSize] = {};
  std::memcpy(head, file.data(), std::min(file.size(), sizeof head));
  image::RctHeader header{};
  if (file.size() < image::kRctSignatureSize || image::ParseRctHeader(head, sizeof head, &header) != 0) {
    *error = text::kUnknownSignature;
    return -1;
  }
  if (file.size() < image::kRctHeaderSize) {
    *error = text::kShortHeader;
    return -2;
  }
  if (!image::RctDimensionsUsable(header.width, header.height)) {
    *error = Format(text::kBadDimensions, static_cast<long>(header.width), static_cast<long>(header.height));
    return -2;
  }
  std::size_t pos = image::kRctHeaderSize;
  if (image::RctHasName(header.variant)) {
    if (file.size() - pos < image::kRctNameLengthSize ||
        file.size() - pos - image::kRctNameLengthSize < GetU16(file.data() + pos)) {
      *error = text::kShortName;
      return -2;
    }
    pos += image::kRctNameLengthSize + GetU16(file.data() + pos);
  }
  if (file.size() - pos < header.dataSize) {
    *error = Format(text::kShortData, static_cast<unsigned long>(file.size() - pos),
                    static_cast<unsigned long>(header.dataSize));
    return -2;
  }
  std::size_t size = header.dataSize;
  if (image::RctHasTrailer(header.variant)) {
    if (size < 2 || std::memcmp(file.data() + pos + size - 2, image::kRctTrailer, 2) != 0) {
      *error = text::kNoTrailer;
      return -2;
    }
    size -= 2;
  }

  out->width = header.width;
  out->height = header.height;
  const std::size_t rowBytes = static_cast<std::size_t>(header.width) * 3;
  const std::size_t bytes = rowBytes * static_cast<std::size_t>(header.height);
  out->pixels.assign(bytes, 0);
  std::size_t consumed = 0;
  if (image::DecodeRctData(file.data() + pos, size, header.width, header.height, out->pixels.data(), rowBytes,
                           bytes, &consumed) != image::RctDecode::Filled) {
    *error =
        Format(text::kBrokenData, static_cast<unsigned long>(consumed), static_cast<unsigned long>(size));
    return -2;
  }
  if (variant != nullptr) *variant = header.variant;
  return 0;
}

void CompositeOnBlack(const std::vector<std::uint8_t>& bgra, BgrImage* out) {
  out->pixels.resize(bgra.size() / 4 * 3);
  for (std::size_t i = 0, o = 0; i + 3 < bgra.size(); i += 4, o += 3) {
    const unsigned a = bgra[i + 3];
    for (int c = 0; c < 3; ++c) out->pixels[o + c] = static_cast<std::uint8_t>((bgra[i + c] * a + 127) / 255);
  }
}

int ParseRctVariantName(const char* text, image::RctVariant* out) {
  constexpr const char* kNames[4] = {"TC00", "TS00", "TC01", "TS01"};
  for (int i = 0; i < 4; ++i) {
    if (std::strcmp(text, kNames[i]) == 0) {
      *out = static_cast<image::RctVariant>(i);
      return 0;
    }
  }
  return -1;
}

}  // namespace mkupdater
