// Driving the real updater.exe under Wine: build updaters with hand-made payloads, start them
// with a private temporary-files folder, find, read and click their windows, look at the
// screen, and set up the registry and the .txt association around them.
//
// Every name, path and text here is code page 932, whatever the system's code page: the
// harness reaches the system only through the wide ("W") calls, converting with Wide and
// Narrow, so a test expects the same bytes under every locale.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"

namespace e2e {

// ---- Updaters --------------------------------------------------------------------------------

struct Item {
  std::string name;  // CP932, backslash-separated
  bool folder;
  std::string data;
  std::uint64_t time;
};
Item File(const std::string& name, const std::string& data, std::uint64_t time = 0x01D710B41567C980ull);
Item Folder(const std::string& name);
std::string PayloadBytes(const std::vector<Item>& items, bool withEnd = true);
// Writes <folder>\updater.exe: the stub (the built one by default), the payload and its trailer.
std::string MakeUpdater(const std::string& folder, const std::string& payload, const std::string& stub = "");
inline std::string MakeUpdater(const std::string& folder, const std::vector<Item>& items) {
  return MakeUpdater(folder, PayloadBytes(items));
}
// v as `bytes` little-endian bytes, for hand-made records and headers.
std::string Le(std::uint64_t v, int bytes);
// One zlib stream of data, as the container stores it.
std::string Zlib(const std::string& data);
// A title picture ("六丁TC00", literal runs only) whose pixel (x, y) is pixel(x, y) = 0xRRGGBB.
std::string RctFromPixels(int width, int height, const std::function<std::uint32_t(int, int)>& pixel);
std::string Noise(std::size_t n, std::uint32_t seed);  // bytes that deflate cannot shrink

// ---- Text --------------------------------------------------------------------------------------

// Code page 932 to UTF-16 ("" for bytes that are not code page 932) and back (a character
// without a code page 932 form becomes "?", never a best-fit look-alike).
std::wstring Wide(const std::string& s);
std::string Narrow(const std::wstring& w);

// ---- Files -------------------------------------------------------------------------------------

std::string Env(const char* name);
std::string Beside(const std::string& name);  // a file beside this test program
// A fresh folder for one case, with an empty "temp" folder inside.
std::string CaseFolder(const std::string& name);
void RemoveTree(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);  // makes the missing folders
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// A link at `at` that leads to `target` (both on Z:), as a Unix symbolic link: Wine makes none
// itself, and shows one that leads to a folder as a reparse point. False when none was made.
bool MakeLink(const std::string& target, const std::string& at);
std::vector<std::string> ListFolder(const std::string& folder);  // names, sorted
std::vector<std::string> ListFolder(const std::wstring& folder);
// A fresh, empty folder in parent whose name (测试) has no code page 932 form.
std::wstring UnnamedInCp932(const std::string& parent);
// The names in the folder that are work folders, "TempGPInstallFolder_" and at least nine digits.
std::vector<std::string> WorkFolders(const std::string& tempFolder);

// Every file and folder below root with its size, time (a folder's moves when an entry is made
// or removed in it) and, when asked, a hash of its bytes. Links are listed, not followed.
struct Entry {
  bool folder;
  std::uint64_t size, time, hash;
  bool operator==(const Entry& o) const {
    return folder == o.folder && size == o.size && time == o.time && hash == o.hash;
  }
};
using Snapshot = std::map<std::string, Entry>;
void Walk(const std::string& root, Snapshot* s, bool hashes = false);
inline Snapshot Take(const std::string& root) {  // with hashes
  Snapshot s;
  Walk(root, &s, true);
  return s;
}
// "+ path", "- path" and "~ path" for every entry added, removed or changed, sorted.
std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after);

// ---- Processes and windows ---------------------------------------------------------------------

