// Opening files by name, with the user asked to retry when a name cannot be opened.
#pragma once

#include <cstdio>

namespace base {

// Plain names are looked up from the current folder from now on (start-up calls this once).
void EnablePlainNameLookup();
// Opens the name; on failure asks Retry/Cancel until it opens or the user cancels.
std::FILE* Ffopen(const char* name, const char* mode);
// True when the file can be opened for reading. A .ogg or .wav name with a backslash anywhere
// is always absent.
bool FileExists(const char* name);

}  // namespace base
