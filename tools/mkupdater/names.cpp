// Look-alikes for characters without a code page 932 form, and Windows' case folding of names.
#include "names.h"

#include <cstdint>
#include <vector>

#include "base/cp932.h"
#include "base/paths.h"
#include "tool.h"

namespace mkupdater {
namespace {

// Characters that look like one of code page 932 but map to none: mostly what another
// system's conversion put in place of the Japanese characters (the wave dash, the minus, the
// double vertical line, the currency signs), and Latin letters with accents.
struct LookAlike {
  char32_t from;
  const char* to;  // UTF-8
};
constexpr LookAlike kLookAlikes[] = {
    {U'\u301C', u8"\uFF5E"}, {U'\u2212', u8"\uFF0D"}, {U'\u2016', u8"\u2225"}, {U'\u00A2', u8"\uFFE0"},
    {U'\u00A3', u8"\uFFE1"}, {U'\u00AC', u8"\uFFE2"}, {U'\u2014', u8"\u2015"}, {U'\u00A5', u8"\uFFE5"},
    {U'\u203E', u8"\uFFE3"}, {U'\u00A6', u8"\uFFE4"}, {U'\u00A0', " "},        {U'\u2013', "-"},
};
// U+00C0..U+00FF without their accents ('?' where no letter fits).
constexpr char kLatin1[] = "AAAAAAACEEEEIIIIDNOOOOO?OUUUUYTsaaaaaaaceeeeiiiidnooooo?ouuuuyty";

// The UTF-8 text split into characters (each as its bytes) with its code point.
struct Char {
  std::string bytes;
  char32_t code;
};
std::vector<Char> Split(const std::string& s) {
  std::vector<Char> out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t code = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n && i + k < s.size(); ++k) code = code << 6 | (s[i + k] & 0x3F);
    out.push_back({s.substr(i, n), code});
    i += n;
  }
  return out;
}

std::string LookAlikeOf(char32_t code) {
  for (const LookAlike& l : kLookAlikes)
    if (l.from == code) return l.to;
  if (code >= 0xC0 && code <= 0xFF && kLatin1[code - 0xC0] != '?')
    return std::string(1, kLatin1[code - 0xC0]);
  return "";
}

}  // namespace

std::string UnrepresentableAdvice(const std::string& utf8Name) {
  std::string missing, suggestion, cp;
  bool complete = true;
  for (const Char& c : Split(utf8Name)) {
    if (Utf8ToCp932(c.bytes, &cp)) {
      suggestion += c.bytes;
      continue;
    }
    missing += Format("%s'%s' (U+%04X)", missing.empty() ? "" : ", ", c.bytes.c_str(),
                      static_cast<unsigned>(c.code));
    const std::string like = LookAlikeOf(c.code);
    complete = complete && !like.empty() && Utf8ToCp932(like, &cp);
    suggestion += like;
  }
  if (complete && !missing.empty())
    return Format("the name has no code page 932 form: %s; rename it to '%s'", missing.c_str(),
                  suggestion.c_str());
  return Format("the name has no code page 932 form: %s; rename it", missing.c_str());
}

std::string FoldCase(const std::string& cp932) {
  std::string s = cp932;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (cp932::IsLeadByte(c) && i + 1 < s.size()) {
      const unsigned char t = static_cast<unsigned char>(s[i + 1]);
      unsigned folded = t;
      if (c == 0x82 && t >= 0x60 && t <= 0x79) folded = t + 0x21;  // Ａ-Ｚ -> ａ-ｚ
      if (c == 0x83 && t >= 0x9F && t <= 0xB6) folded = t + 0x20;  // Α-Ω -> α-ω
      if (c == 0x84 && t >= 0x40 && t <= 0x60) {                   // А-Я -> а-я, skipping 0x7F
        folded = t + 0x30;
        if (folded >= 0x7F) ++folded;
      }
      s[i + 1] = static_cast<char>(folded);
      i += 2;
      continue;
    }
    if (c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c + 32);
    ++i;
  }
  return s;
}

}  // namespace mkupdater
