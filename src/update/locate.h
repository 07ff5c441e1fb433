// Locating the installed application: the version gate, the default folder, the installation
// record in the registry, and the folder that the user types or browses in the SETUP dialog.
//
// Every step works on one 260-byte candidate buffer; the caller's buffer receives the folder
// only when a route succeeds. Both routes give the current folder back as they found it.
#pragma once

#include <cstddef>

namespace update {

// The candidate folder shared by both routes, the SETUP dialog and the folder browser:
// plat::kMaxPath bytes.
char* CandidateFolder();

// ---- Routes ---------------------------------------------------------------------------------

// Automatic route. Found: found and confirmed, folder copied into out. NotFound: not found
// (reported). Refused: refused by the version gate (reported) or declined by the user.
enum class Located { Found, NotFound, Refused };
Located LocateInstallFolder(char* out, std::size_t size);
// Manual route through the SETUP dialog. True: chosen, checked and confirmed, folder copied
// into out. False: cancelled, rejected (reported) or declined.
bool SelectInstallFolder(char* out, std::size_t size);

// ---- Steps ----------------------------------------------------------------------------------

// "<drive root of the Windows folder>Program Files\[INSTFOL\]INSTTO" into CandidateFolder.
// 0; -1 when it would not fit (CandidateFolder is then empty).
int ComposeDefaultFolder();
// 0 when the installed version lies within CHKREGVER..CHKREGVERHIGH (or CHKREG is not set);
// -1 after the matching message was shown.
int CheckVersionGate();

enum class Normalised {
  Ok,
  Network,  // two consecutive separators: a UNC path or a doubled separator
  Root,     // a bare drive root
  TooLong,  // a composition step would not fit CandidateFolder
};
// Steps a-g over CandidateFolder: separators, network test, trailing separator, application
// subfolder, drive, root separator, root test. Shows nothing; the route reports.
Normalised NormaliseCandidate();

// ---- Registry readers (REG_SZ only, key path and data within config::kLineSize bytes) ------

// HKEY_CURRENT_USER\Software\<global>\<local>, opened with full access; atoi of the text.
int ReadUserRegNumber(const char* global, const char* local, const char* name, int def);
// HKEY_LOCAL_MACHINE, read access.
int ReadMachineRegNumber(const char* global, const char* local, const char* name, int def);
// HKEY_LOCAL_MACHINE, read access, into out (size bytes, always terminated). 0 when the value
// was read; -1 with def in out (cut to size - 1) otherwise, also when the value would not fit;
// kNotCp932 (def in out) for a text with a character that has no code page 932 form.
constexpr int kNotCp932 = -3;
int ReadMachineRegString(const char* global, const char* local, const char* name, const char* def, char* out,
                         std::size_t size);

// ---- Dialog seam (locate_win32.cpp; the native tests link a stand-in) ----------------------

constexpr int kSetupCancelled = 0;
constexpr int kSetupNext = 1;      // "次へ": CandidateFolder holds the field's text
constexpr int kSetupTooLong = 2;   // "次へ" with more text than CandidateFolder holds
constexpr int kSetupNotCp932 = 3;  // "次へ" with a character that has no code page 932 form
// Runs the SETUP dialog over CandidateFolder, owned by the owner window.
int RunSetupDialog();

}  // namespace update
