// Driving the real updater.exe under Wine: build updaters with hand-made payloads, start
// them with a private temporary-files folder, find and read their windows, click, take
// screenshots.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Item {
  std::string name;  // CP932, backslash-separated
  bool folder;
  std::string data;
  std::uint64_t time;
};
Item File(const std::string& name, const std::string& data, std::uint64_t time = 0x01D7116EA6B4B600ull);
Item Folder(const std::string& name);

std::string Env(const char* name);
// A fresh folder for one case under the cases folder.
std::string CaseFolder(const std::string& name);
// Writes stub + payload (+ raw bytes appended to the payload before the end marker when
// given) as <folder>\updater.exe.
std::string MakeUpdater(const std::string& folder, const std::vector<Item>& items);
std::string MakeUpdaterRaw(const std::string& folder, const std::string& payload);
std::string PayloadBytes(const std::vector<Item>& items, bool withEnd = true);

struct Process {
  PROCESS_INFORMATION pi{};
  std::string temp;  // its temporary-files folder (TEMP, TMP)
};
Process Launch(const std::string& exe, const std::string& tempFolder);
// Exit code, or 0x7FFFFFFF after the timeout (the process is then killed).
DWORD WaitExit(Process& p, DWORD ms = 20000);

struct Box {
  HWND hwnd = nullptr;
  std::string text, caption;
  HWND owner = nullptr;
};
// The first visible dialog-class window of the process (with that title, when given; other
// than `except`, when given), or an empty Box after the timeout.
Box WaitForBox(DWORD pid, DWORD ms = 15000, const char* title = nullptr, HWND except = nullptr);
void Click(HWND dialog, int id);
std::string ClipboardText();
void Screenshot(const std::string& name);

std::vector<std::string> ListFolder(const std::string& folder);  // names, sorted
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

}  // namespace e2e
