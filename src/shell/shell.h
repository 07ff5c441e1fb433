// Services of the application shell that every subsystem uses: message boxes, the owner
// window, the message pump, memory blocks, the file helpers and the work folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/platform.h"

namespace shell {

// ---- Message boxes (texts are formatted printf-style into 1024 bytes) --------------------
constexpr std::size_t kMessageSize = 1024;

// Retry/Cancel, error icon. Returns on Retry (or when the box cannot be shown); Cancel ends
// the process with -1 and leaves the work folder.
void ReportFatal(const char* format, ...);
// OK, error icon. Always returns.
void ReportError(const char* format, ...);
// Yes/No, question icon. 1 for Yes, else 0.
int AskYesNo(const char* format, ...);

void SetOwnerWindow(plat::Window w);
plat::Window GetOwnerWindow();
const char* GetOwnerTitle();  // the owner's title, read afresh; "" without an owner

// Drains the message queue; a WM_QUIT ends the process with its wParam.
void PumpMessages();

// ---- Memory -------------------------------------------------------------------------------
// A heap block of n + 32 bytes. On failure the out-of-memory box is shown and the run ends
// (work folder removed, exit -1): no caller ever sees a missing block.
void* AllocBlock(std::size_t n);

struct BlockFree {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char[], BlockFree>;
inline Block AllocOwned(std::size_t n) { return Block(static_cast<unsigned char*>(AllocBlock(n))); }

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

// ---- File helpers -------------------------------------------------------------------------
void EnablePlainNameLookup();
// Opens the name; on failure asks Retry/Cancel until it opens or the user cancels.
std::FILE* Ffopen(const char* name, const char* mode);
// 1 when the file can be opened for reading, else 0. A .ogg or .wav name with a backslash
// anywhere is always absent.
int FileExists(const char* name);

// ---- Work folder --------------------------------------------------------------------------
void CreateWorkFolder();
void RemoveWorkFolder();
const char* WorkFolderPath();
// "TempGPInstallFolder_%09d" of the tick count read as a signed 32-bit integer.
void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size);

// Opens a document with its associated program ("open", normal window, the owner window as
// parent). A relative name is taken from the current folder. Failures are not reported.
void OpenDocument(const char* path);

// ---- Process end --------------------------------------------------------------------------
// The damaged-file path shared by both extractions: close the progress window, report,
// remove the work folder, exit -1.
[[noreturn]] void FailDamagedFile();

// Forgets the owner window and the work folder (native tests only).
void ResetForTests();

// Texts of the shell, in one place.
namespace text {
extern const char kMissingStartupFiles[];
extern const char kDamagedFile[];
extern const char kOutOfMemory[];
extern const char kOutOfMemoryCaption[];
extern const char kFfopenFailed[];
extern const char kAlreadyRunning[];
}  // namespace text

}  // namespace shell
