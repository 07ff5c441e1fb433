// The host system as mkupdater sees it. Every path and every name here is UTF-8, on Linux and
// on Windows alike; the Windows side (host_win32.cpp) turns them into UTF-16 at each call, so
// folders of any name work there. Names stored in a container are code page 932 (Utf8ToCp932).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace host {

struct DirEntry {
  std::string name;  // UTF-8, without the folder
  bool folder;       // a folder (else a file, or something that is neither: see regular)
  bool regular;      // a plain file
  std::uint64_t size;
  std::uint64_t time;  // last write, as a Win32 FILETIME
};

// The entries of one folder, "." and ".." left out, in no particular order. 0, or -1 with
// LastError() telling why.
int ListFolder(const std::string& path, std::vector<DirEntry>* out);
// What the last failed call of this module (or of the C library) ran into, as a phrase.
std::string LastError();

// Like std::fopen (binary modes), for a UTF-8 path.
std::FILE* Open(const std::string& path, const char* mode);
bool IsFolder(const std::string& path);
bool Exists(const std::string& path);
int MakeFolder(const std::string& path);  // 0 when it exists as a folder afterwards
int Remove(const std::string& path);      // a file; 0 / -1
// Moves from over to (replacing a file there); 0 / -1.
int Rename(const std::string& from, const std::string& to);
void MarkExecutable(const std::string& path);  // chmod 0755 on Linux; nothing on Windows
std::string CurrentFolder();                   // "" when it cannot be told
int ChangeFolder(const std::string& path);     // 0 / -1

// Whether the stream is a terminal (a console on Windows), for progress bars.
bool IsTerminal(std::FILE* stream);

// UTF-8 <-> code page 932, with no best-fit guessing: false when the text has no form there.
bool Utf8ToCp932(const std::string& in, std::string* out);
bool Cp932ToUtf8(const std::string& in, std::string* out);

}  // namespace host
