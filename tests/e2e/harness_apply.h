// Helpers for the whole-update tests under Wine: the installation record and the values the
// update writes, file times, and a registry export in code page 932.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// HKEY_LOCAL_MACHINE\Software\<global>\<local>: "IsInst"="1", "InstTo"=folder, as the
// application's installer leaves them.
void WriteInstallRecord(const std::string& global, const std::string& local,
                        const std::string& folder);
// Removes Software\<global> with everything below it from both roots.
void DeleteSoftwareKey(const std::string& global);

struct RegValue {
  std::string name;
  DWORD type = 0;
  std::string data;  // REG_SZ without its terminator; other types as raw bytes
  bool operator==(const RegValue& o) const {
    return name == o.name && type == o.type && data == o.data;
  }
};
// Every value of HKEY_CURRENT_USER\<key>, sorted by name; empty when the key is missing.
std::vector<RegValue> UserValues(const std::string& key);
void SetUserString(const std::string& key, const std::string& name, const std::string& data);
void SetUserDword(const std::string& key, const std::string& name, DWORD value);

// Exports HKEY_CURRENT_USER\<key> with regedit /e (UTF-16LE) and returns the file converted
// to code page 932, without the byte order mark, lines ending in LF.
std::string ExportUserKeyCp932(const std::string& key);

// Last-write time as a FILETIME value; 0 when the file cannot be opened.
std::uint64_t WriteTime(const std::string& path);
std::string IniValue(const std::string& file, const std::string& section, const std::string& key);

}  // namespace e2e
