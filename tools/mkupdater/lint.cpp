// mkupdater lint: replays both install.env readers of the updater over a file and reports
// every place where the program will read it differently from what the author meant.
//
// The file is split into reads exactly as the updater splits it (config::ReadTextLine: text
// mode, 511 bytes per read). Pass 1 runs the section reader's rules (config::
// ClassifySectionLine) to learn which reads are section lines; pass 2 runs the key reader's
// rules (config::ParseKeyLine, the 400-read limit, "[EOF]") over the rest. Keys are judged
// against config::kKeys, the table the accessors themselves use.
#include "lint.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/cp932.h"
#include "base/paths.h"
#include "config/config.h"
#include "host.h"
#include "names.h"
#include "tool.h"
#include "update/transfers.h"

namespace mkupdater {

namespace {

using config::KeyLineKind;
using config::SectionLineKind;

struct Read {
  int line;          // physical line where the read begins (1-based)
  std::string text;  // the bytes read, at most 511, LF included
  bool continued;    // the rest of a line longer than 511 bytes
};

struct Finding {
  int line;
  bool error;
  std::string text;
};

// What the section reader makes of a read.
enum class Role { Blank, Comment, SectionEof, Close, Header, Content, Outside, Unread };

struct Lint {
  std::vector<Read> reads;
  std::vector<Role> roles;
  std::vector<std::string> owners;  // Content: the name of the section it belongs to
  std::vector<Finding> findings;
  int eofLine = 0;          // line of "[EOF]" for the key reader, 0 for none
  int sectionStopLine = 0;  // line beginning with "EOF" for the section reader, 0 for none
  std::map<std::string, std::pair<int, std::string>> values;  // key: line and value that count
  std::string folder;  // the update folder (UTF-8), "" when the text has none
};

// ---- Texts --------------------------------------------------------------------------------
// Every message of the linter, in one place. %s are already UTF-8 (see Show).
namespace msg {
constexpr char kCannotRead[] = "cannot read the file";
constexpr char kCtrlZ[] = "byte 0x1A ends the file for the updater; the %zu bytes after it are never read";
constexpr char kLongLine[] =
    "line is longer than 511 bytes; the updater reads the rest as a separate line (%s)";
constexpr char kUnclosedAtEnd[] =
    "section [%s] is not closed by a '-' line before the end of the file; the updater reports it and stops";
constexpr char kUnclosedAtEof[] =
    "section [%s] is not closed by a '-' line before the EOF line at line %d; the updater reports it and "
    "stops";
constexpr char kSectionRepeated[] =
    "section [%s] appears again; the updater keeps only the lines after this header (the earlier one at line "
    "%d is dropped)";
constexpr char kSectionSwitched[] =
    "section [%s] begins while [%s] (line %d) is still open; [%s] ends here without its '-' line";
constexpr char kSectionAfterEof[] = "section [%s] comes after the EOF line at line %d and is never read";
constexpr char kUnknownHeader[] = "%s is not a section the updater knows; its lines are ignored";
constexpr char kAfterEof[] = "key %s comes after [EOF] at line %d and is never read";
constexpr char kPastLimit[] = "key %s comes after the 400 lines the updater reads and is never read";
constexpr char kSectionKey[] = "this line of section [%s] is also read as key %s, and its value counts";
constexpr char kIndented[] = "indented line is ignored by the updater (key %s)";
constexpr char kWrongCase[] = "key %s is ignored: keys are case-sensitive, the updater reads %s";
constexpr char kUnknownKey[] = "unknown key %s; the updater never looks it up";
constexpr char kRepeated[] = "key %s repeated; the first, at line %d, counts";
constexpr char kNoValue[] = "key %s has no value; the updater uses its default, %s";
constexpr char kBlankInValue[] =
    "the value of key %s ends at the first blank: the updater reads '%s' and ignores the rest; write | for "
    "each blank: %s %s";
constexpr char kRegForm[] =
    "this [reg] line is not in the form \"Name\"=\"value\" (quotes included); the updater skips it";
constexpr char kIniForm[] =
    "this [ini] line has no '='; the updater writes only key=value lines and skips it";
constexpr char kNeverActedOn[] =
    "the updater reads [%s] but never deletes what it names; only [delfiles_afterinst] deletes files: move "
    "the lines there";
constexpr char kNoVersionPasses[] =
    "CHKREGVER %d is above CHKREGVERHIGH %d: no installed version can pass, and the updater refuses every "
    "player; swap the numbers";
constexpr char kOnlyZeroPasses[] =
    "CHKREG is set but CHKREGVERHIGH is not, so it is 0: every installed version above 0 is told the update "
    "is applied already; set CHKREGVERHIGH";
constexpr char kNoReadme[] =
    "the readme %s is not in the update folder %s; the menu's readme button and the finish step would open "
    "nothing: add it, or set INSTREADMEFL to the file's name";
constexpr char kRelativeIni[] =
    "INI_FILE %s is relative: Windows writes it into the Windows folder (C:\\Windows\\%s), not the install "
    "folder; give a full path, or use [reg]";
constexpr char kOutOfReach[] =
    "the value of key %s begins %zu bytes after the key, more than the 99 the updater looks ahead; the key "
    "is ignored";
constexpr char kTooLong[] = "value of key %s is %zu bytes; the updater keeps only the first %zu%s";
constexpr char kTooLongMenu[] =
    "value of key %s is %zu bytes; the menu keeps only the first %zu (the finish step keeps %zu)%s";
constexpr char kSplitChar[] = ", cutting a double-byte character in two";
constexpr char kNotNumber[] = "value '%s' of key %s is not a number; the updater reads 0";
constexpr char kTrailing[] = "value '%s' of key %s is not a plain number; the updater reads %d";
constexpr char kOutOfRange[] = "value '%s' of key %s does not fit 32 bits; the updater reads %d";
constexpr char kPatternClimbs[] =
    "pattern %s of [delfiles_afterinst] climbs out of the install folder with '..'; the updater skips it";
constexpr char kPatternRooted[] =
    "pattern %s of [delfiles_afterinst] is rooted or names a drive; the updater skips it";
constexpr char kPatternUnsafe[] =
    "pattern %s of [delfiles_afterinst] has an empty or dots-only component; the updater skips it";
constexpr char kUsage[] = "usage: mkupdater lint <install.env>...\n";
}  // namespace msg

// CP932 bytes as UTF-8 for the terminal; text that does not convert, or converts to
// control characters, is shown byte by byte with \xNN escapes.
std::string Show(const char* cp932) {
  std::string utf8;
  if (Cp932ToUtf8(cp932, &utf8) && std::none_of(utf8.begin(), utf8.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      })) {
    return utf8;
  }
  std::string out;
  for (const char* p = cp932; *p != '\0'; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c >= 0x21 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    }
  }
  return out;
}