// A started process; one still running when it goes is ended (no later case meets its guard).
struct Process {
  PROCESS_INFORMATION pi{};
  Process() = default;
  Process(Process&& o) noexcept : pi(o.pi) { o.pi = PROCESS_INFORMATION{}; }
  ~Process();
};
// Starts exe in its own folder with TEMP and TMP set to tempFolder.
Process Launch(const std::string& exe, const std::string& tempFolder, const std::string& args = "");
Process Launch(const std::string& exe, const std::wstring& tempFolder, const std::string& args = "");
// Exit code, or 0x7FFFFFFF after the timeout (the process is then killed).
DWORD WaitExit(Process& p, DWORD ms = 20000);
bool Running(const Process& p);

// The process's visible dialogs and message boxes, with that caption when one is given.
std::vector<HWND> Dialogs(DWORD pid, const char* title = nullptr);
struct Box {
  HWND hwnd = nullptr;
  std::string text, caption;  // text: a message box's static 0xFFFF
  HWND owner = nullptr;
};
// The first of Dialogs(pid, title) but `except` (owned by `owner`, if given), or none after ms.
Box WaitForBox(DWORD pid, DWORD ms = 15000, const char* title = nullptr, HWND except = nullptr,
               HWND owner = nullptr);
bool WaitGone(HWND w, DWORD ms = 10000);  // true once the window is gone or hidden
// A window's or its item's text through WM_GETTEXT (Wine's GetWindowText does not ask another
// process's controls); "" when there is no such item.
std::string Text(HWND w, int item = 0);
void SetText(HWND dialog, int item, const std::string& text);  // WM_SETTEXT, as typing leaves it
void Click(HWND dialog, int id);                               // a posted BM_CLICK
std::string ClipboardText();
void Screenshot(const std::string& name);

// The client area as the screen shows it, 0xRRGGBB per pixel, rows top to bottom.
struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
Pixels Capture(HWND w);
std::uint32_t DialogBackground();  // COLOR_3DFACE as 0xRRGGBB
// "" when, left of the buttons, the menu's client area shows the w x h picture pixel(x, y)
// centred in the square of the client height (clipped) and the dialog background elsewhere;
// otherwise the first difference, after 3 s of waiting for the picture to arrive.
std::string MenuPaint(HWND menu, int w, int h, const std::function<std::uint32_t(int, int)>& pixel);

// ---- The update -------------------------------------------------------------------------------

// Clicks the update button of the menu titled `title` and "はい" on the confirmation, which
// must name `folder`; the menu, or none. *confirm receives the confirmation.
HWND StartUpdate(Process& p, const char* title, const std::string& folder, int button = IDC_MENU_SLOT1,
                 HWND* confirm = nullptr);
// Starts <start>\updater.exe, updates `folder` through the menu titled `title` and closes the
// finish dialog with OK: FinishWithOk's exit code, or 0x7FFFFFFD when the menu did not serve.
DWORD UpdateWithOk(const std::string& start, const char* title, const std::string& folder);
// Closes the finish dialog "インストール終了" with OK once it comes; the exit code, or 0x7FFFFFFE
// when none came within 30 s.
DWORD FinishWithOk(Process& p);

// ---- Registry ----------------------------------------------------------------------------------

struct RegValue {
  std::string name;
  DWORD type = 0;
  std::string data;  // REG_SZ without its terminator; other types as raw bytes
  bool operator==(const RegValue& o) const { return name == o.name && type == o.type && data == o.data; }
};
void RegPut(HKEY root, const std::string& key, const std::string& name, const std::string& data,
            DWORD type = REG_SZ);
std::vector<RegValue> RegValues(HKEY root, const std::string& key);  // sorted by name
// HKLM\Software\<global>\<local> "IsInst"="1", "InstTo"=folder, as the game's installer leaves them.
void WriteInstallRecord(const std::string& global, const std::string& local, const std::string& folder);
void DeleteSoftwareKey(const std::string& global);  // Software\<global> from HKCU and HKLM

// ---- Opened documents --------------------------------------------------------------------------

// Makes this test program the opener of .txt documents and forgets what was opened before.
void RecordTxtOpens();
// The full path and the bytes of the document opened since, waiting up to ms; false when none.
bool WaitForOpened(std::string* path, std::string* content, DWORD ms);

}  // namespace e2e
