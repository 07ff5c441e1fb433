// What every mkupdater command shares: exit codes, the failure line, whole-file reads and
// writes, names and times as the container stores them (little-endian writers: bytes.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/blocks.h"

namespace mkupdater {

using base::File;  // an owned C stream, closed when it goes

// Exit codes: 0 done; 1 a wrong call or refused input; 2 a damaged or unreadable file, or a
// failed read or write.
constexpr int kExitOk = 0;
constexpr int kUsageError = 1;
constexpr int kDataError = 2;

// Prints "mkupdater: <formatted text>" and a line feed on stderr; returns code.
int Fail(int code, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
// Prints "<where>: error: <text>" or "<where>: warning: <text>" and a line feed on stderr,
// the form lint uses; returns 1 for an error and 0 for a warning, for counting errors.
int Finding(bool error, const std::string& where, const char* format, ...)
    __attribute__((format(gnu_printf, 3, 4)));
// A wrong call of a command that takes `wanted` plain arguments after argv[0]: prints
// "mkupdater <command>: <what is wrong>" (an unknown option, the argument that is missing, one
// too many) and the usage text on stderr; returns kUsageError.
int WrongCall(int argc, char** argv, int wanted, const char* missing, const char* usage);
// printf-style formatting into a string (at most 1023 bytes).
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// 0, or -1 when the file cannot be read or written whole.
int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out);
int WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data);

// UTF-8 <-> CP932; false when the text has no form in the other encoding.
bool Utf8ToCp932(const std::string& in, std::string* out);
bool Cp932ToUtf8(const std::string& in, std::string* out);
// A stored CP932 name as UTF-8 for messages and listings (the bytes as they are when they
// have no UTF-8 form).
std::string Utf8Name(const char* cp932);

// The text split after each line feed; the last piece may lack one.
std::vector<std::string> Lines(const std::string& text);

// FILETIME <-> "2021-03-04T05:06:07Z".
std::string FormatFiletime(std::uint64_t filetime);

}  // namespace mkupdater
