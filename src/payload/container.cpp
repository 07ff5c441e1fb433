// Reading the payload container: trailer, record headers, entry names, skipping records.
#include "payload/container.h"

#include <cstring>

#include "base/cp932.h"
#include "base/paths.h"

namespace payload {
namespace {

bool ReadExact(Source* src, void* out, std::size_t n) {
  if (src->left < n) return false;
  if (n && std::fread(out, 1, n, src->file) != n) return false;
  src->left -= n;
  return true;
}

bool Skip(Source* src, std::uint64_t n) {
  if (src->left < n || std::fseek(src->file, static_cast<long>(n), SEEK_CUR) != 0) return false;
  src->left -= n;
  return true;
}

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

bool IsSeparator(unsigned char c) { return c == '\\' || c == '/'; }

// A component the file system would not keep as a plain name inside its folder: empty,
// or nothing but dots and spaces ("." and ".." among them; Windows drops trailing dots and
// spaces, so "..." and ". ." would become one of those).
bool IsBadComponent(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p)
    if (*p != '.' && *p != ' ') return false;
  return true;
}

// Lower-cases a CP932 text in place: ASCII A-Z and the full-width Latin capitals
// (82 60..82 79 -> 82 81..82 9A), each double-byte character as a whole.
void LowerCp932(char* s) {
  for (std::size_t i = 0; s[i];) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (cp932::IsLeadByte(c) && s[i + 1]) {
      unsigned char t = static_cast<unsigned char>(s[i + 1]);
      if (c == 0x82 && t >= 0x60 && t <= 0x79) s[i + 1] = static_cast<char>(t + 0x21);
      i += 2;
      continue;
    }
    if (c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c + 32);
    ++i;
  }
}

// n bytes at pos, all of them inside a file of fileSize bytes.
bool ReadAt(std::FILE* f, std::uint64_t fileSize, std::uint64_t pos, unsigned char* out, std::size_t n) {
  return pos <= fileSize && n <= fileSize - pos && std::fseek(f, static_cast<long>(pos), SEEK_SET) == 0 &&
         std::fread(out, 1, n, f) == n;
}

// The certificate table that Authenticode signing appends to an executable. What is read of
// the headers, little-endian:
//   DOS header  0x00 "MZ", 0x3C u32 file offset P of the PE header
//   PE header   P "PE\0\0"; COFF header P+4 (20 bytes, P+20 u16 size of the optional header)
//   optional    P+24 u16 magic: 0x10B (PE32) or 0x20B (PE32+); then, from the optional header's
//               start, u32 number of data directories at 92 / 108 and the directories
//               (u32 address, u32 size) from 96 / 112
//   directory 4 the security entry: u32 FILE offset of the table, u32 its length
// True with the table's offset when a table of nonzero length lies after the headers and ends
// exactly at the end of the file; a short or malformed header means no table.
bool FindCertificateTable(std::FILE* f, std::uint64_t fileSize, std::uint64_t* tableOffset) {
  unsigned char h[24 + 112 + 5 * 8];  // PE header up to the end of directory 4 in PE32+
  if (!ReadAt(f, fileSize, 0, h, 64) || h[0] != 'M' || h[1] != 'Z') return false;
  const std::uint64_t pe = Le32(h + 0x3C);
  if (!ReadAt(f, fileSize, pe, h, 26) || std::memcmp(h, "PE\0\0", 4) != 0) return false;
  const unsigned magic = h[24] | (h[25] << 8);
  if (magic != 0x10B && magic != 0x20B) return false;
  const std::size_t dirs = magic == 0x10B ? 96 : 112, need = 24 + dirs + 5 * 8;
  if (!ReadAt(f, fileSize, pe, h, need)) return false;
  const unsigned optionalSize = h[20] | (h[21] << 8);
  if (optionalSize < dirs + 5 * 8 || Le32(h + 24 + dirs - 4) < 5) return false;
  const std::uint64_t offset = Le32(h + 24 + dirs + 32), size = Le32(h + 24 + dirs + 36);
  if (size == 0 || offset < pe + need || offset + size != fileSize) return false;
  *tableOffset = offset;
  return true;
}

}  // namespace

// The trailer is the file's last four bytes, or, in a signed updater, the four bytes before
// its certificate table (signing adds nothing in between when the file's length is a multiple
// of 8, as mkupdater writes it).
int LocatePayload(std::FILE* f, Source* src, std::uint32_t* payloadLength) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long size = std::ftell(f);
  if (size < 0) return -1;
  std::uint64_t end = static_cast<std::uint64_t>(size), table;
  if (FindCertificateTable(f, end, &table)) end = table;
  if (end < 4 || std::fseek(f, static_cast<long>(end - 4), SEEK_SET) != 0) return -1;
  unsigned char t[4];
  if (std::fread(t, 1, 4, f) != 4) return -1;
  std::uint32_t offset = Le32(t);
  std::uint64_t trailerPos = end - 4;
  if (offset > trailerPos || std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return -1;
  src->file = f;
  src->left = trailerPos - offset;
  *payloadLength = static_cast<std::uint32_t>(src->left);
  return 0;
}

