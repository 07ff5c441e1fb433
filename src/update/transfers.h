// After the files are in place: the INI and registry transfers with their token
// substitution, and the deletion of leftovers. Portable; every text is CP932 and every scan
// steps over double-byte characters as units.
//
// Tokens: "REP_INSTALL" becomes the install folder recorded by RecordInstallFolder;
// "REP_CDROMDRIVE" ([ini]) or "REP_CDROM" ([reg]) becomes the root of the first CD-ROM drive.
// Only the first occurrence of each token is replaced.
//
// A line whose substituted or unescaped text would not fit its 512-byte buffer is skipped
// as a whole: nothing cut short is ever written into an INI file or the registry.
#pragma once

#include <cstddef>

#include "config/config.h"
#include "payload/container.h"

namespace update {

using config::kLineSize;  // 511 bytes of text and the terminator

// Results of the line parsers.
constexpr int kParsed = 0;
constexpr int kNotALine = -1;  // no separator: the line is not meant to be written
constexpr int kTooLong = -2;   // the substituted text would not fit: the line is skipped

// The text that replaces "REP_INSTALL" from now on. -1 when it cannot be held; lines that
// use the token are then skipped.
int RecordInstallFolder(const char* folder);

// "Q:\" for the first CD-ROM drive (A to Z), else "E:\". Asked afresh at every call.
const char* FindCdromRoot();

// The substituted line in a buffer of the operation's own (valid until its next call), or
// nullptr when the result would exceed 511 bytes.
const char* SubstituteIniTokens(const char* line);  // REP_CDROMDRIVE, then REP_INSTALL
const char* SubstituteRegTokens(const char* line);  // REP_CDROM, then REP_INSTALL
// Removes every backslash and keeps the character after it: "\\" gives "\", "\"" gives the
// quote, a final lone backslash disappears. nullptr when the line exceeds 511 bytes.
const char* UnescapeRegLine(const char* line);

// "key=value": the key before the first "=", the value after it, both after substitution;
// nothing trimmed.
int ParseIniLine(const char* line, char (&key)[kLineSize], char (&value)[kLineSize]);
// A string value as a registry export writes it: "name"="value", unescaped, then
// substituted. Lines without the quoted-equals separator (dword and other typed values,
// the default value "@=", key lines) are not lines to write.
int ParseRegLine(const char* line, char (&name)[kLineSize], char (&value)[kLineSize]);

// Sets a REG_SZ value under HKEY_CURRENT_USER\Software\<global>\<local>. 0 / -1.
int WriteUserRegString(const char* global, const char* local, const char* name, const char* data);

// Every [ini] line into INI_FILE, section INI_SECTION, unless INI_FILE begins with "-".
void TransferIniLines();
// Every [reg] line into the application's key, unless REG_GLOBAL begins with "-".
void TransferRegLines();

// True when a [delfiles_afterinst] pattern stays inside the folder it is applied to:
// relative, without a drive or any ':', and without a component made only of dots and
// spaces ("..", and what Windows shortens to it): the container reader's rule for names.
inline bool IsPatternInsideFolder(const char* pattern) { return payload::IsSafeEntryName(pattern, false); }
// For each [delfiles_afterinst] line: delete the matching files inside the install folder,
// then try to remove the folder named by the line's first component (only when empty).
// Patterns that could reach outside the install folder are skipped.
void DeleteAfterInstallFiles(const char* installFolder);

}  // namespace update
