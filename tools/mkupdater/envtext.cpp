// Telling UTF-8 from code page 932 and converting, line by line so that a refusal can name
// its line: a byte-order mark, or a file whose non-ASCII bytes are all well-formed UTF-8,
// is UTF-8; anything else must be code page 932.
#include "envtext.h"

#include <algorithm>

#include "tool.h"

namespace mkupdater {
namespace {

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, surrogates or values
// past U+10FFFF), 0 when there is none.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto b = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
  const unsigned c = b(0);
  const auto cont = [&](std::size_t k, unsigned lo, unsigned hi) { return b(k) >= lo && b(k) <= hi; };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(1, 0x80, 0xBF) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    return cont(1, lo, hi) && cont(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    return cont(1, lo, hi) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

// Byte offset of the first malformed UTF-8 sequence, or npos.
std::size_t FirstBadUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = Utf8Length(s, i);
    if (n == 0) return i;
    i += n;
  }
  return std::string::npos;
}

std::uint32_t CodePoint(const std::string& s, std::size_t i, std::size_t n) {
  const auto b = [&](std::size_t k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + k]));
  };
  if (n == 1) return b(0);
  std::uint32_t v = b(0) & (0xFF >> (n + 1));
  for (std::size_t k = 1; k < n; ++k) v = v << 6 | (b(k) & 0x3F);
  return v;
}

}  // namespace

const char* EncodingName(EnvEncoding encoding) {
  switch (encoding) {
    case EnvEncoding::Ascii:
      return "ASCII";
    case EnvEncoding::Cp932:
      return "code page 932";
    case EnvEncoding::Utf8:
      return "UTF-8";
    case EnvEncoding::Utf8WithBom:
      return "UTF-8 with a byte-order mark";
  }
  return "";
}

int DecodeInstallEnv(const std::vector<std::uint8_t>& raw, EnvEncoding* encoding, std::string* cp932,
                     int* line, std::string* error) {
  std::string text(raw.begin(), raw.end());
  const bool bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (bom) text.erase(0, 3);
  const std::vector<std::string> lines = Lines(text);
  *line = 0;
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    *encoding = bom ? EnvEncoding::Utf8WithBom : EnvEncoding::Ascii;
    *cp932 = text;
    return 0;
  }
  if (bom || FirstBadUtf8(text) == std::string::npos) {
    *encoding = bom ? EnvEncoding::Utf8WithBom : EnvEncoding::Utf8;
    cp932->clear();
    for (const std::string& l : lines) {
      ++*line;
      std::size_t bad = FirstBadUtf8(l);
      if (bad != std::string::npos) {
        *error = Format(
            "byte 0x%02X at column %zu is not UTF-8, though the file begins with a UTF-8 byte-order "
            "mark; save the file as UTF-8 again",
            static_cast<unsigned char>(l[bad]), bad + 1);
        return -1;
      }
      std::string converted;
      if (Utf8ToCp932(l, &converted)) {
        *cp932 += converted;
        continue;
      }
      for (std::size_t i = 0, n; i < l.size(); i += n) {  // the first character without a form
        n = Utf8Length(l, i);
        if (!Utf8ToCp932(l.substr(i, n), &converted)) {
          *error = Format(
              "'%s' (U+%04X) has no code page 932 form, so the updater could not show it; "
              "replace it",
              l.substr(i, n).c_str(), static_cast<unsigned>(CodePoint(l, i, n)));
          return -1;
        }
      }
      *error = "the line has no code page 932 form; replace its unusual characters";
      return -1;
    }
    return 0;
  }
  *encoding = EnvEncoding::Cp932;
  for (const std::string& l : lines) {
    ++*line;
    std::string utf8;
    if (Cp932ToUtf8(l, &utf8)) continue;
    std::size_t i = 0;  // the first byte that does not start a valid character
    while (i < l.size()) {
      std::size_t n =
          static_cast<unsigned char>(l[i]) >= 0x81 && i + 1 < l.size() && !Cp932ToUtf8(l.substr(i, 1), &utf8)
              ? 2
              : 1;
      if (!Cp932ToUtf8(l.substr(i, n), &utf8)) break;
      i += n;
    }
    *error = Format(
        "the line is neither UTF-8 nor code page 932 text (byte 0x%02X at column %zu); save the file "
        "as UTF-8",
        i < l.size() ? static_cast<unsigned char>(l[i]) : 0u, i + 1);
    return -1;
  }
  *cp932 = text;
  return 0;
}

}  // namespace mkupdater
