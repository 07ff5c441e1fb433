// The payload container appended to the updater executable, and its extraction.
//
//   [ executable image | records ... | u16 0 end marker | padding | u32 LE offset of the first record ]
//   [ certificate table, in a signed updater: Authenticode appends it after everything else ]
//
// Record (little-endian, packed):
//   u16  N        name length with its NUL; 0 is the end marker and nothing follows it
//   N    name     CP932, backslash-separated, relative to the destination, NUL-terminated
//   i32  size     uncompressed size; -1 marks a directory record
//   i32  packed   length of the zlib stream (present, unused, in directory records)
//   u64  time     FILETIME of the last write          (file records only)
//   ...  data     one zlib stream of `packed` bytes   (file records only)
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace payload {

enum class Mode { Full = 0, Bootstrap = 1 };

constexpr std::uint32_t kBlockSize = 131072;
constexpr std::size_t kMaxName = 260;  // name field with its NUL

// Reads the container through a cursor that never passes the payload's end (the trailer).
struct Source {
  std::FILE* file;
  std::uint64_t left;  // bytes of payload not yet read
};

// Finds the payload through the trailer: the last four bytes, or those before the certificate
// table when the file is an executable whose security directory names a table that ends the
// file. 0 with the file positioned at the first record, -1 when the trailer is missing or
// points outside the file.
int LocatePayload(std::FILE* f, Source* src, std::uint32_t* payloadLength);

struct Record {
  char name[kMaxName];
  bool folder;
  std::uint32_t size;    // uncompressed size (file records)
  std::uint32_t packed;  // compressed size (file records)
};

// 1 at the end marker, 0 with a record header read (the source then stands at the
// record's time field), -1 for a damaged record: short read, a name without its NUL, a
// negative size, or a name that would leave the destination folder.
int ReadRecord(Source* src, Record* rec);

// False for names that could escape the destination or are not names at all: empty,
// rooted, with a drive or any ':', a component that is empty or only dots and spaces
// (".." included). A directory record may end in one separator.
bool IsSafeEntryName(const char* name, bool folder);

// True when pattern occurs in name, ignoring case (A-Z and full-width Ａ-Ｚ), double-byte
// aware: a match never starts on a trail byte.
bool NameContainsNoCase(const char* name, const char* pattern);

// Inflates one file record into path (nullptr: check only, nothing written), 128 KiB at
// a time, then restores the stored last-write time. The source stands at the record's
// time field. 0 on success, 1 on any failure.
int InflateEntry(Source* src, std::uint32_t size, std::uint32_t packed, const char* path,
                 plat::Window w, std::uint32_t consumedBefore);

// Extracts a whole container from an open file. 0 when the end (or, in Bootstrap mode, the
// stopping folder record) was reached, -1 on damage; failedRecord then names the record
// that could not be read or written (empty when the container itself is unreadable).
// Full mode first walks every record header by the sizes alone and writes nothing unless the
// whole layout, end marker included, lies inside the payload.
int ExtractFrom(std::FILE* f, const char* destination, Mode mode, bool withProgress,
                char* failedRecord, std::size_t failedSize);

// The updater's own payload: opens the running executable positioned at the first record.
std::FILE* OpenPayload();
std::uint32_t PayloadLength();

// Extracts the running executable's payload into destination (no trailing backslash).
// Every failure ends the process through the damaged-file report; it returns the result
// of CloseProgressWindow.
int ExtractPayload(const char* destination, Mode mode);

}  // namespace payload
