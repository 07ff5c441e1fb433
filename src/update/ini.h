// INI files, written as a Japanese Windows writes them: code page 932 bytes, whatever the
// system's code page is (the game reads them that way). WritePrivateProfileStringW would write
// an ANSI file in the system's code page instead.
#pragma once

#include <cstddef>

namespace update {

// Sets key=value in [section] of the INI file, as WritePrivateProfileString does: the file is
// made when missing; an existing entry (key and section compared without ASCII case, around
// blanks) takes the new value; a new entry goes after the section's last entry; a new section
// goes at the end. Other lines, comments and line ends stay as they are. A bare file name is
// taken from the Windows folder, any other path as it stands. 0, or -1 when the file cannot be
// read or written (or is a UTF-16 file, which this writer leaves alone).
int WriteIniEntry(const char* section, const char* key, const char* value, const char* file);

// The edit itself: the file's bytes in, the new bytes into out, which has room for
// IniEditRoom(...) bytes; returns their length.
std::size_t IniEditRoom(std::size_t size, const char* section, const char* key, const char* value);
std::size_t EditIni(const char* in, std::size_t size, const char* section, const char* key, const char* value,
                    char* out);

}  // namespace update
