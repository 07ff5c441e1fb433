// The updater's run from entry to exit code.
#pragma once

namespace shell {

// Start-up: COM, work folder, bootstrap extraction, configuration, single-instance guard,
// the main menu. Returns the exit code of a normal end; the other ends leave through
// plat::Exit.
int RunUpdater();

// Runs the main menu until it ends. Returns 0 after the menu has ended; -1 when the menu
// window cannot be created (the work folder is removed first).
int RunMainMenu();

// Texts of start-up, in one place.
namespace text {
extern const char kMissingStartupFiles[];
extern const char kAlreadyRunning[];  // %s: the updater's title
extern const char kNoWorkFolder[];
}  // namespace text

}  // namespace shell
