// Patch records: a file made from the installed file it replaces, by copying byte ranges of
// that file and adding literal bytes, instead of carrying the whole new file.
//
// The record (container.h) has the size field -2 and the result's size after `packed`; its
// `packed` bytes, after the time field, are the body (little-endian):
//   u32  base size     the installed file the patch was made for (at most 0x7FFFFFFF)
//   32   base SHA-256  of that file
//   32   SHA-256       of the result
//   ...  one zlib stream (the rest of the body): the instructions
// The instructions, each an op byte and unsigned LEB128 numbers:
//   0x00                 the end; nothing follows it in the stream
//   0x01 length delta    copy length bytes of the base, from where the previous copy ended
//                        (0 at first) moved by delta (zig-zag: 0, -1, 1, -2, ... as 0, 1, 2, 3, ...)
//   0x02 length bytes    length literal bytes
// Every length is at least 1; the copies and literals make exactly the result's size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/container.h"
#include "payload/extract.h"
#include "platform/platform.h"

namespace payload {

constexpr std::size_t kPatchHeaderSize = 4 + 2 * plat::kSha256Size;
constexpr std::uint32_t kMaxPatchedSize = 0x7FFFFFFF;
constexpr unsigned char kOpEnd = 0, kOpCopy = 1, kOpLiteral = 2;

struct PatchHeader {
  std::uint32_t baseSize;
  unsigned char baseHash[plat::kSha256Size];
  unsigned char resultHash[plat::kSha256Size];
};

// Reads the body's header (the source stands after the record's time field). false when it is
// cut short or names a size beyond the bound.
bool ReadPatchHeader(Source* src, const Record& rec, PatchHeader* h);

// Applies a patch record. The source stands at the record's time field; on success it stands
// after the record. base: the installed file (nullptr: the instructions are only checked
// against the base's size, nothing is read or written). The base is checked (size and hash)
// before the first byte is written; the result's hash after the last. file (may be null: the
// result is checked but not kept) receives the result and is then handed to output or given
// the record's time and closed, as an extraction does. The watcher hears beginFile with path
// and the patch's work as size (the base's size, read once to check it, and the result's), then
// the work done after every block, with the payload consumed moving evenly from consumedBefore
// over the record's bytes; so a bar that counts bytes of the file moves evenly through both.
// 0, or -1 with *failure filled: Base when the installed file is missing, of another size or
// other bytes; Patch when the body is damaged or its result is not the file it names;
// Write, Memory, Stopped as an extraction.
int ApplyPatch(Source* src, const Record& rec, const char* base, plat::OutFile* file, const char* path,
               Progress* progress, std::uint32_t consumedBefore, Failure* failure, Output* output,
               std::size_t record);

}  // namespace payload
