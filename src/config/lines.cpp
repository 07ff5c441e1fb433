// The line rules of both install.env readers: a key line, a section line, the value
// conventions. Pure functions over line buffers, shared by the updater and mkupdater lint.
#include <cstdint>
#include <cstring>

#include "base/cp932.h"
#include "config/config.h"

namespace config {

namespace {

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

// Layout of a key line: one read of at most 511 bytes in a 512-byte buffer that was zero
// before the read.
//   "[EOF]..."                       the keyed part ends (case-sensitive, first 5 bytes)
//   <byte <= 0x20>... or "/..."      skipped (blank, indented, comment)
//   KEY SEP VALUE [SEP anything]     SEP = any run of bytes 0x00-0x20
// The key begins at byte 0 and is L bytes long. The value is the token that begins at the
// first non-zero byte among positions L+1 .. L+99 after the split, never past the buffer;
// no such byte means no entry. The scan runs over the whole buffer, so a NUL inside the
// line separates tokens like a blank.
KeyLine ParseKeyLine(char (&line)[kLineSize]) {
  KeyLine out;
  if (std::memcmp(line, "[EOF]", 5) == 0) {
    out.kind = KeyLineKind::Eof;
    return out;
  }
  auto first = static_cast<unsigned char>(line[0]);
  if (first <= 0x20 || first == '/') {
    out.kind = KeyLineKind::Skipped;
    return out;
  }
  for (char& c : line) {
    if (static_cast<unsigned char>(c) <= 0x20) c = '\0';
  }
  line[kLineSize - 1] = '\0';  // every token ends inside the buffer
  std::size_t keyLength = std::strlen(line);
  out.key = line;
  out.kind = KeyLineKind::NoValue;
  std::size_t last = keyLength + kValueReach;
  if (last > kLineSize - 1) last = kLineSize - 1;
  for (std::size_t i = keyLength + 1; i <= last; ++i) {
    if (line[i] != '\0') {
      out.value = line + i;
      out.kind = KeyLineKind::Entry;
      break;
    }
  }
  return out;
}

void ReplaceBars(char* value) {
  for (char* p = value; *p != '\0';) {
    const std::size_t n = cp932::CharLength(p);  // a trail byte 0x7C belongs to its character
    if (n == 1 && *p == '|') *p = ' ';
    p += n;
  }
}

int ConvertDecimal(const char* text, int* digits, const char** end) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  std::uint32_t value = 0;
  int count = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(*p - '0');  // wraps: no range check
    ++p;
    ++count;
  }
  if (negative) value = 0u - value;
  if (digits != nullptr) *digits = count;
  if (end != nullptr) *end = count > 0 ? reinterpret_cast<const char*>(p) : text;
  return static_cast<int>(value);
}

int FindKeySpec(const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < kKeyCount; ++i) {
    if (std::strcmp(kKeys[i].name, name) == 0) return i;
  }
  return -1;
}

// Layout of a line as the section reader sees it (one read of at most 511 bytes, trailing
// bytes <= 0x20 removed, leading white space kept), tested in this order:
//   ""                        skipped
//   "//..." or ";..."         comment, also inside a section
//   "EOF..."                  reading stops (so "[EOF]" does not stop it)
//   "-..."                    closes the current section
//   "[ini]..." etc.           opens that section
//   anything else             content of the current section; ignored outside one
SectionLineKind ClassifySectionLine(char* line, int* section) {
  std::size_t n = std::strlen(line);
  while (n > 0 && static_cast<unsigned char>(line[n - 1]) <= 0x20) line[--n] = '\0';
  if (n == 0) return SectionLineKind::Empty;
  if (StartsWith(line, "//") || line[0] == ';') return SectionLineKind::Comment;
  if (StartsWith(line, "EOF")) return SectionLineKind::Eof;
  if (line[0] == '-') return SectionLineKind::Close;
  for (int i = 0; i < kSectionCount; ++i) {
    if (StartsWith(line, kSections[i].header)) {
      if (section != nullptr) *section = i;
      return SectionLineKind::Header;
    }
  }
  return SectionLineKind::Text;
}

}  // namespace config
