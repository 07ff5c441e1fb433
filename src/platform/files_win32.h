// What the updater's and mkupdater.exe's sides of the seam share on Windows: the one conversion
// between the seam's code page 932 and the system's UTF-16, and the file calls.
//
// Every text that crosses into Windows goes through ToWide / ToCp932 and a wide ("W") call.
// Both convert with code page 932 itself, never with the system's code page: a Windows in any
// language then sees the same names and texts as a Japanese one.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace plat::win32 {

// Code page 932 to UTF-16, with the terminator. False (out emptied) for bytes that are not code
// page 932, such as a lead byte without its trail byte.
bool ToWide(const char* cp932, std::wstring* out);
// UTF-16 to code page 932 into out (size bytes, terminated). False (out emptied) when a
// character has no code page 932 form (no best-fit look-alike is taken) or the text does not fit.
bool ToCp932(const wchar_t* text, char* out, std::size_t size);

// A path as the wide file calls take it: converted by ToWide, and an absolute path too long for
// the plain calls behind the \\?\ prefix, which also wants its separators as backslashes. ok is
// false (and the last error set) for a path that is not code page 932 or too long even so.
struct WidePath {
  static constexpr int kLongest = 2 * MAX_PATH;
  wchar_t text[4 + kLongest + 1];
  bool ok = false;
  // limit: the longest path the call takes without the prefix (a folder to be made: 12 less).
  explicit WidePath(const char* path, int limit = MAX_PATH);
};

// Notes why the last call failed (from GetLastError) for LastIoError; returns -1.
int NoteLastError();

}  // namespace plat::win32
