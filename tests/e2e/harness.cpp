#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container_writer.h"

namespace e2e {

// ---- Updaters --------------------------------------------------------------------------------

Item File(const std::string& name, const std::string& data, std::uint64_t time) {
  return {name, false, data, time};
}
Item Folder(const std::string& name) { return {name, true, "", 0}; }

std::string PayloadBytes(const std::vector<Item>& items, bool withEnd) {
  std::FILE* t = std::tmpfile();
  for (const Item& it : items) {
    if (it.folder)
      mkupdater::WriteFolderRecord(t, it.name);
    else
      mkupdater::WriteFileRecord(t, it.name, std::vector<std::uint8_t>(it.data.begin(), it.data.end()),
                                 it.time, 9);
  }
  if (withEnd) std::fwrite("\0\0\0\0", 1, 4, t);
  std::string s(static_cast<std::size_t>(std::ftell(t)), '\0');
  std::rewind(t);
  if (!s.empty() && std::fread(&s[0], 1, s.size(), t) != s.size()) s.clear();
  std::fclose(t);
  return s;
}

std::string Le(std::uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
static std::string U32(std::uint32_t v) { return Le(v, 4); }

std::string Zlib(const std::string& data) {
  std::vector<std::uint8_t> z = mkupdater::Deflate(std::vector<std::uint8_t>(data.begin(), data.end()), 9);
  return std::string(z.begin(), z.end());
}

std::string MakeUpdater(const std::string& folder, const std::string& payload, const std::string& stub) {
  const std::string base = stub.empty() ? ReadFile(Env("KOVELA_STUB")) : stub;
  std::string exe = folder + "\\updater.exe";
  WriteFile(exe, base + payload + U32(static_cast<std::uint32_t>(base.size())));
  return exe;
}

std::string RctFromPixels(int width, int height, const std::function<std::uint32_t(int, int)>& pixel) {
  std::string data;
  auto put = [&](std::uint32_t rgb) {  // stored blue, green, red
    for (int shift : {0, 8, 16}) data.push_back(static_cast<char>((rgb >> shift) & 0xFF));
  };
  const int total = width * height;
  put(pixel(0, 0));  // the first pixel is stored bare
  for (int i = 1; i < total;) {
    const int run = std::min(127, total - i);  // control byte n - 1 carries n pixels
    data.push_back(static_cast<char>(run - 1));
    for (int k = 0; k < run; ++k, ++i) put(pixel(i % width, i / width));
  }
  return std::string("\x98\x5A\x92\x9ATC00", 8) + U32(width) + U32(height) +
         U32(static_cast<std::uint32_t>(data.size())) + data;
}

std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  return s;
}

// ---- Text --------------------------------------------------------------------------------------

std::wstring Wide(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  const int n = static_cast<int>(s.size());
  w.resize(n ? MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, s.data(), n, &w[0], n) : 0);
  return w;
}

std::string Narrow(const std::wstring& w) {
  std::string s(w.size() * 2, '\0');
  const int n = static_cast<int>(w.size());
  BOOL usedDefault = FALSE;
  s.resize(
      n ? WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w.data(), n, &s[0], n * 2, nullptr, &usedDefault)
        : 0);
  return s;
}

// ---- Files -------------------------------------------------------------------------------------

std::string Env(const char* name) {
  wchar_t value[4096];
  const DWORD n = GetEnvironmentVariableW(Wide(name).c_str(), value, 4096);
  return n && n < 4096 ? Narrow(std::wstring(value, n)) : "";
}

static std::wstring Self() {
  wchar_t self[MAX_PATH] = {};
  return std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
}

std::string Beside(const std::string& name) {
  const std::wstring self = Self();
  return Narrow(self.substr(0, self.rfind(L'\\') + 1)) + name;
}

// Calls f(path, data) for every entry of the folder but "." and "..".
static void Each(const std::wstring& folder, const std::function<void(std::wstring, WIN32_FIND_DATAW&)>& f) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &d);
  for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &d))
    if (wcscmp(d.cFileName, L".") && wcscmp(d.cFileName, L"..")) f(folder + L"\\" + d.cFileName, d);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

