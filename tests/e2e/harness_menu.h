// Helpers for driving the main menu under Wine: finding the menu and the windows it opens,
// building title pictures from known pixels, reading the painted client area back, and a
// document association that records what the shell asked it to open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// A visible dialog-class window of the process other than `except`, or none after ms.
HWND WaitForOtherDialog(DWORD pid, HWND except, DWORD ms);
// The text of a dialog item; `exists` tells whether the item is there at all.
std::string ItemText(HWND dialog, int id, bool* exists = nullptr);
// True while the process has not ended.
bool Running(const PROCESS_INFORMATION& pi);

// Names inside the folder that look like work folders ("TempGPInstallFolder_...").
std::vector<std::string> WorkFolders(const std::string& tempFolder);

// Writes an updater like MakeUpdater, but from the given stub bytes instead of the built one.
std::string MakeUpdaterFromStub(const std::string& folder, const std::string& stub,
                                const std::vector<Item>& items);
// The stub with one resource name renamed in place (same length, UTF-16 in the resource
// directory), so that the program can no longer find that resource; "" when not found.
std::string RenameResource(const std::string& stub, const char* name, const char* replacement);

// A title picture file ("六丁TC00", literal runs only) whose pixel (x, y) has the colour
// pixel(x, y) = 0xRRGGBB.
std::string RctFromPixels(int width, int height, const std::function<std::uint32_t(int, int)>& pixel);

// The menu's client area as the screen shows it: 0xRRGGBB per pixel, rows top to bottom.
struct ClientPixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
ClientPixels CaptureClient(HWND window);
std::uint32_t DialogBackground();  // COLOR_3DFACE as 0xRRGGBB

// Makes this test program the program that opens .txt documents, for as long as the guard
// lives: each open appends the document's full path and its content to `record`. The
// previous association is restored afterwards.
class TxtRecorder {
 public:
  explicit TxtRecorder(const std::string& record);
  ~TxtRecorder();
  TxtRecorder(const TxtRecorder&) = delete;
  TxtRecorder& operator=(const TxtRecorder&) = delete;

 private:
  std::string previous_;
  bool hadPrevious_ = false;
};

// What TxtRecorder's program wrote: the full path of the opened document and its bytes.
struct Opened {
  std::string path, content;
};
// Waits up to ms for the record to appear; false when nothing was opened by then.
bool WaitForOpened(const std::string& record, Opened* out, DWORD ms);

}  // namespace e2e
