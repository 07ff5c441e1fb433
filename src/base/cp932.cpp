// Code page 932 texts.
#include "base/cp932.h"

#include <array>
#include <cstring>

namespace cp932 {
namespace {

constexpr std::array<bool, 256> kLeadTable = [] {
  std::array<bool, 256> t{};
  for (int b = 0x81; b <= 0x9F; ++b) t[b] = true;
  for (int b = 0xE0; b <= 0xFC; ++b) t[b] = true;
  return t;
}();

}  // namespace

bool IsLeadByte(unsigned char c) { return kLeadTable[c]; }

std::size_t CharLength(const char* s) { return IsLeadByte(static_cast<unsigned char>(s[0])) && s[1] ? 2 : 1; }

int CompareNoCase(const char* a, const char* b) {
  for (;;) {
    const std::size_t n = CharLength(a), m = CharLength(b);
    unsigned x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (n == 1) x = FoldAscii(static_cast<unsigned char>(x));
    if (m == 1) y = FoldAscii(static_cast<unsigned char>(y));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
    if (n == 2 && m == 2 && a[1] != b[1])
      return static_cast<unsigned char>(a[1]) < static_cast<unsigned char>(b[1]) ? -1 : 1;
    if (n != m) return n < m ? -1 : 1;
    a += n;
    b += m;
  }
}

bool EndsWithNoCase(const char* s, const char* suffix) {
  const std::size_t n = std::strlen(s), m = std::strlen(suffix);
  if (n < m) return false;
  std::size_t i = 0;
  while (i < n - m) i += CharLength(s + i);
  return i == n - m && CompareNoCase(s + i, suffix) == 0;
}

}  // namespace cp932
