#include "harness_apply.h"

#include <algorithm>
#include <cstdio>

#include "harness.h"

namespace e2e {

namespace {

struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};

bool Create(HKEY root, const std::string& path, Key* k) {
  return RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                         nullptr, &k->h, nullptr) == ERROR_SUCCESS;
}

void SetString(HKEY root, const std::string& key, const std::string& name, const std::string& data) {
  Key k;
  if (!Create(root, key, &k)) {
    std::fprintf(stderr, "cannot create %s\n", key.c_str());
    return;
  }
  RegSetValueExA(k.h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
}

}  // namespace

void WriteInstallRecord(const std::string& global, const std::string& local,
                        const std::string& folder) {
  std::string key = "Software\\" + global + "\\" + local;
  SetString(HKEY_LOCAL_MACHINE, key, "IsInst", "1");
  SetString(HKEY_LOCAL_MACHINE, key, "InstTo", folder);
}

void DeleteSoftwareKey(const std::string& global) {
  std::string key = "Software\\" + global;
  RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

std::vector<RegValue> UserValues(const std::string& key) {
  std::vector<RegValue> out;
  Key k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k.h) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    char name[512];
    BYTE data[4096];
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(k.h, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    RegValue v;
    v.name.assign(name, nameSize);
    v.type = type;
    v.data.assign(reinterpret_cast<const char*>(data), dataSize);
    if (type == REG_SZ && !v.data.empty() && v.data.back() == '\0') v.data.pop_back();
    out.push_back(v);
  }
  std::sort(out.begin(), out.end(), [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
  return out;
}

void SetUserString(const std::string& key, const std::string& name, const std::string& data) {
  SetString(HKEY_CURRENT_USER, key, name, data);
}

void SetUserDword(const std::string& key, const std::string& name, DWORD value) {
  Key k;
  if (Create(HKEY_CURRENT_USER, key, &k))
    RegSetValueExA(k.h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::string ExportUserKeyCp932(const std::string& key) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string file = std::string(temp) + "kovela-export.reg";
  DeleteFileA(file.c_str());
  std::string cmd = "regedit.exe /e \"" + file + "\" \"HKEY_CURRENT_USER\\" + key + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return "";
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::string raw = ReadFile(file);
  DeleteFileA(file.c_str());
  if (raw.size() < 2 || raw.compare(0, 2, "\xFF\xFE") != 0) return "";
  std::wstring wide(reinterpret_cast<const wchar_t*>(raw.data() + 2), (raw.size() - 2) / 2);
  int n = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::uint64_t WriteTime(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  FILETIME t{};
  GetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::string IniValue(const std::string& file, const std::string& section, const std::string& key) {
  char buf[1024] = {};
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "(missing)", buf, sizeof buf, file.c_str());
  return buf;
}

}  // namespace e2e
