// The keyed settings of install.env: the reader, the table, lookups and the per-key accessors.
#include "config/config.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/blocks.h"
#include "base/files.h"
#include "platform/platform.h"

namespace config {

namespace {

// One setting in file order. Key and value live in the same heap block, after the record.
struct ConfigEntry {
  char* key;
  char* value;
  ConfigEntry* next;
};

ConfigEntry* g_first = nullptr;
ConfigEntry* g_last = nullptr;
bool g_freeRegistered = false;

// Each text key's value, as its accessor last gave it.
char g_text[kKeyCount][kValueSize];
char g_title[kTitleSize];

void AppendEntry(const char* key, const char* value) {
  std::size_t keyLength = std::strlen(key);
  std::size_t valueLength = std::strlen(value);
  auto* block = static_cast<char*>(base::AllocBlock(sizeof(ConfigEntry) + keyLength + 1 + valueLength + 1));
  auto* entry = reinterpret_cast<ConfigEntry*>(block);
  entry->key = block + sizeof(ConfigEntry);
  entry->value = entry->key + keyLength + 1;
  entry->next = nullptr;
  std::memcpy(entry->key, key, keyLength + 1);
  std::memcpy(entry->value, value, valueLength + 1);
  ReplaceBars(entry->value);
  if (g_last != nullptr) {
    g_last->next = entry;
  } else {
    g_first = entry;
  }
  g_last = entry;
}

void RegisterFreeOnce() {
  if (g_freeRegistered) return;
  g_freeRegistered = true;
  plat::AtExit(FreeSetupConfig);
}

// The keyed part ends at "[EOF]", at the end of the file or after kMaxConfigReads reads;
// blank and comment lines count as reads too.
void ReadKeyLines(TextSource& src) {
  for (int reads = 0; reads < kMaxConfigReads; ++reads) {
    char line[kLineSize] = {};
    if (ReadTextLine(src, line, sizeof line) == 0) break;
    KeyLine k = ParseKeyLine(line);
    if (k.kind == KeyLineKind::Eof) break;
    if (k.kind == KeyLineKind::Entry) AppendEntry(k.key, k.value);
  }
}

const char* FindValue(const char* key) {
  if (key == nullptr) return nullptr;
  for (const ConfigEntry* e = g_first; e != nullptr; e = e->next) {
    if (std::strcmp(e->key, key) == 0) return e->value;
  }
  return nullptr;
}

}  // namespace

int LoadSetupConfig(const char* path) {
  RegisterFreeOnce();
  base::File file(base::Ffopen(path, "rb"));
  if (!file) return -1;  // Ffopen ends the run instead; kept for safety
  TextSource src = FileSource(file.get());
  ReadKeyLines(src);
  return 0;
}

int LoadSetupConfigFromMemory(const void* data, std::size_t size) {
  RegisterFreeOnce();
  TextSource src = MemorySource(data, size);
  ReadKeyLines(src);
  return 0;
}

char* GetConfigString(const char* key, char* buf, std::size_t size, const char* def) {
  if (buf == nullptr || size == 0) return buf;
  const char* value = FindValue(key);
  if (value == nullptr) value = def != nullptr ? def : "";
  // Cut by bytes to size - 1; a double-byte character may be split, as the callers expect.
  std::size_t n = 0;
  while (n + 1 < size && value[n] != '\0') {
    buf[n] = value[n];
    ++n;
  }
  buf[n] = '\0';
  return buf;
}

int GetConfigInt(const char* key, int def) {
  const char* value = FindValue(key);
  return value != nullptr ? ConvertDecimal(value, nullptr, nullptr) : def;
}

void FreeSetupConfig() {
  ConfigEntry* e = g_first;
  while (e != nullptr) {
    ConfigEntry* next = e->next;
    std::free(e);
    e = next;
  }
  g_first = nullptr;
  g_last = nullptr;
}

char* Text(Key key, char* buf, std::size_t size) {
  const KeySpec& k = kKeys[static_cast<int>(key)];
  return GetConfigString(k.name, buf, size, k.textDefault);
}

const char* Text(Key key) {
  const int i = static_cast<int>(key);
  return Text(key, g_text[i], kKeys[i].size);
}

int Integer(Key key) {
  return GetConfigInt(kKeys[static_cast<int>(key)].name, kKeys[static_cast<int>(key)].intDefault);
}

const char* UpdaterTitle() {
  std::snprintf(g_title, sizeof g_title, text::kUpdaterTitle, TitleBar());
  return g_title;
}

void ResetSectionsForTests();  // sections.cpp

// Empties the table, the section lists and the accessors' buffers, and forgets the exit-action
// registration (native tests).
void ResetForTests() {
  FreeSetupConfig();
  g_freeRegistered = false;
  for (auto& text : g_text) text[0] = '\0';
  g_title[0] = '\0';
  ResetSectionsForTests();
}

}  // namespace config
