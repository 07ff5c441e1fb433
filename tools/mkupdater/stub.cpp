// Reading a stub's headers and its marker resource.
//
// What is read, little-endian, each read checked against the examined length:
//   DOS header   0x00 "MZ", 0x3C u32 file offset P of the PE header
//   PE header    P "PE\0\0"; COFF header at P+4: P+6 u16 number of sections, P+12 u32 file offset
//                of the symbol table, P+16 u32 number of symbols (18 bytes each, then a string
//                table that begins with its u32 length), P+20 u16 size of the optional header
//   optional     P+24: u16 magic 0x10B (PE32) or 0x20B (PE32+); u32 size of the headers at 60;
//                data directories from 96 / 112, directory 2 (resources) u32 address, u32 size
//   sections     after the optional header, 40 bytes each: 8 u32 virtual size, 12 u32 address,
//                16 u32 size of the raw data, 20 u32 its file offset
//   resources    a directory: 12 u16 named entries, 14 u16 id entries, then 8-byte entries
//                (u32 name: high bit set = offset of a u16 length and UTF-16 text, else an id;
//                u32 offset: high bit set = a subdirectory, else a data entry: u32 address,
//                u32 size). Levels: type (RCDATA = 10), name ("KOVELA_STUB"), language.
#include "stub.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "payload/container.h"
#include "tool.h"

