// Extraction of the payload: record by record, each file inflated in 128 KiB blocks.
//
// The extraction reports and decides nothing on screen: it tells a watcher how far it got
// (Progress) and returns what went wrong (Failure). The copy-progress window is one watcher,
// mkupdater's extract and verify another, the tests a third; which message the user sees and
// how the process ends is decided by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "payload/container.h"
#include "platform/platform.h"

namespace payload {

enum class Mode { Full = 0, Bootstrap = 1 };

constexpr std::uint32_t kBlockSize = 131072;

// What an extraction tells the one who watches it. Each member may be null. A watcher that
// returns false asks the extraction to stop there (Fault::Stopped).
struct Progress {
  // A full extraction is about to write its first record; total: the payload's length.
  bool (*start)(Progress* self, std::uint32_t totalBytes);
  // A file record begins: its destination path ("" when checking only) and its size.
  void (*beginFile)(Progress* self, const char* path, std::uint32_t size);
  // After every full 128 KiB block of a file's output and after its last, partial block:
  // the bytes written to this file and the payload bytes consumed so far (a chunk of the
  // stream counts when it is requested).
  bool (*blocksWritten)(Progress* self, std::uint32_t written, std::uint32_t consumed);
};

// Where a full extraction puts what it writes; without one, straight into the destination.
// Records are told by their place in the payload (0 for the first), which the one who
// planned the extraction knows them by.
struct Output {
  // A folder record; its result is not looked at (a folder that exists is fine).
  void (*folder)(Output* self, std::size_t record);
  // The file to write a file record into; nullptr when it cannot be created.
  plat::OutFile* (*createFile)(Output* self, std::size_t record);
  // The file, written whole, with the record's last-write time: 0, or -1 when it could not be
  // finished.
  int (*finishFile)(Output* self, std::size_t record, plat::OutFile* file, std::uint64_t filetime);
};

// Sees each record of a layout walk: its header and, for a file, its stored time. False stops
// the walk there.
struct LayoutVisitor {
  bool (*record)(LayoutVisitor* self, const Record& rec, std::uint64_t filetime);
};

enum class Fault {
  None,
  Container,  // no payload: the file cannot be opened, the trailer is missing or out of range
  Record,     // a record header is damaged, leaves the payload or names an unusable path
  Stream,     // a zlib stream is corrupt, cut short or not of its announced size
  Create,     // a destination file cannot be created
  Write,      // writing or closing a destination file failed
  Memory,     // the block buffers cannot be had
  Stopped,    // the watcher asked to stop
  Base,       // a patch record's installed file is missing or not the one it was made for
  Patch,      // a patch record's body is damaged, or its result is not the file it names
};

struct Failure {
  Fault fault = Fault::None;
  plat::IoError io = plat::IoError::None;  // Create and Write: why
  char record[kMaxName] = {};              // the record where it happened; "" when none was read
};

enum class Layout {
  Sound,    // every record header is sound and the end marker follows the last one
  Damaged,  // *failure says where (Record; Container when the file cannot be positioned)
  Stopped,  // the visitor stopped the walk
};
// Walks the records by their sizes alone, reading each file's time and seeking over its
// stream, and returns the source to where it stood. Sound when every record header is sound,
// its path fits below destination (when one is given), it lies with its stream inside the
// payload and the end marker follows the last one. A visitor (may be null) sees every record.
Layout CheckLayout(Source src, const char* destination, Failure* failure, LayoutVisitor* visitor = nullptr);

// Extracts a whole container from an open file into destination (no trailing backslash;
// nullptr: check only), through output when one is given. Full mode checks the layout first
// (unless the caller has, and says so) and writes nothing unless it is sound. Bootstrap mode
// writes only the start-up files (install.env, insttscr.rct, names holding ".txt") at the top
// level and stops at the first folder record below it. Patch records are applied to the file of
// the same name below patchBase (nullptr: they are checked when nothing is written, and fail as
// Base otherwise; Bootstrap mode skips them). 0 when the end (or the stopping folder record)
// was reached; -1 with *failure filled otherwise.
int ExtractFrom(std::FILE* f, const char* destination, Mode mode, Progress* progress, Failure* failure,
                Output* output = nullptr, bool layoutChecked = false, const char* patchBase = nullptr);
// The same for a payload already located (src at its first record, total its length).
int ExtractLocated(Source src, std::uint32_t total, const char* destination, Mode mode, Progress* progress,
                   Failure* failure, Output* output = nullptr, bool layoutChecked = false,
                   const char* patchBase = nullptr);

// The updater's own payload: the running executable opened for reading; nullptr when it
// cannot be opened or holds no payload.
std::FILE* OpenPayload();
// Extracts the running executable's payload into destination: 0, or -1 with *failure filled.
int ExtractPayload(const char* destination, Mode mode, Progress* progress, Failure* failure);

// Texts of the payload subsystem, shown by its callers.
namespace text {
extern const char kDamagedFile[];
}  // namespace text

}  // namespace payload
