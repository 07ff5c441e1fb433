// INI files in code page 932.
#include "update/ini.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/paths.h"
#include "platform/platform.h"

namespace update {
namespace {

constexpr std::size_t kLongestIni = 16u << 20;  // far beyond any settings file
constexpr char kNewLine[] = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// [b, e) without blanks at either end.
void Trim(const char** b, const char** e) {
  while (*b < *e && IsBlank(**b)) ++*b;
  while (*e > *b && (IsBlank((*e)[-1]) || (*e)[-1] == '\r')) --*e;
}

// [b, e) equals text, ASCII letters folded; the bytes after a lead byte are compared as they are.
bool SameNoCase(const char* b, const char* e, const char* text) {
  std::size_t n = std::strlen(text);
  if (static_cast<std::size_t>(e - b) != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(b[i]), y = static_cast<unsigned char>(text[i]);
    if (cp932::IsLeadByte(x) && i + 1 < n) {
      if (x != y || b[i + 1] != text[i + 1]) return false;
      ++i;
      continue;
    }
    if (cp932::FoldAscii(x) != cp932::FoldAscii(y)) return false;
  }
  return true;
}

// One line of the file: [begin, end) without its line end, next: where the following one starts.
struct Line {
  const char *begin, *end, *next;
};

Line LineAt(const char* p, const char* limit) {
  const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(limit - p)));
  Line l{p, nl ? nl : limit, nl ? nl + 1 : limit};
  if (l.end > l.begin && l.end[-1] == '\r') --l.end;
  return l;
}

// The section name of a "[name]" line, or false.
bool SectionName(const Line& l, const char** b, const char** e) {
  const char* p = l.begin;
  while (p < l.end && IsBlank(*p)) ++p;
  if (p == l.end || *p != '[') return false;
  const char* close = static_cast<const char*>(std::memchr(p, ']', static_cast<std::size_t>(l.end - p)));
  if (!close) return false;
  *b = p + 1;
  *e = close;
  Trim(b, e);
  return true;
}

// The key of a "key=value" line, or false (comments and lines without "=" have none).
bool KeyName(const Line& l, const char** b, const char** e) {
  const char* p = l.begin;
  while (p < l.end && IsBlank(*p)) ++p;
  if (p == l.end || *p == ';') return false;
  const char* eq = static_cast<const char*>(std::memchr(p, '=', static_cast<std::size_t>(l.end - p)));
  if (!eq) return false;
  *b = p;
  *e = eq;
  Trim(b, e);
  return true;
}

char* Put(char* out, const char* b, const char* e) {
  std::memcpy(out, b, static_cast<std::size_t>(e - b));
  return out + (e - b);
}
char* Put(char* out, const char* text) { return Put(out, text, text + std::strlen(text)); }

char* PutEntry(char* out, const char* key, const char* value, const char* lineEnd) {
  out = Put(out, key);
  *out++ = '=';
  out = Put(out, value);
  return Put(out, lineEnd);
}

}  // namespace

std::size_t IniEditRoom(std::size_t size, const char* section, const char* key, const char* value) {
  return size + std::strlen(section) + std::strlen(key) + std::strlen(value) + 16;
}

std::size_t EditIni(const char* in, std::size_t size, const char* section, const char* key, const char* value,
                    char* out) {
  const char* const limit = in + size;
  char* o = out;
  bool inSection = false;
  const char* insertAt = nullptr;  // after the section's last entry, while inside it
  for (const char* p = in; p < limit;) {
    const Line l = LineAt(p, limit);
    const char *b, *e;
    if (SectionName(l, &b, &e)) {
      if (inSection) break;  // the entry is new: it goes after the section's last line
      inSection = SameNoCase(b, e, section);
      if (inSection) insertAt = l.next;
    } else if (inSection && KeyName(l, &b, &e) && SameNoCase(b, e, key)) {
      o = Put(o, in, l.begin);
      o = PutEntry(o, key, value, l.next > l.end && l.end[0] == '\r' ? kNewLine : l.next > l.end ? "\n" : "");
      return static_cast<std::size_t>(Put(o, l.next, limit) - out);
    } else if (inSection && l.begin != l.end) {
      insertAt = l.next;
    }
    p = l.next;
  }
  if (insertAt) {
    o = Put(o, in, insertAt);
    if (insertAt > in && insertAt[-1] != '\n') o = Put(o, kNewLine);  // the section's last line had no end
    o = PutEntry(o, key, value, kNewLine);
    return static_cast<std::size_t>(Put(o, insertAt, limit) - out);
  }
  o = Put(o, in, limit);
  if (size > 0 && limit[-1] != '\n') o = Put(o, kNewLine);
  *o++ = '[';
  o = Put(o, section);
  *o++ = ']';
  o = Put(o, kNewLine);
  o = PutEntry(o, key, value, kNewLine);
  return static_cast<std::size_t>(o - out);
}

int WriteIniEntry(const char* section, const char* key, const char* value, const char* file) {
  // A bare name lives in the Windows folder, as the system's own call has it.
  char path[plat::kMaxPath];
  if (!paths::FindChar(file, '\\') && !paths::FindChar(file, '/') && !paths::FindChar(file, ':')) {
    char windows[plat::kMaxPath];
    if (plat::GetWindowsFolder(windows, sizeof windows) == 0 ||
        paths::JoinPath(path, sizeof path, windows, file) != 0)
      return -1;
  } else {
    if (std::strlen(file) >= sizeof path) return -1;
    std::memcpy(path, file, std::strlen(file) + 1);
  }
  std::unique_ptr<char, void (*)(void*)> before(nullptr, std::free);
  std::size_t size = 0;
  if (std::FILE* f = plat::OpenFile(path, "rb")) {
    long n = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) n = std::ftell(f);
    bool ok = n >= 0 && static_cast<std::size_t>(n) <= kLongestIni && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
      size = static_cast<std::size_t>(n);
      before.reset(static_cast<char*>(std::malloc(size + 1)));
      ok = before && std::fread(before.get(), 1, size, f) == size;
    }
    std::fclose(f);
    if (!ok) return -1;
    if (size >= 2 && static_cast<unsigned char>(before.get()[0]) == 0xFF &&
        static_cast<unsigned char>(before.get()[1]) == 0xFE)
      return -1;  // UTF-16
  }
  std::unique_ptr<char, void (*)(void*)> after(
      static_cast<char*>(std::malloc(IniEditRoom(size, section, key, value))), std::free);
  if (!after) return -1;
  const std::size_t n = EditIni(before ? before.get() : "", size, section, key, value, after.get());
  plat::OutFile* out = plat::CreateOutFile(path);
  if (!out) return -1;
  if (plat::WriteOutFile(out, after.get(), n) != 0) {
    plat::AbandonOutFile(out);
    return -1;
  }
  return plat::CloseOutFile(out, 0);
}

}  // namespace update
