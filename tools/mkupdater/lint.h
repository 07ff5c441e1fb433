// mkupdater lint: tells the author of an install.env where the updater will read the file
// differently from what they probably meant. The checks replay the updater's own readers
// (src/config) line by line, so the tool and the program cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "envtext.h"

namespace mkupdater {

// Prints one "name:line: warning: ..." or "name:line: error: ..." line per finding to out
// (nothing for a clean file). Returns the number of errors; *warnings (if given) receives
// the number of warnings. The bytes are code page 932, as the updater reads them.
int LintInstallEnvText(const char* name, const void* data, std::size_t size, std::FILE* out,
                       int* warnings = nullptr);
// The file as authors save it (UTF-8 or code page 932, envtext.h), decoded and then linted. A
// file that cannot be read or decoded counts as one error. *cp932 (if given) receives what
// the container must store, *encoding what was read.
int LintInstallEnvFile(const std::string& path, std::FILE* out, int* warnings = nullptr,
                       std::string* cp932 = nullptr, EnvEncoding* encoding = nullptr);

// "mkupdater lint <install.env>...": argv[0] is "lint". Findings go to stdout, with a note of
// the encoding read. Returns the exit code: 1 when any file has errors or the call is wrong,
// else 0 (warnings included).
int RunLintCommand(int argc, char** argv);

}  // namespace mkupdater
