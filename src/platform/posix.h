// What the POSIX side of the platform adds for the tool and the native builds: the mapping
// of the updater's code page 932 paths onto a Linux file system, and file times.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace posix {

// Backslash to slash (double-byte aware: a 0x5C trail byte stays), CP932 to UTF-8.
std::string ToHostPath(const char* cp932Path);
std::string FromHostPath(const std::string& utf8Path);  // "" when it has no CP932 form
// Plain text conversion between CP932 and UTF-8; false when the text has no form there.
bool Cp932ToUtf8(const std::string& in, std::string* out);
bool Utf8ToCp932(const std::string& in, std::string* out);

// The platform's failure reason for an errno value, and noting it as the last one.
plat::IoError IoErrorFromErrno(int err);
int NoteIoError(int err);  // returns -1

// The descriptor behind a file open for writing.
int OutFileDescriptor(const plat::OutFile* f);

// FILETIME counts 100 ns ticks from 1601-01-01 UTC; Unix time starts 11644473600 s later.
constexpr std::uint64_t kFiletimeEpochDelta = 116444736000000000ull;
std::uint64_t FiletimeFromUnix(const struct timespec& t);
struct timespec UnixFromFiletime(std::uint64_t filetime);

}  // namespace posix
