// Helpers for driving the locating steps under Wine: registry values that live as long as a
// guard, the windows that the menu and the SETUP dialog own, typing into a field, and the
// SETUP template read back from the executable.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// REG_SZ values under HKLM or HKCU "Software\<global>\<local>", written at once by Put; the
// key and, when empty, its parent are deleted when the guard goes.
struct RegScope {
  HKEY root;
  std::string global, local;
  RegScope(HKEY r, const std::string& g, const std::string& l);
  ~RegScope();
  RegScope(const RegScope&) = delete;
  RegScope& operator=(const RegScope&) = delete;
  bool Put(const std::string& name, const std::string& value);
};

// A file with this content, its folders made first; removed with the folders it made when the
// guard goes.
struct FileScope {
  std::string path;
  std::vector<std::string> madeFolders;
  FileScope(const std::string& p, const std::string& content = "key");
  ~FileScope();
  FileScope(const FileScope&) = delete;
  FileScope& operator=(const FileScope&) = delete;
};

// A visible dialog-class window of the process owned by owner (any title when title is null),
// or nullptr after ms.
HWND WaitForOwned(DWORD pid, HWND owner, DWORD ms = 10000, const char* title = nullptr);
// True once the window is gone or hidden (false after ms).
bool WaitGone(HWND w, DWORD ms = 10000);
// The text of a message box (its static 0xFFFF) or of any window.
std::string BoxText(HWND box);
std::string WindowText(HWND w);
// An item's text asked for with WM_GETTEXT (GetWindowText does not ask another process's
// controls).
std::string FieldText(HWND dialog, int id);
// Sets an item's text as typing would leave it.
void TypeInto(HWND dialog, int id, const std::string& text);
// True when a child window of w shows exactly this text.
bool HasChildText(HWND w, const std::string& text);

// One control of a dialog template.
struct TemplateItem {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::string cls;   // "BUTTON", "EDIT", "STATIC", ... (predefined atoms named)
  std::string text;  // CP932
};
struct DialogTemplate {
  bool found = false;
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string title, font;
  int pointSize = 0;
  std::vector<TemplateItem> items;
};
// The DIALOG (not DIALOGEX) template of that name in the executable.
DialogTemplate ReadDialogTemplate(const std::string& exe, const char* name);

}  // namespace e2e