static void RemoveTreeW(const std::wstring& path) {
  Each(path, [](std::wstring p, WIN32_FIND_DATAW&) {
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(p.c_str())) RemoveTreeW(p);
  });
  RemoveDirectoryW(path.c_str());
}
void RemoveTree(const std::string& path) { RemoveTreeW(Wide(path)); }

std::string CaseFolder(const std::string& name) {
  std::string f = Env("KOVELA_CASES") + "\\" + name;
  RemoveTree(f);
  CreateDirectoryW(Wide(f).c_str(), nullptr);
  CreateDirectoryW(Wide(f + "\\temp").c_str(), nullptr);
  return f;
}

std::wstring UnnamedInCp932(const std::string& parent) {
  const std::wstring folder = Wide(parent) + L"\\\u6D4B\u8BD5";  // 测试, simplified Chinese
  RemoveTreeW(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void WriteFile(const std::string& path, const std::string& data) {
  const std::wstring w = Wide(path);
  for (std::size_t i = w.find(L'\\', 3); i != std::wstring::npos; i = w.find(L'\\', i + 1))
    CreateDirectoryW(w.substr(0, i).c_str(), nullptr);
  HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD done = 0;
  for (std::size_t at = 0; h != INVALID_HANDLE_VALUE && at < data.size(); at += done)
    if (!::WriteFile(h, data.data() + at,
                     static_cast<DWORD>(std::min<std::size_t>(data.size() - at, 1 << 20)), &done, nullptr) ||
        !done)
      break;
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

static std::string ReadFileW(const std::wstring& path) {
  std::string s;
  char buf[65536];
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  for (DWORD n; h != INVALID_HANDLE_VALUE && ::ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0;)
    s.append(buf, n);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return s;
}
std::string ReadFile(const std::string& path) { return ReadFileW(Wide(path)); }

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::wstring& folder) {
  std::vector<std::string> names;
  Each(folder, [&](std::wstring, WIN32_FIND_DATAW& d) { names.push_back(Narrow(d.cFileName)); });
  std::sort(names.begin(), names.end());
  return names;
}
bool MakeLink(const std::string& target, const std::string& at) {
  auto host = [](const std::string& path) {
    std::wstring w =
        Wide(path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':' ? path.substr(2) : "");
    std::replace(w.begin(), w.end(), L'\\', L'/');
    return w;
  };
  const std::wstring from = host(target), to = host(at);
  if (from.empty() || to.empty()) return false;
  std::wstring cmd = L"ln -s \"" + from + L"\" \"" + to + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(L"Z:\\bin\\ln", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  // The Unix process may outlive its handle: the link is there when the folder lists it.
  const std::string name = at.substr(at.rfind('\\') + 1);
  for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
    const std::vector<std::string> names = ListFolder(at.substr(0, at.rfind('\\')));
    if (std::find(names.begin(), names.end(), name) != names.end()) return true;
  }
  return false;
}

std::vector<std::string> ListFolder(const std::string& folder) { return ListFolder(Wide(folder)); }

void Walk(const std::string& root, Snapshot* s, bool hashes) {
  Each(Wide(root), [&](std::wstring wide, WIN32_FIND_DATAW& d) {
    const std::string path = Narrow(wide);
    const bool folder = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const std::uint64_t hash = hashes && !folder ? std::hash<std::string>()(ReadFileW(wide)) : 0;
    (*s)[path] = Entry{
        folder, folder ? 0 : (std::uint64_t{d.nFileSizeHigh} << 32) | d.nFileSizeLow,
        (std::uint64_t{d.ftLastWriteTime.dwHighDateTime} << 32) | d.ftLastWriteTime.dwLowDateTime, hash};
    if (folder && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Walk(path, s, hashes);
  });
}

std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> out;
  for (const auto& a : after) {
    auto b = before.find(a.first);
    if (b == before.end())
      out.push_back("+ " + a.first);
    else if (!(b->second == a.second))
      out.push_back("~ " + a.first);
  }
  for (const auto& b : before)
    if (!after.count(b.first)) out.push_back("- " + b.first);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> WorkFolders(const std::string& tempFolder) {
  std::vector<std::string> out;
  for (const std::string& n : ListFolder(tempFolder))
    if (n.rfind("TempGPInstallFolder_", 0) == 0 && n.size() >= 29 &&
        n.find_first_not_of("0123456789", n[20] == '-' ? 21 : 20) == std::string::npos)
      out.push_back(n);
  return out;
}

// ---- Processes and windows ---------------------------------------------------------------------

Process Launch(const std::string& exe, const std::wstring& tempFolder, const std::string& args) {
  std::wstring env;
  wchar_t* block = GetEnvironmentStringsW();
  for (wchar_t* p = block; *p; p += wcslen(p) + 1)
    if (_wcsnicmp(p, L"TEMP=", 5) != 0 && _wcsnicmp(p, L"TMP=", 4) != 0) env += std::wstring(p) + L'\0';
  FreeEnvironmentStringsW(block);
  env += L"TEMP=" + tempFolder + L'\0' + L"TMP=" + tempFolder + L'\0' + L'\0';

  Process p;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  const std::wstring file = Wide(exe), dir = file.substr(0, file.rfind(L'\\'));
  std::wstring cmd = L"\"" + file + L"\" " + Wide(args);
  if (!CreateProcessW(file.c_str(), &cmd[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &env[0],
                      dir.c_str(), &si, &p.pi))
    std::fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
  return p;
}

Process Launch(const std::string& exe, const std::string& tempFolder, const std::string& args) {
  return Launch(exe, Wide(tempFolder), args);
}

DWORD WaitExit(Process& p, DWORD ms) {
  DWORD code = 0x7FFFFFFF;
  if (!p.pi.hProcess) return code;
  if (WaitForSingleObject(p.pi.hProcess, ms) == WAIT_OBJECT_0)
    GetExitCodeProcess(p.pi.hProcess, &code);
  else if (TerminateProcess(p.pi.hProcess, code))
    WaitForSingleObject(p.pi.hProcess, 5000);
  CloseHandle(p.pi.hProcess);
  CloseHandle(p.pi.hThread);
  p.pi = PROCESS_INFORMATION{};
  return code;
}

Process::~Process() { WaitExit(*this, 0); }

bool Running(const Process& p) {
  return p.pi.hProcess && WaitForSingleObject(p.pi.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<HWND> Dialogs(DWORD pid, const char* title) {
  std::vector<HWND> found;
  const std::wstring caption = title ? Wide(title) : L"";
  for (HWND w = nullptr;
       (w = FindWindowExW(nullptr, w, L"#32770", title ? caption.c_str() : nullptr)) != nullptr;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) found.push_back(w);
  }
  return found;
}

Box WaitForBox(DWORD pid, DWORD ms, const char* title, HWND except, HWND owner) {
  for (DWORD start = GetTickCount();; Sleep(50)) {
    for (HWND w : Dialogs(pid, title)) {
      if (w == except || (owner && GetWindow(w, GW_OWNER) != owner)) continue;
      Sleep(200);  // let it paint before anyone looks at it
      return Box{w, Text(w, 0xFFFF), Text(w), GetWindow(w, GW_OWNER)};
    }
    if (GetTickCount() - start > ms) return Box{};
  }
}

bool WaitGone(HWND w, DWORD ms) {
  for (DWORD waited = 0; IsWindowVisible(w); waited += 50, Sleep(50))
    if (waited >= ms) return false;
  return true;
}

std::string Text(HWND w, int item) {
  wchar_t t[2048] = {};
  if (item) w = GetDlgItem(w, item);
  DWORD_PTR ignored;
  if (w)
    SendMessageTimeoutW(w, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(t), SMTO_ABORTIFHUNG, 5000, &ignored);
  return Narrow(t);
}

void SetText(HWND dialog, int item, const std::string& text) {
  const std::wstring w = Wide(text);
  SendMessageW(GetDlgItem(dialog, item), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
}

void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ClipboardText() {
  for (int i = 0; i < 20 && !OpenClipboard(nullptr); ++i) Sleep(50);
  HANDLE h = GetClipboardData(CF_UNICODETEXT);
  const wchar_t* p = h ? static_cast<const wchar_t*>(GlobalLock(h)) : nullptr;
  std::string s = p ? Narrow(p) : "";
  if (p) GlobalUnlock(h);
  CloseClipboard();
  return s;
}

void Screenshot(const std::string& name) {
  Sleep(500);  // let the windows settle on the X screen
  std::string request = Env("KOVELA_SHOTS") + "\\" + name + ".request";
  WriteFile(request, "");
  for (int i = 0; i < 400 && Exists(request); ++i) Sleep(50);
}

Pixels Capture(HWND w) {
  Pixels c;
  RECT r;
  POINT origin{0, 0};
  if (!GetClientRect(w, &r) || r.right <= 0 || r.bottom <= 0 || !ClientToScreen(w, &origin)) return c;
  c.width = r.right;
  c.height = r.bottom;
  c.pixels.resize(static_cast<std::size_t>(c.width) * c.height);
  HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, c.width, c.height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, c.width, c.height, screen, origin.x, origin.y, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{{sizeof(BITMAPINFOHEADER), c.width, -c.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0},
                  {}};  // top-down rows
  GetDIBits(memory, bitmap, 0, c.height, c.pixels.data(), &info, DIB_RGB_COLORS);
  for (std::uint32_t& v : c.pixels) v &= 0xFFFFFF;  // BGRA in memory reads as 0x00RRGGBB
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return c;
}

std::uint32_t DialogBackground() {
  COLORREF c = GetSysColor(COLOR_3DFACE);
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

std::string MenuPaint(HWND menu, int w, int h, const std::function<std::uint32_t(int, int)>& pixel) {
  RECT client;
  GetClientRect(menu, &client);
  POINT left{0, 0};
  if (RECT b; GetWindowRect(GetDlgItem(menu, IDC_MENU_SLOT0), &b)) left = {b.left - 2, b.top};
  ScreenToClient(menu, &left);
  const int ox = (client.bottom - w) / 2, oy = (client.bottom - h) / 2;
  if (w && ox + w >= left.x) return "the picture reaches the buttons";
  char difference[100] = "nothing captured";
  for (int attempt = 0; attempt < 20 && difference[0]; ++attempt, Sleep(150)) {
    const Pixels c = Capture(menu);
    std::snprintf(difference, sizeof difference, "%s", c.width ? "" : "nothing captured");
    for (int y = 0; y < c.height && !difference[0]; ++y)
      for (int x = 0; x < left.x && !difference[0]; ++x) {
        const bool inside = x >= ox && y >= oy && x < ox + w && y < oy + h;
        const std::uint32_t want = inside ? pixel(x - ox, y - oy) : DialogBackground();
        if (c.At(x, y) != want)
          std::snprintf(difference, sizeof difference, "client (%d, %d): painted %06X, expected %06X", x, y,
                        c.At(x, y), want);
      }
  }
  return difference;
}

// ---- The update -------------------------------------------------------------------------------

HWND StartUpdate(Process& p, const char* title, const std::string& folder, int button, HWND* confirm) {
  HWND menu = WaitForBox(p.pi.dwProcessId, 15000, title).hwnd;
  if (!menu || Text(menu, button) != "アップデート") return nullptr;
  Click(menu, button);
  Box box = WaitForBox(p.pi.dwProcessId, 15000, nullptr, menu);
  if (box.text != "[" + folder + "]をアップデートします") {
    std::fprintf(stderr, "confirmation: \"%s\"\n", box.text.c_str());
    return nullptr;
  }
  Click(box.hwnd, IDYES);
  if (confirm) *confirm = box.hwnd;
  return menu;
}

DWORD FinishWithOk(Process& p) {
  HWND finish = WaitForBox(p.pi.dwProcessId, 30000, "インストール終了").hwnd;
  if (!finish) return 0x7FFFFFFE;
  Click(finish, IDOK);
  return WaitExit(p);
}

DWORD UpdateWithOk(const std::string& start, const char* title, const std::string& folder) {
  Process p = Launch(start + "\\updater.exe", start + "\\temp");
  return StartUpdate(p, title, folder) ? FinishWithOk(p) : 0x7FFFFFFD;
}

// ---- Registry ----------------------------------------------------------------------------------

void RegPut(HKEY root, const std::string& key, const std::string& name, const std::string& data, DWORD type) {
  HKEY k;
  if (RegCreateKeyExW(root, Wide(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
      ERROR_SUCCESS)
    return (void)std::fprintf(stderr, "cannot create %s\n", key.c_str());
  const std::wstring text = Wide(data) + L'\0';
  const bool sz = type == REG_SZ || type == REG_EXPAND_SZ;
  RegSetValueExW(k, Wide(name).c_str(), 0, type,
                 sz ? reinterpret_cast<const BYTE*>(text.data()) : reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(sz ? text.size() * sizeof(wchar_t) : data.size()));
  RegCloseKey(k);
}

std::vector<RegValue> RegValues(HKEY root, const std::string& key) {
  std::vector<RegValue> out;
  HKEY k;
  if (RegOpenKeyExW(root, Wide(key).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return out;
  wchar_t name[512];
  wchar_t data[2048];  // wide for the strings; other types are read as raw bytes into it
  for (DWORD i = 0, nameSize = 512, dataSize = sizeof data, type = 0;
       RegEnumValueW(k, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) ==
       ERROR_SUCCESS;
       ++i, nameSize = 512, dataSize = sizeof data) {
    RegValue v{Narrow(std::wstring(name, nameSize)), type,
               std::string(reinterpret_cast<const char*>(data), dataSize)};
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(data, dataSize / sizeof(wchar_t));
      if (!text.empty() && text.back() == L'\0') text.pop_back();
      v.data = Narrow(text);
    }
    out.push_back(v);
  }
  RegCloseKey(k);
  std::sort(out.begin(), out.end(), [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
  return out;
}

void WriteInstallRecord(const std::string& global, const std::string& local, const std::string& folder) {
  const std::string key = "Software\\" + global + "\\" + local;
  RegPut(HKEY_LOCAL_MACHINE, key, "IsInst", "1");
  RegPut(HKEY_LOCAL_MACHINE, key, "InstTo", folder);
}

void DeleteSoftwareKey(const std::string& global) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const std::wstring key = Wide("Software\\" + global);
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
  }
}

// ---- Opened documents --------------------------------------------------------------------------
// The shell starts this program as  e2e_tests.exe --record-open "<document>": it writes "<full
// path>\n<bytes>" to the record (whole, through a temporary name) and ends before GoogleTest.

namespace {

std::string Record() { return Env("KOVELA_CASES") + "\\opened.rec"; }

bool RecordIfAsked() {
  const wchar_t* args = wcsstr(GetCommandLineW(), L" --record-open \"");
  if (!args) return false;
  std::wstring document(args + 16);
  document.erase(document.find(L'"'));
  wchar_t full[MAX_PATH] = {}, given[MAX_PATH] = {};
  GetFullPathNameW(document.c_str(), MAX_PATH, given, nullptr);
  if (!GetLongPathNameW(given, full, MAX_PATH)) wcscpy(full, given);
  WriteFile(Record() + ".partial", Narrow(full) + "\n" + ReadFileW(full));
  MoveFileW(Wide(Record() + ".partial").c_str(), Wide(Record()).c_str());
  ExitProcess(0);
}
const bool g_recorder = RecordIfAsked();

}  // namespace

void RecordTxtOpens() {
  RegPut(HKEY_CLASSES_ROOT, "KovelaTest.OpenRecorder\\shell\\open\\command", "",
         "\"" + Narrow(Self()) + "\" --record-open \"%1\"");
  RegPut(HKEY_CLASSES_ROOT, ".txt", "", "KovelaTest.OpenRecorder");
  DeleteFileW(Wide(Record()).c_str());
}

bool WaitForOpened(std::string* path, std::string* content, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 100, Sleep(100)) {
    if (!Exists(Record())) continue;
    std::string s = ReadFile(Record());
    DeleteFileW(Wide(Record()).c_str());
    const std::size_t nl = s.find('\n');
    *path = s.substr(0, nl);
    *content = nl == std::string::npos ? "" : s.substr(nl + 1);
    return nl != std::string::npos;
  }
  return false;
}

}  // namespace e2e