namespace mkupdater {
namespace {

constexpr char kMarkerName[] = "KOVELA_STUB";
constexpr char kMarkerPrefix[] = "kovela-updater ";
constexpr std::uint32_t kRcData = 10;
constexpr std::size_t kMaxMarker = 64;

struct Image {
  std::FILE* f;
  std::uint64_t length;
};

bool ReadAt(const Image& im, std::uint64_t pos, void* out, std::size_t n) {
  return pos <= im.length && n <= im.length - pos &&
         std::fseek(im.f, static_cast<long>(pos), SEEK_SET) == 0 && std::fread(out, 1, n, im.f) == n;
}

std::uint32_t Le(const unsigned char* p, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

struct Section {
  std::uint32_t address, virtualSize, rawSize, rawOffset;
};

// The file offset of an address inside a section's raw data, or 0 when none holds it.
std::uint64_t FileOffset(const std::vector<Section>& sections, std::uint32_t address) {
  for (const Section& s : sections)
    if (address >= s.address && address - s.address < s.rawSize)
      return std::uint64_t(s.rawOffset) + address - s.address;
  return 0;
}

// The entry of one resource directory (at base + dir) with this id, or this name when name is
// given: its u32 offset field, or false.
bool FindResource(const Image& im, std::uint64_t base, std::uint32_t dir, std::uint32_t id, const char* name,
                  std::uint32_t* found) {
  unsigned char h[16];
  if (!ReadAt(im, base + dir, h, sizeof h)) return false;
  const unsigned named = Le(h + 12, 2), ids = Le(h + 14, 2);
  for (unsigned i = 0; i < named + ids; ++i) {
    unsigned char e[8];
    if (!ReadAt(im, base + dir + 16 + 8ull * i, e, sizeof e)) return false;
    const std::uint32_t key = Le(e, 4);
    bool match = false;
    if (name && (key & 0x80000000u)) {
      unsigned char text[2 + 2 * sizeof kMarkerName];
      const std::size_t n = std::strlen(name);
      match = ReadAt(im, base + (key & 0x7FFFFFFFu), text, 2 + 2 * n) && Le(text, 2) == n;
      for (std::size_t c = 0; match && c < n; ++c)
        match = Le(text + 2 + 2 * c, 2) == static_cast<unsigned char>(name[c]);
    } else if (!name && !(key & 0x80000000u)) {
      match = key == id;
    }
    if (match) {
      *found = Le(e + 4, 4);
      return true;
    }
  }
  return false;
}

// The marker's text, or "" when the program has none.
std::string ReadMarker(const Image& im, const std::vector<Section>& sections, std::uint32_t rsrcAddress) {
  const std::uint64_t base = FileOffset(sections, rsrcAddress);
  std::uint32_t type, name, language;
  if (base == 0 || !FindResource(im, base, 0, kRcData, nullptr, &type) || !(type & 0x80000000u) ||
      !FindResource(im, base, type & 0x7FFFFFFFu, 0, kMarkerName, &name) || !(name & 0x80000000u))
    return "";
  unsigned char h[16], e[8];
  if (!ReadAt(im, base + (name & 0x7FFFFFFFu), h, sizeof h) || Le(h + 12, 2) + Le(h + 14, 2) == 0 ||
      !ReadAt(im, base + (name & 0x7FFFFFFFu) + 16, e, sizeof e))
    return "";
  language = Le(e + 4, 4);
  unsigned char data[8];
  if ((language & 0x80000000u) || !ReadAt(im, base + language, data, sizeof data)) return "";
  const std::uint64_t at = FileOffset(sections, Le(data, 4));
  const std::uint32_t size = Le(data + 4, 4);
  char text[kMaxMarker + 1] = {};
  if (at == 0 || size > kMaxMarker || !ReadAt(im, at, text, size)) return "";
  return std::string(text, strnlen(text, size));
}

}  // namespace

StubInfo ExamineStub(std::FILE* f, std::uint64_t length) {
  const Image im{f, length};
  StubInfo info{StubKind::NotProgram, ""};
  unsigned char h[24 + 112 + 8 * 3];
  if (!ReadAt(im, 0, h, 64) || h[0] != 'M' || h[1] != 'Z') return info;
  const std::uint64_t pe = Le(h + 0x3C, 4);
  if (!ReadAt(im, pe, h, 26) || std::memcmp(h, "PE\0\0", 4) != 0) return info;
  const unsigned sectionCount = Le(h + 6, 2), optionalSize = Le(h + 20, 2), magic = Le(h + 24, 2);
  const std::uint64_t symbols = Le(h + 12, 4), symbolCount = Le(h + 16, 4);
  const std::size_t dirs = magic == 0x20B ? 112 : 96;
  if ((magic != 0x10B && magic != 0x20B) || optionalSize < dirs + 3 * 8 ||
      !ReadAt(im, pe, h, 24 + dirs + 3 * 8))
    return info;
  // Where the program ends: its headers, its sections' raw data, a symbol table and its strings.
  std::uint64_t end = Le(h + 24 + 60, 4);
  const std::uint32_t rsrcAddress = Le(h + 24 + dirs + 16, 4);
  std::vector<Section> sections;
  for (unsigned i = 0; i < sectionCount; ++i) {
    unsigned char s[40];
    if (!ReadAt(im, pe + 24 + optionalSize + 40ull * i, s, sizeof s)) return info;
    sections.push_back({Le(s + 12, 4), Le(s + 8, 4), Le(s + 16, 4), Le(s + 20, 4)});
    if (sections.back().rawSize)
      end = std::max(end, std::uint64_t(sections.back().rawOffset) + sections.back().rawSize);
  }
  if (symbols != 0) {
    unsigned char n[4];
    const std::uint64_t strings = symbols + 18 * symbolCount;
    end = std::max(end, ReadAt(im, strings, n, 4) ? strings + Le(n, 4) : strings);
  }
  if (end > length) return info;  // cut short
  const std::string marker = ReadMarker(im, sections, rsrcAddress);
  if (marker.compare(0, sizeof kMarkerPrefix - 1, kMarkerPrefix) != 0) {
    info.kind = StubKind::Foreign;
    return info;
  }
  info.version = marker.substr(sizeof kMarkerPrefix - 1);
  if (end < length) {
    // An updater's payload ends the file (or its part before a signature) and begins at or
    // after the program's end.
    std::FILE* whole = f;
    payload::Source src{};
    std::uint32_t payloadLength = 0;
    info.kind = payload::LocatePayload(whole, &src, &payloadLength) == 0 &&
                        static_cast<std::uint64_t>(std::ftell(whole)) >= end
                    ? StubKind::CarriesPayload
                    : StubKind::Appended;
    return info;
  }
  info.kind = info.version == KOVELA_VERSION ? StubKind::Ours : StubKind::OtherVersion;
  return info;
}

std::string StubProblem(const StubInfo& info, bool builtUpdater) {
  const char* fix = builtUpdater
                        ? "build it again from its folder with the updater.exe of this mkupdater's release"
                        : "give --stub the updater.exe from the same release package as this mkupdater";
  switch (info.kind) {
    case StubKind::Ours:
      return "";
    case StubKind::NotProgram:
      return Format("%s is not a Windows program; %s", builtUpdater ? "the part before the payload" : "it",
                    fix);
    case StubKind::Foreign:
      return Format(
          "this Windows program is not kovela-updater's updater.exe (mkupdater.exe, or another "
          "program?); %s",
          fix);
    case StubKind::OtherVersion:
      return Format("this is the updater of kovela-updater %s, but this mkupdater is %s; %s",
                    info.version.c_str(), KOVELA_VERSION, fix);
    case StubKind::CarriesPayload:
      return builtUpdater ? Format(
                                "its program carries the payload of an updater built before (it was built "
                                "with an updater as the stub); %s",
                                fix)
                          : Format("this is an updater built before: it carries a payload already; %s", fix);
    case StubKind::Appended:
      return Format(
          "data follows the program (a signature, or another tool's addition): sign the finished "
          "updater, never the stub; %s",
          fix);
  }
  return "";
}

}  // namespace mkupdater
