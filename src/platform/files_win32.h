// What the updater's and mkupdater.exe's file calls share on Windows: why the last call failed,
// and the files open for writing, which both write through a handle alike.
#pragma once

namespace plat::win32 {

// Notes why the last call failed (from GetLastError) for LastIoError; returns -1.
int NoteLastError();

}  // namespace plat::win32