// What the updater does when the key has no value, for kNoValue.
std::string DefaultOf(const config::KeySpec& spec) {
  if (std::strcmp(spec.name, "KEYFILE") == 0)
    return "no key file: a folder is then never proven by a file, the default folder is not taken by "
           "itself and the registry's install record is trusted without a check";
  if (spec.type == config::KeyType::Integer) return Format("%d", spec.intDefault);
  if (spec.type == config::KeyType::OptionalText) return "none (the setting is not used)";
  std::string shown;
  return Format("'%s'", Cp932ToUtf8(spec.textDefault, &shown) ? shown.c_str() : spec.textDefault);
}

void Add(Lint& lint, int line, bool error, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  lint.findings.push_back({line, error, text});
}

// The first token of a read, for naming the line in messages.
std::string FirstToken(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= 0x20) ++i;
  std::size_t j = i;
  while (j < text.size() && static_cast<unsigned char>(text[j]) > 0x20) ++j;
  return text.substr(i, j - i);
}

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

// The table row whose name matches ignoring ASCII case, or -1.
int FindKeyAnyCase(const char* key) {
  for (int i = 0; i < config::kKeyCount; ++i) {
    if (EqualIgnoringCase(config::kKeys[i].name, key)) return i;
  }
  return -1;
}

// The read as the updater's 512-byte line buffer: zero-filled, then the bytes.
void ToLineBuffer(const std::string& text, char (&line)[config::kLineSize]) {
  std::memset(line, 0, sizeof line);
  std::memcpy(line, text.data(), std::min(text.size(), sizeof line - 1));
}

