// mkupdater lint: tells the author of an install.env where the updater will read the file
// differently from what they probably meant. The checks replay the updater's own readers
// (src/config) line by line, so the tool and the program cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdio>

namespace mkupdater {

// Prints one "name:line: warning: ..." or "name:line: error: ..." line per finding to out
// (nothing for a clean file). Returns the number of errors; *warnings (if given) receives
// the number of warnings. A file that cannot be read counts as one error.
int LintInstallEnv(const char* path, std::FILE* out, int* warnings = nullptr);
// The same over bytes in memory; name is used in the messages.
int LintInstallEnvText(const char* name, const void* data, std::size_t size, std::FILE* out,
                       int* warnings = nullptr);
// For "mkupdater build": lints folder/install.env; the build must stop when this is > 0.
int LintFolderInstallEnv(const char* folder, std::FILE* out);

// "mkupdater lint <install.env>...": argv[0] is "lint". Findings go to stdout. Returns the
// exit code: 1 when any file has errors or the call is wrong, else 0 (warnings included).
int RunLintCommand(int argc, char** argv);

}  // namespace mkupdater
