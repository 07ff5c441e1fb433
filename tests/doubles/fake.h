// Controls of the platform doubles: what native tests script and read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// A fuzz target's own check, beyond the sanitizers: a failure stops the run as a crash.
inline void Require(bool ok) {
  if (!ok) __builtin_trap();
}

// Thrown by plat::Exit in the native tests, after the exit actions have run.
struct ProcessExit {
  int code;
};

struct BoxRecord {
  plat::Window owner;
  std::string text;
  std::string caption;
  unsigned style;
  int answer;
};

// Message boxes: answers are taken from the front of the script. With an empty script a
// box answers with its safe button: OK, Cancel or No. An answer of 0 means "could not be
// shown".
void ScriptAnswers(std::vector<int> answers);
const std::vector<BoxRecord>& Boxes();

// Clipboard: the text of the last successful copy; FailClipboardAlloc makes copies fail.
const std::string& Clipboard();
void SetClipboard(const std::string& text);
void FailClipboardAlloc(bool fail);

// Windows: titles of fake windows used as owners.
plat::Window MakeWindow(const std::string& title);
std::vector<plat::Window> ForegroundCalls();

// Process data.
void SetModulePath(const std::string& path);  // CP932 path of the "running executable"
void SetTempFolder(const std::string& path);  // "" makes EnterWorkFolder fail
void SetWindowsFolder(const std::string& path);
void SetTickCount(std::uint32_t ms);
void SetCdromDrive(char letter);  // 0 for none
void SetMutexOutcome(plat::MutexResult r);
std::vector<std::string> MutexNames();
std::vector<std::string> ShellOpened();

// Registry: an in-memory tree keyed by root, key path (case-insensitive) and value name. A
// REG_SZ holding the byte 0xFF (never code page 932) stands for a text that has no code page
// 932 form: reading it gives NotCp932.
void RegPut(plat::RegRoot root, const std::string& key, const std::string& name, std::uint32_t type,
            const std::string& data);
bool RegGet(plat::RegRoot root, const std::string& key, const std::string& name, std::uint32_t* type,
            std::string* data);
void RegDenyFullAccess(plat::RegRoot root, const std::string& key, bool deny);

// The staging's file calls (QueryPath, RenamePath, DeletePath, FreeSpace) act on real files.
// FailFileCall(n, e) makes the n-th rename or delete from now on fail with e (n = 0: none);
// FileCalls() counts the renames and deletes since the last Reset. FreeSpace reports the
// volume's real figures unless SetFreeSpace gave others.
void FailFileCall(int n, plat::IoError error);
void KillAtFileCall(int n);  // the n-th rename or delete ends the "process": ProcessExit{kKilled}
constexpr int kKilled = -9;
int FileCalls();
void SetFreeSpace(std::uint64_t bytes, std::uint32_t cluster = 4096);

// Exit actions registered through plat::AtExit and not yet run; and those that the last
// plat::Exit ran, in the order it ran them.
std::size_t ExitActionCount();
std::vector<void (*)()> ExitActionsRun();

// Forgets every recorded and scripted item, the registry and the exit actions.
void Reset();

}  // namespace fake