// ---- Reading ------------------------------------------------------------------------------

// Splits the text into the updater's reads. Returns the line on which reading ended.
int ReadAll(Lint& lint, config::TextSource& src) {
  int line = 1;
  char buf[config::kLineSize];
  for (;;) {
    std::size_t n = config::ReadTextLine(src, buf, sizeof buf);
    if (n == 0) break;
    bool continued = !lint.reads.empty() && lint.reads.back().line == line;
    lint.reads.push_back({line, std::string(buf, n), continued});
    if (buf[n - 1] == '\n') ++line;
  }
  // A line cut into several reads: warn once, at its first piece.
  for (std::size_t i = 0; i + 1 < lint.reads.size(); ++i) {
    if (lint.reads[i + 1].continued && !lint.reads[i].continued) {
      Add(lint, lint.reads[i].line, false, msg::kLongLine,
          Show(FirstToken(lint.reads[i].text).c_str()).c_str());
    }
  }
  return line;
}

// ---- Pass 1: the section reader -----------------------------------------------------------

// A single "[name]" token that is none of the five headers (and not "[EOF]").
bool LooksLikeHeader(const char* line) {
  std::size_t n = std::strlen(line);
  if (n < 3 || line[0] != '[' || line[n - 1] != ']') return false;
  if (std::strncmp(line, "[EOF]", 5) == 0) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(line[i]) <= 0x20) return false;
  }
  return true;
}

// A [delfiles_afterinst] pattern the updater refuses to apply because it could reach outside
// the install folder.
void CheckDeletePattern(Lint& lint, int line, const char* pattern) {
  if (update::IsPatternInsideFolder(pattern)) return;
  const char* format = msg::kPatternUnsafe;
  if (pattern[0] == '\\' || pattern[0] == '/' || paths::FindChar(pattern, ':')) {
    format = msg::kPatternRooted;
  } else {
    for (const char* p = pattern; p != nullptr;) {
      const char* next = paths::FindChar(p, '\\');
      const char* slash = paths::FindChar(p, '/');
      if (slash != nullptr && (next == nullptr || slash < next)) next = slash;
      std::size_t n = next ? static_cast<std::size_t>(next - p) : std::strlen(p);
      if (n == 2 && p[0] == '.' && p[1] == '.') format = msg::kPatternClimbs;
      p = next ? next + 1 : nullptr;
    }
  }
  Add(lint, line, false, format, Show(pattern).c_str());
}

// A line of a section as the update uses it: deletion patterns, [ini] and [reg] lines it
// writes, and the two lists it reads but never uses (said once each).
void CheckSectionLine(Lint& lint, int section, int lineNumber, const char* line,
                      bool (&warned)[config::kSectionCount]) {
  switch (static_cast<config::SectionId>(section)) {
    case config::SectionId::DelfilesAfterInst:
      CheckDeletePattern(lint, lineNumber, line);
      break;
    case config::SectionId::Reg:
      // The updater's own test (update::ParseRegLine): a quoted name, then "=" and a quote.
      if (line[0] != '"' || !paths::FindText(line + 1, "\"=\"")) Add(lint, lineNumber, false, msg::kRegForm);
      break;
    case config::SectionId::Ini:
      if (!paths::FindChar(line, '=')) Add(lint, lineNumber, false, msg::kIniForm);
      break;
    default:
      if (!warned[section]) Add(lint, lineNumber, false, msg::kNeverActedOn, config::kSections[section].name);
      warned[section] = true;
  }
}

