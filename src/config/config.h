// The setup configuration file install.env: its keyed settings and its line sections.
//
// install.env is read twice, by two independent readers over the same text:
//   LoadSetupConfig    keyed settings "KEY VALUE [comment]" into a table, up to "[EOF]";
//   LoadSetupSections  the raw lines of the "[ini]", "[reg]", ... sections, up to "EOF".
// Both read the file in Windows text mode (CR LF is one LF, a 0x1A byte ends the file) through
// the portable TextSource below, so that native tests, mkupdater lint and the product see the
// same lines. Everything is loaded once at start-up and only read afterwards.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/platform.h"

namespace config {

constexpr std::size_t kLineSize = 512;   // line buffer: at most 511 bytes per read
constexpr std::size_t kValueSize = 128;  // the usual accessor buffer
constexpr int kMaxConfigReads = 400;     // LoadSetupConfig stops after this many reads
constexpr std::size_t kValueReach = 99;  // a value must begin within this many bytes of the key's end
constexpr std::size_t kTitleSize = plat::kMaxPath;  // UpdaterTitle: also the mutex name
// The application's registry key under HKEY_CURRENT_USER: REG_GLOBAL, then REG_LOCAL.
constexpr char kAppKeyFormat[] = "Software\\%s\\%s";

// ---- Text-mode line source ----------------------------------------------------------------

// A file or memory block read as a Windows text-mode stream. Either file or data is set.
struct TextSource {
  std::FILE* file = nullptr;            // a binary stream (not owned)
  const unsigned char* data = nullptr;  // or a block of bytes
  std::size_t size = 0;
  std::size_t pos = 0;
  int pending = -2;             // one byte of look-ahead after a CR; -2 for none
  bool ended = false;           // end of file or 0x1A seen
  bool endedByCtrlZ = false;    // the end came from a 0x1A byte
  std::size_t rawConsumed = 0;  // raw bytes taken from the file or block
};

TextSource FileSource(std::FILE* file);
TextSource MemorySource(const void* data, std::size_t size);
// One line as fgets(buf, size) reads it in text mode: at most size - 1 bytes, the LF
// included; buf is NUL-terminated. Returns the number of bytes stored (embedded NULs
// included), 0 at the end of the file.
std::size_t ReadTextLine(TextSource& src, char* buf, std::size_t size);

// ---- Key lines ----------------------------------------------------------------------------

enum class KeyLineKind {
  Eof,      // begins with "[EOF]": the keyed part ends
  Skipped,  // begins with a byte <= 0x20 or with '/'
  NoValue,  // a key but no value token begins within reach
  Entry,    // key and value
};

struct KeyLine {
  KeyLineKind kind = KeyLineKind::Skipped;
  const char* key = nullptr;    // NUL-terminated, inside the buffer (NoValue and Entry)
  const char* value = nullptr;  // NUL-terminated, inside the buffer, '|' not yet replaced
};

// Splits one line buffer (kLineSize bytes, zero-filled beyond the line) into key and value.
// Every byte <= 0x20 of the buffer becomes 0. See config.cpp for the layout.
KeyLine ParseKeyLine(char (&line)[kLineSize]);
// Replaces every '|' by a space, stepping over double-byte characters.
void ReplaceBars(char* value);
// The C library's decimal conversion (white space, sign, digits; no range check: the
// 32-bit result wraps). *digits receives the number of digits used, *end the first byte
// after them (either may be null).
int ConvertDecimal(const char* text, int* digits, const char** end);

// ---- Sections -----------------------------------------------------------------------------

enum class SectionId { Delfiles, DelfilesUser, Ini, Reg, DelfilesAfterInst };
constexpr int kSectionCount = 5;
constexpr int kNoSection = -1;

struct SectionSpec {
  const char* header;  // the line begins with this
  const char* name;    // the section's name in messages
};
inline constexpr SectionSpec kSections[kSectionCount] = {
    {"[delfiles]", "delfiles"}, {"[delfiles_user]", "delfiles_user"},           {"[ini]", "ini"},
    {"[reg]", "reg"},           {"[delfiles_afterinst]", "delfiles_afterinst"},
};

enum class SectionLineKind {
  Empty,    // nothing left after trimming
  Comment,  // begins with "//" or ";"
  Eof,      // begins with "EOF": the section reader stops
  Close,    // begins with "-": no section is current any more
  Header,   // begins with one of the five headers (*section set)
  Text,     // anything else: content when a section is current
};

// Removes every trailing byte <= 0x20 of the NUL-terminated line in place and classifies it.
SectionLineKind ClassifySectionLine(char* line, int* section);

struct SectionLine {
  char* text;         // the raw line, trailing bytes <= 0x20 removed
  SectionLine* next;  // or nullptr
};

// ---- Keys ---------------------------------------------------------------------------------
// Every key the updater reads, in one table: its name, its kind, its default and the buffer
// its value is cut to. A new key is a Key and its row; Text and Integer read it.

enum class Key {
  RegGlobal,
  RegLocal,
  IniFile,
  IniSection,
  TitleBar,
  InstTo,
  InstFol,
  InstMakeFol,
  KeyFile,
  ChkReg,
  ChkRegVer,
  ChkRegVerHigh,
  InstReadme,
  InstReadmeFl,
};

enum class KeyType { Text, OptionalText, Integer };

struct KeySpec {
  Key key;
  const char* name;
  KeyType type;
  const char* textDefault;  // Text: the default; OptionalText: "" (absent)
  int intDefault;           // Integer
  std::size_t size;         // the value's buffer (the smaller one where callers differ); 0: integer
  std::size_t largeSize;    // the larger caller buffer, or 0
};

inline constexpr KeySpec kKeys[] = {
    {Key::RegGlobal, "REG_GLOBAL", KeyType::Text, "-", 0, kValueSize, 0},
    {Key::RegLocal, "REG_LOCAL", KeyType::Text, "-", 0, kValueSize, 0},
    {Key::IniFile, "INI_FILE", KeyType::Text, "-", 0, kValueSize, 0},
    {Key::IniSection, "INI_SECTION", KeyType::Text, "-", 0, kValueSize, 0},
    {Key::TitleBar, "TITLEBAR", KeyType::Text, "ＫＯＶＥＬＡ アプリケーション", 0, kValueSize, 0},
    {Key::InstTo, "INSTTO", KeyType::Text, "KOVELA_APP", 0, kValueSize, 0},
    {Key::InstFol, "INSTFOL", KeyType::OptionalText, "", 0, kValueSize, 0},
    {Key::InstMakeFol, "INSTMAKEFOL", KeyType::Integer, nullptr, 0, 0, 0},
    {Key::KeyFile, "KEYFILE", KeyType::OptionalText, "", 0, kValueSize, 0},
    {Key::ChkReg, "CHKREG", KeyType::OptionalText, "", 0, kValueSize, 0},
    {Key::ChkRegVer, "CHKREGVER", KeyType::Integer, nullptr, 0, 0, 0},
    {Key::ChkRegVerHigh, "CHKREGVERHIGH", KeyType::Integer, nullptr, 0, 0, 0},
    {Key::InstReadme, "INSTREADME", KeyType::Text, "-", 0, kValueSize, kLineSize},
    {Key::InstReadmeFl, "INSTREADMEFL", KeyType::Text, "readme.txt", 0, kValueSize, kLineSize},
};
constexpr int kKeyCount = static_cast<int>(sizeof kKeys / sizeof kKeys[0]);

constexpr bool KeyRowsInOrder() {
  for (int i = 0; i < kKeyCount; ++i)
    if (static_cast<int>(kKeys[i].key) != i || kKeys[i].size > kValueSize) return false;
  return true;
}
static_assert(KeyRowsInOrder(), "kKeys holds one row per Key, in the Key's order, within kValueSize");

// Index into kKeys of the key spelled exactly so, or -1.
int FindKeySpec(const char* name);

// ---- Loading ------------------------------------------------------------------------------

// Reads the keyed settings; opens through base::Ffopen (retry box). Returns 0. The first
// load registers FreeSetupConfig as an exit action.
int LoadSetupConfig(const char* path);
int LoadSetupConfigFromMemory(const void* data, std::size_t size);
// Reads the five sections. 0, or -1 when the file cannot be opened or a section is still
// open where reading stops (the caller reports it; the lists read so far stay).
struct SectionFailure {
  enum Kind { CannotOpen, NotClosed } kind = CannotOpen;
  int section = kNoSection;  // NotClosed: the section left open
};
int LoadSetupSections(const char* path, SectionFailure* failure);
int LoadSetupSectionsFromMemory(const void* data, std::size_t size, SectionFailure* failure);

// First value of the key (exact, case-sensitive) or def, cut to size - 1 bytes.
char* GetConfigString(const char* key, char* buf, std::size_t size, const char* def);
int GetConfigInt(const char* key, int def);
void FreeSetupConfig();

// First node of a section's list, or nullptr when it is empty.
const SectionLine* Section(SectionId id);

// ---- Accessors ----------------------------------------------------------------------------
// A text key's value (or its default; "" for an optional key that is absent), cut to its
// row's size, in a buffer of the key's own that stays valid until the key is read again.
const char* Text(Key key);
// The same into the caller's buffer (the readme's keys: 128 bytes in the menu, 512 after the
// update).
char* Text(Key key, char* buf, std::size_t size);
int Integer(Key key);
// "%s アップデータ" with the TITLEBAR value, built anew on every call.
const char* UpdaterTitle();

// The keys by name, for the callers that read them so.
inline const char* RegGlobal() { return Text(Key::RegGlobal); }
inline const char* RegLocal() { return Text(Key::RegLocal); }
inline const char* IniFile() { return Text(Key::IniFile); }
inline const char* IniSection() { return Text(Key::IniSection); }
inline const char* TitleBar() { return Text(Key::TitleBar); }
inline const char* InstTo() { return Text(Key::InstTo); }
inline const char* InstFol() { return Text(Key::InstFol); }
inline int InstMakeFol() { return Integer(Key::InstMakeFol); }
inline const char* KeyFile() { return Text(Key::KeyFile); }
inline const char* ChkReg() { return Text(Key::ChkReg); }
inline int ChkRegVer() { return Integer(Key::ChkRegVer); }
inline int ChkRegVerHigh() { return Integer(Key::ChkRegVerHigh); }
inline char* InstReadme(char* buf, std::size_t size) { return Text(Key::InstReadme, buf, size); }
inline char* InstReadmeFl(char* buf, std::size_t size) { return Text(Key::InstReadmeFl, buf, size); }

// Texts of the configuration subsystem, in one place.
namespace text {
extern const char kCannotOpen[];        // %s: the path
extern const char kSectionNotClosed[];  // %s: the section's name
extern const char kUpdaterTitle[];      // "%s アップデータ"
}  // namespace text

}  // namespace config
