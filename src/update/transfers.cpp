// INI and registry transfers with their token substitution.
#include "update/transfers.h"

#include <cstdio>
#include <cstring>

#include "base/cp932.h"
#include "base/paths.h"
#include "config/config.h"
#include "platform/platform.h"
#include "update/ini.h"

namespace update {
namespace {

constexpr char kInstallToken[] = "REP_INSTALL";
constexpr char kIniCdromToken[] = "REP_CDROMDRIVE";
constexpr char kRegCdromToken[] = "REP_CDROM";
constexpr char kNoCdrom[] = "E:\\";
constexpr char kQuotedEquals[] = "\"=\"";

// Module-level work buffers: each operation returns a pointer into its own.
char g_install[kLineSize];
bool g_installRecorded = false;
char g_cdrom[4];
char g_ini[kLineSize];
char g_reg[kLineSize];
char g_unescaped[kLineSize];

using cp932::CharLength;

// Copies text into a line buffer; false when it does not fit.
bool CopyLine(char (&out)[kLineSize], const char* text) {
  std::size_t n = std::strlen(text);
  if (n >= kLineSize) return false;
  std::memcpy(out, text, n + 1);
  return true;
}

// Replaces the first occurrence of token in buf by replacement; false when the result
// would not fit (buf is then left as it was).
bool ReplaceFirst(char (&buf)[kLineSize], const char* token, const char* replacement) {
  char* at = const_cast<char*>(paths::FindText(buf, token));
  if (!at) return true;
  std::size_t len = std::strlen(buf), tl = std::strlen(token), rl = std::strlen(replacement);
  if (len - tl + rl >= kLineSize) return false;
  std::memmove(at + rl, at + tl, std::strlen(at + tl) + 1);
  std::memcpy(at, replacement, rl);
  return true;
}

const char* Substitute(char (&buf)[kLineSize], const char* line, const char* cdromToken) {
  if (!CopyLine(buf, line)) return nullptr;
  if (paths::FindText(buf, cdromToken) && !ReplaceFirst(buf, cdromToken, FindCdromRoot())) return nullptr;
  if (paths::FindText(buf, kInstallToken) &&
      (!g_installRecorded || !ReplaceFirst(buf, kInstallToken, g_install)))
    return nullptr;
  return buf;
}

// Copies [from, to) into out (which is large enough: the source came from a line buffer).
void CopyRange(char (&out)[kLineSize], const char* from, const char* to) {
  std::size_t n = static_cast<std::size_t>(to - from);
  std::memcpy(out, from, n);
  out[n] = '\0';
}

// Start of the text's last character, double-byte aware; the terminator for an empty text.
const char* LastCharacter(const char* s) {
  const char* last = s;
  for (const char* p = s; *p; p += CharLength(p)) last = p;
  return last;
}

}  // namespace

int RecordInstallFolder(const char* folder) {
  g_installRecorded = CopyLine(g_install, folder);
  if (!g_installRecorded) g_install[0] = '\0';
  return g_installRecorded ? 0 : -1;
}

const char* FindCdromRoot() {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::snprintf(g_cdrom, sizeof g_cdrom, "%c:\\", letter);
    if (plat::DriveType(g_cdrom) == plat::kDriveCdrom) return g_cdrom;
  }
  return kNoCdrom;
}

const char* SubstituteIniTokens(const char* line) { return Substitute(g_ini, line, kIniCdromToken); }

const char* SubstituteRegTokens(const char* line) { return Substitute(g_reg, line, kRegCdromToken); }

const char* UnescapeRegLine(const char* line) {
  if (std::strlen(line) >= kLineSize) return nullptr;
  std::size_t out = 0;
  for (const char* p = line; *p;) {
    if (*p == '\\') {
      ++p;  // the backslash goes; the character after it stays as it is
      if (!*p) break;
    }
    std::size_t n = CharLength(p);
    std::memcpy(g_unescaped + out, p, n);
    out += n;
    p += n;
  }
  g_unescaped[out] = '\0';
  return g_unescaped;
}

int ParseIniLine(const char* line, char (&key)[kLineSize], char (&value)[kLineSize]) {
  if (!paths::FindChar(line, '=')) return kNotALine;
  const char* s = SubstituteIniTokens(line);
  if (!s) return kTooLong;
  // The install folder may end in a lone lead byte that takes the '=' as its trail byte.
  const char* eq = paths::FindChar(s, '=');
  if (!eq) return kNotALine;
  CopyRange(key, s, eq);
  CopyRange(value, eq + 1, eq + 1 + std::strlen(eq + 1));
  return kParsed;
}

int ParseRegLine(const char* line, char (&name)[kLineSize], char (&value)[kLineSize]) {
  if (!paths::FindText(line, kQuotedEquals)) return kNotALine;
  const char* u = UnescapeRegLine(line);
  const char* s = u ? SubstituteRegTokens(u) : nullptr;
  if (!s) return kTooLong;
  // The first character is the name's opening quote.
  const char* sep = s[0] ? paths::FindText(s + CharLength(s), kQuotedEquals) : nullptr;
  if (!sep) return kNotALine;
  CopyRange(name, s + CharLength(s), sep);
  const char* v = sep + std::strlen(kQuotedEquals);
  CopyRange(value, v, LastCharacter(v));  // without the closing quote
  return kParsed;
}

int WriteUserRegString(const char* global, const char* local, const char* name, const char* data) {
  char key[kLineSize];
  int n = std::snprintf(key, sizeof key, config::kAppKeyFormat, global, local);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof key) return -1;  // never a cut-short key
  return plat::RegSetString(plat::RegRoot::CurrentUser, key, name, data);
}

void TransferIniLines() {
  // Both values are cached by the configuration; copy them since they are used per line.
  char file[kLineSize], section[kLineSize];
  if (!CopyLine(file, config::IniFile()) || !CopyLine(section, config::IniSection())) return;
  if (file[0] == '-') return;
  char key[kLineSize], value[kLineSize];
  for (const config::SectionLine* n = config::Section(config::SectionId::Ini); n; n = n->next) {
    if (ParseIniLine(n->text, key, value) == kParsed) WriteIniEntry(section, key, value, file);
  }
}

void TransferRegLines() {
  char global[kLineSize], local[kLineSize];
  if (!CopyLine(global, config::RegGlobal()) || !CopyLine(local, config::RegLocal())) return;
  if (global[0] == '-') return;
  char name[kLineSize], value[kLineSize];
  for (const config::SectionLine* n = config::Section(config::SectionId::Reg); n; n = n->next) {
    if (ParseRegLine(n->text, name, value) == kParsed) WriteUserRegString(global, local, name, value);
  }
}

}  // namespace update
