// Code page 932 texts: where characters begin, ASCII case folding, case-blind comparison.
//
// A double-byte character is a lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after it, which
// may be anything but the terminator: a trail byte can be 0x5C ('\\') or an ASCII letter, so
// every scan steps by characters and folds or matches only single-byte ones. The table is
// fixed: it never follows the system's code page.
#pragma once

#include <cstddef>

namespace cp932 {

bool IsLeadByte(unsigned char c);
// The bytes of the character at s: 2 for a lead byte with a byte after it, else 1 (also at
// the terminator).
std::size_t CharLength(const char* s);
// A-Z to a-z; every other byte as it is.
constexpr unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Orders two texts as Windows compares names: ASCII letters of single-byte characters folded,
// double-byte characters byte by byte. <0, 0 or >0.
int CompareNoCase(const char* a, const char* b);
inline bool EqualNoCase(const char* a, const char* b) { return CompareNoCase(a, b) == 0; }
// True when s ends in suffix, ignoring ASCII case, and the suffix begins on a character.
bool EndsWithNoCase(const char* s, const char* suffix);

}  // namespace cp932
