// Windows text-mode reading over a binary stream or a memory block.
//
// The product and the native tests must see the same lines, so the translation that the
// Windows C runtime applies to a stream opened with "rt" is done here, on bytes read in
// binary mode:
//   CR LF           -> LF
//   CR + other byte -> CR kept, the other byte read normally (also a CR at the very end)
//   0x1A            -> end of file; nothing after it is read
// Lines are then cut as fgets cuts them: after the LF, or when the buffer is full.
#include "config/config.h"

namespace config {

namespace {

constexpr int kNone = -2;
constexpr int kEnd = -1;

int ReadRawByte(TextSource& src) {
  if (src.file != nullptr) {
    int c = std::fgetc(src.file);
    if (c == EOF) return kEnd;
    ++src.rawConsumed;
    return c;
  }
  if (src.data == nullptr || src.pos >= src.size) return kEnd;
  ++src.rawConsumed;
  return src.data[src.pos++];
}

int ReadTextByte(TextSource& src) {
  if (src.ended) return kEnd;
  int c;
  if (src.pending != kNone) {
    c = src.pending;
    src.pending = kNone;
  } else {
    c = ReadRawByte(src);
  }
  if (c == 0x1A) src.endedByCtrlZ = true;
  if (c == kEnd || c == 0x1A) {
    src.ended = true;
    return kEnd;
  }
  if (c == '\r') {
    int next = ReadRawByte(src);
    if (next == '\n') return '\n';
    src.pending = next;  // kEnd too: the CR stays, the end comes next
  }
  return c;
}

}  // namespace

TextSource FileSource(std::FILE* file) {
  TextSource src;
  src.file = file;
  return src;
}

TextSource MemorySource(const void* data, std::size_t size) {
  TextSource src;
  src.data = static_cast<const unsigned char*>(data);
  src.size = data != nullptr ? size : 0;
  return src;
}

std::size_t ReadTextLine(TextSource& src, char* buf, std::size_t size) {
  if (size == 0) return 0;
  std::size_t n = 0;
  while (n + 1 < size) {
    int c = ReadTextByte(src);
    if (c == kEnd) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return n;
}

}  // namespace config
