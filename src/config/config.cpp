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

// Accessor caches: an empty text or -1 means "not looked up yet". The table does not change
// after start-up, so a kept value and a fresh lookup agree.
char g_text[kKeyCount][kValueSize];
int g_int[kKeyCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
static_assert(sizeof g_int / sizeof g_int[0] == kKeyCount, "one cache per key");
char g_title[kTitleSize];

constexpr bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

constexpr int KeyIndex(const char* name) {
  for (int i = 0; i < kKeyCount; ++i) {
    if (SameText(kKeys[i].name, name)) return i;
  }
  return -1;
}

constexpr bool BuffersFit() {
  for (const KeySpec& k : kKeys) {
    if (k.size > kValueSize) return false;
  }
  return true;
}
static_assert(BuffersFit(), "cached accessor buffers are kValueSize bytes");

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

const char* TextValue(int index) {
  const KeySpec& k = kKeys[index];
  char* buf = g_text[index];
  if (k.cached && buf[0] != '\0') return buf;
  return GetConfigString(k.name, buf, k.size, k.textDefault);
}

int IntValue(int index) {
  if (g_int[index] == -1) g_int[index] = GetConfigInt(kKeys[index].name, kKeys[index].intDefault);
  return g_int[index];
}

constexpr int kRegGlobal = KeyIndex("REG_GLOBAL");
constexpr int kRegLocal = KeyIndex("REG_LOCAL");
constexpr int kIniFile = KeyIndex("INI_FILE");
constexpr int kIniSection = KeyIndex("INI_SECTION");
constexpr int kTitleBar = KeyIndex("TITLEBAR");
constexpr int kInstTo = KeyIndex("INSTTO");
constexpr int kInstFol = KeyIndex("INSTFOL");
constexpr int kInstMakeFol = KeyIndex("INSTMAKEFOL");
constexpr int kKeyFile = KeyIndex("KEYFILE");
constexpr int kChkReg = KeyIndex("CHKREG");
constexpr int kChkRegVer = KeyIndex("CHKREGVER");
constexpr int kChkRegVerHigh = KeyIndex("CHKREGVERHIGH");
constexpr int kInstReadme = KeyIndex("INSTREADME");
constexpr int kInstReadmeFl = KeyIndex("INSTREADMEFL");
static_assert(kRegGlobal >= 0 && kRegLocal >= 0 && kIniFile >= 0 && kIniSection >= 0 && kTitleBar >= 0 &&
                  kInstTo >= 0 && kInstFol >= 0 && kInstMakeFol >= 0 && kKeyFile >= 0 && kChkReg >= 0 &&
                  kChkRegVer >= 0 && kChkRegVerHigh >= 0 && kInstReadme >= 0 && kInstReadmeFl >= 0,
              "every accessor has its row in kKeys");

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

const char* RegGlobal() { return TextValue(kRegGlobal); }
const char* RegLocal() { return TextValue(kRegLocal); }
const char* IniFile() { return TextValue(kIniFile); }
const char* IniSection() { return TextValue(kIniSection); }
const char* TitleBar() { return TextValue(kTitleBar); }
const char* InstTo() { return TextValue(kInstTo); }
const char* InstFol() { return TextValue(kInstFol); }
int InstMakeFol() { return IntValue(kInstMakeFol); }
const char* KeyFile() { return TextValue(kKeyFile); }
const char* ChkReg() { return TextValue(kChkReg); }
int ChkRegVer() { return IntValue(kChkRegVer); }
int ChkRegVerHigh() { return IntValue(kChkRegVerHigh); }

char* InstReadme(char* buf, std::size_t size) {
  return GetConfigString(kKeys[kInstReadme].name, buf, size, kKeys[kInstReadme].textDefault);
}

char* InstReadmeFl(char* buf, std::size_t size) {
  return GetConfigString(kKeys[kInstReadmeFl].name, buf, size, kKeys[kInstReadmeFl].textDefault);
}

const char* UpdaterTitle() {
  std::snprintf(g_title, sizeof g_title, text::kUpdaterTitle, TitleBar());
  return g_title;
}

void ResetSectionsForTests();  // sections.cpp

// Empties the table, the section lists and every cache, and forgets the exit-action
// registration (native tests).
void ResetForTests() {
  FreeSetupConfig();
  g_freeRegistered = false;
  for (int i = 0; i < kKeyCount; ++i) {
    g_text[i][0] = '\0';
    g_int[i] = -1;
  }
  g_title[0] = '\0';
  ResetSectionsForTests();
}

}  // namespace config
