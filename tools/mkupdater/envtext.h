// install.env as authors save it: UTF-8 (with or without a byte-order mark) or code page 932.
// The updater reads code page 932 only, so a UTF-8 file is converted line by line; a
// character with no code page 932 form, or bytes that are text in neither encoding, are
// refused with their line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkupdater {

enum class EnvEncoding { Ascii, Cp932, Utf8, Utf8WithBom };

// "ASCII", "code page 932", "UTF-8", "UTF-8 with a byte-order mark".
const char* EncodingName(EnvEncoding encoding);

// The file's bytes as the updater must get them (*cp932; unchanged for ASCII and code page
// 932 files). 0, or -1 with *line (1-based) and *error telling what is wrong and what to do.
int DecodeInstallEnv(const std::vector<std::uint8_t>& raw, EnvEncoding* encoding, std::string* cp932,
                     int* line, std::string* error);

}  // namespace mkupdater