void CheckSections(Lint& lint) {
  int current = config::kNoSection;
  int currentLine = 0;
  int headerLine[config::kSectionCount] = {};
  int shadow = config::kNoSection;  // sections after the stop, for naming their lines only
  bool neverActedOnWarned[config::kSectionCount] = {};
  std::string foreign;  // an unknown "[name]" header seen outside every section
  lint.roles.assign(lint.reads.size(), Role::Outside);
  lint.owners.assign(lint.reads.size(), std::string());
  for (std::size_t i = 0; i < lint.reads.size(); ++i) {
    const Read& r = lint.reads[i];
    char line[config::kLineSize];
    ToLineBuffer(r.text, line);
    int id = config::kNoSection;
    SectionLineKind kind = config::ClassifySectionLine(line, &id);
    if (lint.sectionStopLine != 0) {
      if (kind == SectionLineKind::Header) {
        Add(lint, r.line, false, msg::kSectionAfterEof, config::kSections[id].name, lint.sectionStopLine);
        shadow = id;
      } else if (kind == SectionLineKind::Close) {
        shadow = config::kNoSection;
      }
      bool inShadow =
          shadow != config::kNoSection || kind == SectionLineKind::Header || kind == SectionLineKind::Close;
      lint.roles[i] = inShadow ? Role::Unread : Role::Outside;
      continue;
    }
    switch (kind) {
      case SectionLineKind::Empty:
        lint.roles[i] = Role::Blank;
        break;
      case SectionLineKind::Comment:
        lint.roles[i] = Role::Comment;
        break;
      case SectionLineKind::Eof:
        lint.roles[i] = Role::SectionEof;
        lint.sectionStopLine = r.line;
        break;
      case SectionLineKind::Close:
        lint.roles[i] = Role::Close;
        current = config::kNoSection;
        break;
      case SectionLineKind::Header: {
        lint.roles[i] = Role::Header;
        const char* name = config::kSections[id].name;
        if (headerLine[id] != 0) {
          Add(lint, r.line, false, msg::kSectionRepeated, name, headerLine[id]);
        } else if (current != config::kNoSection) {
          const char* open = config::kSections[current].name;
          Add(lint, r.line, false, msg::kSectionSwitched, name, open, currentLine, open);
        }
        headerLine[id] = r.line;
        current = id;
        currentLine = r.line;
        break;
      }
      case SectionLineKind::Text:
        if (current != config::kNoSection) {
          lint.roles[i] = Role::Content;
          lint.owners[i] = config::kSections[current].name;
          CheckSectionLine(lint, current, r.line, line, neverActedOnWarned);
        } else if (LooksLikeHeader(line)) {
          // Not one of the five: the updater ignores it and every line up to the next '-'.
          std::string header = Show(line);
          Add(lint, r.line, false, msg::kUnknownHeader, header.c_str());
          foreign = header.substr(1, header.size() - 2);
          lint.roles[i] = Role::Header;
        } else if (!foreign.empty()) {
          lint.roles[i] = Role::Content;
          lint.owners[i] = foreign;
        }
        break;
    }
    if (kind == SectionLineKind::Close || kind == SectionLineKind::Header) foreign.clear();
  }
  if (current != config::kNoSection) {
    const char* name = config::kSections[current].name;
    if (lint.sectionStopLine != 0) {
      Add(lint, currentLine, true, msg::kUnclosedAtEof, name, lint.sectionStopLine);
    } else {
      Add(lint, currentLine, true, msg::kUnclosedAtEnd, name);
    }
  }
}

// ---- Pass 2: the key reader ---------------------------------------------------------------

// Where the updater cuts a value of length n to fit size - 1 bytes, and whether the cut
// splits a double-byte character.
bool CutSplitsCharacter(const char* value, std::size_t keep) {
  std::size_t i = 0;
  while (i < keep) i += cp932::IsLeadByte(static_cast<unsigned char>(value[i])) ? 2 : 1;
  return i > keep;
}

