// The temporary work folder that holds the start-up files for the length of one run, and
// the end of a run after an error report.
#pragma once

#include <cstddef>
#include <cstdint>

namespace base {

// Creates "TempGPInstallFolder_%09d" under the temporary-files folder and makes it current;
// false when it cannot be made. A name that is taken already (by a folder, a file or a link)
// is passed over for the next number. The temporary-files folder need not have a code page
// 932 name. The work folders that cut-off runs left there go, once their owners
// have ended.
bool CreateWorkFolder();
// Gives the start folder back, then deletes the work folder's files and the folder.
void RemoveWorkFolder();
// "TempGPInstallFolder_%09d" of the tick count read as a signed 32-bit integer.
void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size);

// The end after an error report: the message (OK box), the work folder removed, exit -1.
[[noreturn]] void EndWithError(const char* message);

}  // namespace base
