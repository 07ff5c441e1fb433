// The payload container appended to the updater executable: its trailer and its records.
//
//   [ executable image | records ... | u16 0 end marker | padding | u32 LE offset of the first record ]
//   [ certificate table, in a signed updater: Authenticode appends it after everything else ]
//
// Record (little-endian, packed):
//   u16  N        name length with its NUL; 0 is the end marker and nothing follows it
//   N    name     CP932, backslash-separated, relative to the destination, NUL-terminated
//   i32  size     uncompressed size; -1 marks a directory record, -2 a patch record
//   i32  packed   length of the zlib stream (present, unused, in directory records), or of a
//                 patch record's body
//   u32  result   size of the file a patch record makes (patch records only)
//   u64  time     FILETIME of the last write          (file and patch records)
//   ...  data     one zlib stream of `packed` bytes, or a patch record's body (payload/patch.h)
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace payload {

constexpr std::size_t kMaxName = plat::kMaxPath;  // name field with its NUL

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
  bool patch;            // the file is made from the installed one (payload/patch.h)
  std::uint32_t size;    // uncompressed size (file records), the result's size (patch records)
  std::uint32_t packed;  // compressed size (file records), the body's size (patch records)
};

// 1 at the end marker, 0 with a record header read (the source then stands at the
// record's time field), -1 for a damaged record: short read, a name without its NUL, a
// negative size (a patch record's result at most 0x7FFFFFFF), a name that would leave the
// destination folder, or one that Windows would store under another name (IsStoredAsGiven).
int ReadRecord(Source* src, Record* rec);

// False for names that could escape the destination or are not names at all: empty,
// rooted, with a drive or any ':', a component that is empty or only dots and spaces
// (".." included). A directory record may end in one separator.
bool IsSafeEntryName(const char* name, bool folder);

// True when Windows stores the name as given, component by component: no component ends in a
// dot or a space (Windows drops them), none is a device name (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, any case, alone or before an extension: "aux.txt"), and none holds a control
// character or one of < > " | ? * (double-byte aware: a trail byte 0x7C is no '|'). A
// directory record may end in one separator. Names that IsSafeEntryName refuses may pass.
bool IsStoredAsGiven(const char* name, bool folder);

// True when pattern occurs in name, ignoring case (A-Z and full-width Ａ-Ｚ), double-byte
// aware: a match never starts on a trail byte.
bool NameContainsNoCase(const char* name, const char* pattern);

// Reads a file record's 8-byte last-write time (the source stands at the record's time
// field). false on a short read.
bool ReadRecordTime(Source* src, std::uint64_t* filetime);
// Seek over a file record's stream (the source stands after the time field), or over its
// time and stream (the source stands at the time field); false when they would pass the
// payload's end.
bool SkipStream(Source* src, const Record& rec);
bool SkipRecordData(Source* src, const Record& rec);

}  // namespace payload