bool IsSafeEntryName(const char* name, bool folder) {
  std::size_t len = std::strlen(name);
  if (len == 0 || IsSeparator(static_cast<unsigned char>(name[0]))) return false;
  const char* start = name;
  for (std::size_t i = 0; i <= len;) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == ':') return false;
    if (c != 0 && cp932::IsLeadByte(c) && name[i + 1]) {
      i += 2;
      continue;
    }
    if (c == 0 || IsSeparator(c)) {
      const char* end = name + i;
      bool trailingFolderSeparator = folder && c == 0 && end == start && i > 0;
      if (!trailingFolderSeparator && IsBadComponent(start, end)) return false;
      start = end + 1;
    }
    ++i;
  }
  return true;
}

namespace {

// A device name that Windows opens instead of a file: the part before the first dot, trailing
// blanks dropped, is CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9 in any case.
bool IsDeviceName(const char* begin, const char* end) {
  const char* stem = begin;
  while (stem < end && *stem != '.') ++stem;
  while (stem > begin && stem[-1] == ' ') --stem;
  char u[5] = {};
  if (stem - begin < 3 || stem - begin > 4) return false;
  for (const char* p = begin; p < stem; ++p)
    u[p - begin] = static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 32 : *p);
  if (stem - begin == 3)
    return !std::strcmp(u, "CON") || !std::strcmp(u, "PRN") || !std::strcmp(u, "AUX") ||
           !std::strcmp(u, "NUL");
  return (!std::strncmp(u, "COM", 3) || !std::strncmp(u, "LPT", 3)) && u[3] >= '1' && u[3] <= '9';
}

}  // namespace

bool IsStoredAsGiven(const char* name, bool folder) {
  const char* start = name;
  for (std::size_t i = 0;; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c != 0 && cp932::IsLeadByte(c) && name[i + 1]) {
      ++i;
      continue;
    }
    if (c == 0 || IsSeparator(c)) {
      const char* end = name + i;
      const bool lastOfFolder = folder && c == 0 && end == start && i > 0;
      if (!lastOfFolder && end > start && (end[-1] == '.' || end[-1] == ' ')) return false;
      if (IsDeviceName(start, end)) return false;
      if (c == 0) return true;
      start = end + 1;
      continue;
    }
    if (c < 0x20 || std::strchr("<>\"|?*", c)) return false;
  }
}

int ReadRecord(Source* src, Record* rec) {
  unsigned char b[4];
  if (!ReadExact(src, b, 2)) return -1;
  std::size_t n = b[0] | (b[1] << 8);
  if (n == 0) return 1;
  if (n > kMaxName || !ReadExact(src, rec->name, n)) return -1;
  if (rec->name[n - 1] != '\0') return -1;
  if (!ReadExact(src, b, 4)) return -1;
  std::int32_t size = static_cast<std::int32_t>(Le32(b));
  if (!ReadExact(src, b, 4)) return -1;
  std::int32_t packed = static_cast<std::int32_t>(Le32(b));
  rec->folder = size == -1;
  rec->patch = size == -2;
  if (rec->patch) {
    if (!ReadExact(src, b, 4)) return -1;
    size = static_cast<std::int32_t>(Le32(b));
  }
  if (!rec->folder && (size < 0 || packed < 0)) return -1;
  rec->size = rec->folder ? 0 : static_cast<std::uint32_t>(size);
  rec->packed = rec->folder ? 0 : static_cast<std::uint32_t>(packed);
  if (!IsSafeEntryName(rec->name, rec->folder) || !IsStoredAsGiven(rec->name, rec->folder)) return -1;
  return 0;
}

bool NameContainsNoCase(const char* name, const char* pattern) {
  char n[kMaxName], p[kMaxName];
  std::size_t nl = std::strlen(name), pl = std::strlen(pattern);
  if (nl >= sizeof n || pl >= sizeof p) return false;
  std::memcpy(n, name, nl + 1);
  std::memcpy(p, pattern, pl + 1);
  LowerCp932(n);
  LowerCp932(p);
  return paths::FindText(n, p) != nullptr;
}

bool ReadRecordTime(Source* src, std::uint64_t* filetime) {
  unsigned char t[8];
  if (!ReadExact(src, t, sizeof t)) return false;
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | t[i];
  *filetime = v;
  return true;
}

bool SkipStream(Source* src, const Record& rec) { return Skip(src, rec.packed); }

bool SkipRecordData(Source* src, const Record& rec) { return Skip(src, 8ull + rec.packed); }

}  // namespace payload
