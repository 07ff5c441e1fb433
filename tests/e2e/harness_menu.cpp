#include "harness_menu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "harness.h"

namespace e2e {

HWND WaitForOtherDialog(DWORD pid, HWND except, DWORD ms) {
  return WaitForBox(pid, ms, nullptr, except).hwnd;
}

std::string ItemText(HWND dialog, int id, bool* exists) {
  HWND item = GetDlgItem(dialog, id);
  if (exists) *exists = item != nullptr;
  char t[512] = {};
  if (item) GetWindowTextA(item, t, sizeof t);
  return t;
}

bool Running(const PROCESS_INFORMATION& pi) {
  return pi.hProcess && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<std::string> WorkFolders(const std::string& tempFolder) {
  std::vector<std::string> out;
  for (const std::string& n : ListFolder(tempFolder))
    if (n.rfind("TempGPInstallFolder_", 0) == 0) out.push_back(n);
  return out;
}

std::string MakeUpdaterFromStub(const std::string& folder, const std::string& stub,
                                const std::vector<Item>& items) {
  std::string exe = folder + "\\updater.exe";
  std::string payload = PayloadBytes(items);
  const std::uint32_t offset = static_cast<std::uint32_t>(stub.size());
  std::string trailer(4, '\0');
  for (int i = 0; i < 4; ++i) trailer[i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
  std::string all = stub + payload + trailer;
  if (std::FILE* f = std::fopen(exe.c_str(), "wb")) {
    std::fwrite(all.data(), 1, all.size(), f);
    std::fclose(f);
  }
  return exe;
}

std::string RenameResource(const std::string& stub, const char* name, const char* replacement) {
  auto utf16 = [](const char* s) {
    std::string w;
    for (; *s; ++s) w += std::string{*s, '\0'};
    return w;
  };
  const std::string from = utf16(name), to = utf16(replacement);
  if (from.size() != to.size()) return "";
  const std::size_t at = stub.find(from);
  if (at == std::string::npos) return "";
  std::string patched = stub;
  patched.replace(at, to.size(), to);
  return patched;
}

std::string RctFromPixels(int width, int height, const std::function<std::uint32_t(int, int)>& pixel) {
  std::string data;
  auto put = [&](std::uint32_t rgb) {  // stored blue, green, red
    data.push_back(static_cast<char>(rgb & 0xFF));
    data.push_back(static_cast<char>((rgb >> 8) & 0xFF));
    data.push_back(static_cast<char>((rgb >> 16) & 0xFF));
  };
  const int total = width * height;
  put(pixel(0, 0));  // the first pixel is stored bare
  for (int i = 1; i < total;) {
    const int run = std::min(127, total - i);  // control byte n - 1 carries n pixels
    data.push_back(static_cast<char>(run - 1));
    for (int k = 0; k < run; ++k, ++i) put(pixel(i % width, i / width));
  }
  auto u32 = [](std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  return std::string("\x98\x5A\x92\x9A" "TC00", 8) + u32(width) + u32(height) +
         u32(static_cast<std::uint32_t>(data.size())) + data;
}

ClientPixels CaptureClient(HWND window) {
  ClientPixels c;
  RECT r;
  if (!GetClientRect(window, &r)) return c;
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  c.width = r.right;
  c.height = r.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = c.width;
  info.bmiHeader.biHeight = -c.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, section);
  BitBlt(memory, 0, 0, c.width, c.height, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const std::uint32_t*>(bits);
  c.pixels.assign(p, p + static_cast<std::size_t>(c.width) * c.height);
  for (std::uint32_t& v : c.pixels) v &= 0xFFFFFF;  // BGRA in memory reads as 0x00RRGGBB
  SelectObject(memory, old);
  DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return c;
}

std::uint32_t DialogBackground() {
  COLORREF c = GetSysColor(COLOR_3DFACE);
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// ---- The .txt association ------------------------------------------------------------------

namespace {

constexpr char kProgId[] = "KovelaTest.OpenRecorder";
constexpr char kSwitch[] = "--record-open";

std::string ThisProgram() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

bool SetDefault(const std::string& key, const std::string& value) {
  HKEY k;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                      nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

// The recorder side: this same program started by the shell as
//   e2e_tests.exe --record-open "<record>" "<document>"
// writes "<full path of document>\n<its bytes>" to <record> (through a temporary name, so
// that the waiting test never reads half a record) and ends before GoogleTest starts.
std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> args;
  const char* p = line;
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string a;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
      if (*p == '"')
        quoted = !quoted;
      else
        a.push_back(*p);
    }
    args.push_back(a);
  }
  return args;
}

struct RecordOpenedDocument {
  RecordOpenedDocument() {
    std::vector<std::string> args = SplitCommandLine(GetCommandLineA());
    if (args.size() < 4 || args[1] != kSwitch) return;
    const std::string& record = args[2];
    char full[MAX_PATH] = {};
    char given[MAX_PATH] = {};
    GetFullPathNameA(args[3].c_str(), sizeof given, given, nullptr);
    if (!GetLongPathNameA(given, full, sizeof full)) std::strcpy(full, given);
    std::string out = std::string(full) + "\n" + ReadFile(full);
    std::string partial = record + ".partial";
    if (std::FILE* f = std::fopen(partial.c_str(), "wb")) {
      std::fwrite(out.data(), 1, out.size(), f);
      std::fclose(f);
      MoveFileA(partial.c_str(), record.c_str());
    }
    ExitProcess(0);
  }
};
RecordOpenedDocument g_recorder;

}  // namespace

TxtRecorder::TxtRecorder(const std::string& record) {
  char value[512] = {};
  LONG size = sizeof value;
  hadPrevious_ = RegQueryValueA(HKEY_CLASSES_ROOT, ".txt", value, &size) == ERROR_SUCCESS;
  previous_ = value;
  SetDefault(std::string(kProgId) + "\\shell\\open\\command",
             "\"" + ThisProgram() + "\" " + kSwitch + " \"" + record + "\" \"%1\"");
  SetDefault(".txt", kProgId);
}

TxtRecorder::~TxtRecorder() {
  if (hadPrevious_)
    SetDefault(".txt", previous_);
  else
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt");
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell\\open\\command").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell\\open").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
}

bool WaitForOpened(const std::string& record, Opened* out, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 100) {
    if (Exists(record)) {
      std::string s = ReadFile(record);
      std::size_t nl = s.find('\n');
      if (nl == std::string::npos) return false;
      out->path = s.substr(0, nl);
      out->content = s.substr(nl + 1);
      return true;
    }
    Sleep(100);
  }
  return false;
}

}  // namespace e2e
