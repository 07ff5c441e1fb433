// Path and file helpers over code page 932 byte strings.
#pragma once

#include <cstddef>

#include "base/cp932.h"

namespace paths {

// Removes one trailing backslash unless it is the trail byte of a double-byte character.
char* StripTrailingBackslash(char* path);
// Appends a backslash unless the text already ends in a real one. The buffer must have
// room for one more byte; size is its capacity (the append is skipped when full).
char* AppendTrailingBackslash(char* path, std::size_t size);

// Double-byte aware searches: pointer to the first match, or nullptr.
const char* FindChar(const char* s, char c);
const char* FindText(const char* s, const char* pattern);

// The last component of a relative name as [*start, *end): '\\' and '/' both separate, a
// folder name's one trailing separator is not part of it. Double-byte aware.
void LastComponent(const char* name, std::size_t* start, std::size_t* end);

// Joins folder, a backslash and name into out; -1 (out emptied) when it would not fit.
int JoinPath(char* out, std::size_t size, const char* folder, const char* name);

// Deletes the files (never folders) matching pattern inside folder; nothing when the folder
// cannot be entered. The current folder is restored.
void DeleteMatchingFiles(const char* folder, const char* pattern);

}  // namespace paths
