// The copy-progress window shown while a full extraction writes the payload. Both bars
// count in 128 KiB units.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace payload {

constexpr std::uint32_t kProgressUnit = 131072;

// Opens the window (closing one still open); nullptr when the dialog cannot be created.
plat::Window OpenProgressWindow(std::uint32_t totalBytes);
// Shows a new file: its path and a fresh per-file bar. Nothing without a window.
void BeginProgressFile(plat::Window w, const char* path, std::uint32_t size);
// Moves both bars, then pumps the message queue (it only pumps without a window).
void UpdateProgress(plat::Window w, std::uint32_t written, std::uint32_t consumed);
// 0 after destroying the open window, 1 when none was open.
int CloseProgressWindow();

}  // namespace payload

#ifndef _WIN32
#include <string>
#include <vector>
namespace payload {
// The host build records the window's calls instead of showing a window.
struct ProgressEvent {
  char kind;  // 'O'pen, 'B'egin file, 'U'pdate, 'C'lose
  std::string path;
  std::uint32_t a, b;  // open: total; begin: size; update: written, consumed
};
std::vector<ProgressEvent>& RecordedProgress();
}  // namespace payload
#endif