void CheckValue(Lint& lint, int line, const config::KeySpec& spec, const char* raw) {
  std::string value(raw);
  config::ReplaceBars(value.data());
  std::string key = Show(spec.name);
  if (spec.type == config::KeyType::Integer) {
    int digits = 0;
    const char* end = nullptr;
    int result = config::ConvertDecimal(value.c_str(), &digits, &end);
    std::string shown = Show(value.c_str());
    if (digits == 0) {
      Add(lint, line, false, msg::kNotNumber, shown.c_str(), key.c_str());
      return;
    }
    errno = 0;
    long long wide = std::strtoll(value.c_str(), nullptr, 10);
    if (errno == ERANGE || wide < -2147483648LL || wide > 2147483647LL) {
      Add(lint, line, false, msg::kOutOfRange, shown.c_str(), key.c_str(), result);
    } else if (*end != '\0') {
      Add(lint, line, false, msg::kTrailing, shown.c_str(), key.c_str(), result);
    }
    return;
  }
  std::size_t length = value.size();
  std::size_t keep = spec.size - 1;
  if (length <= keep) return;
  const char* split = CutSplitsCharacter(value.c_str(), keep) ? msg::kSplitChar : "";
  if (spec.largeSize != 0) {
    Add(lint, line, false, msg::kTooLongMenu, key.c_str(), length, keep, std::min(length, spec.largeSize - 1),
        split);
  } else {
    Add(lint, line, false, msg::kTooLong, key.c_str(), length, keep, split);
  }
}

// A key line outside every section, inside the part the updater reads.
void CheckKeyLine(Lint& lint, const Read& r, const std::string& firstToken, char (&line)[config::kLineSize],
                  const config::KeyLine& k, std::map<std::string, int>& firstLine) {
  switch (k.kind) {
    case KeyLineKind::Eof:
      return;
    case KeyLineKind::Skipped:
      // Indented notes are common; an indented key is the likely mistake.
      if (static_cast<unsigned char>(r.text[0]) <= 0x20 && !firstToken.empty() &&
          FindKeyAnyCase(firstToken.c_str()) >= 0) {
        Add(lint, r.line, false, msg::kIndented, Show(firstToken.c_str()).c_str());
      }
      return;
    case KeyLineKind::NoValue: {
      std::string key = Show(k.key);
      std::size_t keyLength = std::strlen(k.key);
      for (std::size_t i = keyLength + 1; i < config::kLineSize; ++i) {
        if (line[i] != '\0') {
          Add(lint, r.line, false, msg::kOutOfReach, key.c_str(), i - keyLength);
          return;
        }
      }
      const int spec = config::FindKeySpec(k.key);
      Add(lint, r.line, false, msg::kNoValue, key.c_str(),
          spec >= 0 ? DefaultOf(config::kKeys[spec]).c_str() : "(none: the key is unknown)");
      return;
    }
    case KeyLineKind::Entry:
      break;
  }
  if (k.key[0] == ';') return;  // the author's comment; stored, never looked up
  std::string key = Show(k.key);
  int spec = config::FindKeySpec(k.key);
  if (spec < 0) {
    int near = FindKeyAnyCase(k.key);
    if (near >= 0) {
      Add(lint, r.line, false, msg::kWrongCase, key.c_str(), config::kKeys[near].name);
    } else {
      Add(lint, r.line, false, msg::kUnknownKey, key.c_str());
    }
    return;
  }
  auto seen = firstLine.find(k.key);
  if (seen != firstLine.end()) {
    Add(lint, r.line, false, msg::kRepeated, key.c_str(), seen->second);
    return;
  }
  firstLine[k.key] = r.line;
  std::string value = k.value;
  config::ReplaceBars(value.data());
  lint.values[k.key] = {r.line, value};
  CheckValue(lint, r.line, config::kKeys[spec], k.value);
  // More words after the value: the reader stops at the first blank.
  const std::size_t at = static_cast<std::size_t>(k.value - line);
  std::string rest = r.text.substr(std::min(at, r.text.size()));
  while (!rest.empty() && static_cast<unsigned char>(rest.back()) <= 0x20) rest.pop_back();
  if (rest.size() > std::strlen(k.value)) {
    for (char& c : rest)
      if (static_cast<unsigned char>(c) <= 0x20) c = '|';
    Add(lint, r.line, false, msg::kBlankInValue, key.c_str(), Show(value.c_str()).c_str(), key.c_str(),
        Show(rest.c_str()).c_str());
  }
}

void CheckKeys(Lint& lint) {
  std::map<std::string, int> firstLine;  // known keys: line of the occurrence that counts
  for (std::size_t i = 0; i < lint.reads.size(); ++i) {
    const Read& r = lint.reads[i];
    Role role = lint.roles[i];
    std::string firstToken = FirstToken(r.text);
    char line[config::kLineSize];
    ToLineBuffer(r.text, line);
    config::KeyLine k = config::ParseKeyLine(line);
    bool read = lint.eofLine == 0 && i < static_cast<std::size_t>(config::kMaxConfigReads);
    if (read && k.kind == KeyLineKind::Eof) {
      lint.eofLine = r.line;
      continue;
    }
    bool keyLike = role == Role::Outside && (k.kind == KeyLineKind::Entry || k.kind == KeyLineKind::NoValue);
    if (!read) {
      if (keyLike && FindKeyAnyCase(k.key) >= 0) {
        std::string key = Show(k.key);
        if (lint.eofLine != 0) {
          Add(lint, r.line, false, msg::kAfterEof, key.c_str(), lint.eofLine);
        } else {
          Add(lint, r.line, false, msg::kPastLimit, key.c_str());
        }
      }
      continue;
    }
    if (role == Role::Content && k.kind == KeyLineKind::Entry && config::FindKeySpec(k.key) >= 0 &&
        firstLine.count(k.key) == 0) {
      firstLine[k.key] = r.line;
      Add(lint, r.line, false, msg::kSectionKey, lint.owners[i].c_str(), Show(k.key).c_str());
      continue;
    }
    if (role != Role::Outside || r.continued) continue;  // pieces: see kLongLine
    CheckKeyLine(lint, r, firstToken, line, k, firstLine);
  }
}

// The value that counts for a key (bars replaced), or nullptr when the key is not set.
const std::pair<int, std::string>* ValueOf(const Lint& lint, const char* key) {
  auto it = lint.values.find(key);
  return it == lint.values.end() ? nullptr : &it->second;
}

int IntegerOf(const Lint& lint, const char* key) {
  const auto* v = ValueOf(lint, key);
  int digits = 0;
  const char* end = nullptr;
  return v ? config::ConvertDecimal(v->second.c_str(), &digits, &end) : 0;
}

// Whether the update folder holds this file (case as Windows ignores it).
bool FolderHas(const std::string& folder, const std::string& cp932) {
  std::string utf8;
  if (!Cp932ToUtf8(cp932, &utf8)) return false;
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  if (host::Exists(folder + "/" + utf8)) return true;
  std::vector<host::DirEntry> listed;
  if (utf8.find('/') != std::string::npos || host::ListFolder(folder, &listed) != 0) return false;
  const std::string want = FoldCase(cp932);
  for (const host::DirEntry& d : listed) {
    std::string cp;
    if (!d.folder && Utf8ToCp932(d.name, &cp) && FoldCase(cp) == want) return true;
  }
  return false;
}

// What the keys mean together, and for the folder they come with.
void CheckMeanings(Lint& lint) {
  if (const auto* gate = ValueOf(lint, "CHKREG")) {
    const auto* high = ValueOf(lint, "CHKREGVERHIGH");
    const int lo = IntegerOf(lint, "CHKREGVER"), hi = IntegerOf(lint, "CHKREGVERHIGH");
    if (lo > hi) {
      Add(lint, high ? high->first : ValueOf(lint, "CHKREGVER")->first, true, msg::kNoVersionPasses, lo, hi);
    } else if (!high) {
      Add(lint, gate->first, false, msg::kOnlyZeroPasses);
    }
  }
  const auto* ini = ValueOf(lint, "INI_FILE");
  if (ini && ini->second[0] != '-' && ini->second[0] != '\\' && ini->second[0] != '/' &&
      ini->second.find(':') == std::string::npos) {
    const std::string shown = Show(ini->second.c_str());
    Add(lint, ini->first, false, msg::kRelativeIni, shown.c_str(), shown.c_str());
  }
  const auto* readme = ValueOf(lint, "INSTREADME");
  if (!lint.folder.empty() && readme && readme->second[0] != '-') {
    const auto* file = ValueOf(lint, "INSTREADMEFL");
    const std::string name = file ? file->second : "readme.txt";
    if (!FolderHas(lint.folder, name))
      Add(lint, file ? file->first : readme->first, true, msg::kNoReadme, Show(name.c_str()).c_str(),
          lint.folder.c_str());
  }
}

int Report(Lint& lint, const char* name, std::FILE* out, int* warnings) {
  std::stable_sort(lint.findings.begin(), lint.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
  int errors = 0;
  int warned = 0;
  for (const Finding& f : lint.findings) {
    (f.error ? errors : warned) += 1;
    if (out != nullptr) {
      std::fprintf(out, "%s:%d: %s: %s\n", name, f.line, f.error ? "error" : "warning", f.text.c_str());
    }
  }
  if (warnings != nullptr) *warnings = warned;
  return errors;
}

int LintSource(const char* name, config::TextSource& src, std::size_t rawSize, std::FILE* out, int* warnings,
               const std::string& folder = "") {
  Lint lint;
  lint.folder = folder;
  int endLine = ReadAll(lint, src);
  if (src.endedByCtrlZ && src.rawConsumed < rawSize) {
    Add(lint, endLine, false, msg::kCtrlZ, rawSize - src.rawConsumed);
  }
  CheckSections(lint);
  CheckKeys(lint);
  CheckMeanings(lint);
  return Report(lint, name, out, warnings);
}

}  // namespace

int LintInstallEnvText(const char* name, const void* data, std::size_t size, std::FILE* out, int* warnings) {
  config::TextSource src = config::MemorySource(data, size);
  return LintSource(name, src, size, out, warnings);
}

int LintInstallEnvFile(const std::string& path, std::FILE* out, int* warnings, std::string* cp932,
                       EnvEncoding* encoding) {
  if (warnings != nullptr) *warnings = 0;
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(path, &bytes) != 0) {
    if (out != nullptr) std::fprintf(out, "%s: error: %s\n", path.c_str(), msg::kCannotRead);
    return 1;
  }
  std::string text, error;
  EnvEncoding read = EnvEncoding::Cp932;
  int line = 0;
  if (DecodeInstallEnv(bytes, &read, &text, &line, &error) != 0) {
    if (out != nullptr) std::fprintf(out, "%s:%d: error: %s\n", path.c_str(), line, error.c_str());
    return 1;
  }
  if (cp932 != nullptr) *cp932 = text;
  if (encoding != nullptr) *encoding = read;
  config::TextSource src = config::MemorySource(text.data(), text.size());
  const std::size_t slash = path.find_last_of("/\\");
  return LintSource(path.c_str(), src, text.size(), out, warnings,
                    slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash));
}

int RunLintCommand(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(msg::kUsage, stderr);
    return kUsageError;
  }
  int errors = 0;
  for (int i = 1; i < argc; ++i) {
    std::string text(1, '\xFF');  // stays so when the file could not be read or decoded
    EnvEncoding encoding = EnvEncoding::Cp932;
    errors += LintInstallEnvFile(argv[i], stdout, nullptr, &text, &encoding);
    if (text != "\xFF")
      std::printf("%s: note: read as %s%s\n", argv[i], EncodingName(encoding),
                  encoding == EnvEncoding::Utf8 || encoding == EnvEncoding::Utf8WithBom
                      ? "; build stores it as code page 932"
                      : "");
  }
  return errors > 0 ? 1 : 0;
}

}  // namespace mkupdater
