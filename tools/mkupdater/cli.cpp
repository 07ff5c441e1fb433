// mkupdater's command line: which command runs, and the usage text.
#include "cli.h"

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "lint.h"
#include "rct_codec.h"

namespace {

const char kUsage[] =
    "usage: mkupdater build --stub <updater.exe> --out <file.exe> [-0 ... -9] <folder>\n"
    "       mkupdater list <file.exe>\n"
    "       mkupdater extract <file.exe> <folder>\n"
    "       mkupdater verify <file.exe>\n"
    "       mkupdater lint <install.env>\n"
    "       mkupdater init <folder> [title.png]\n"
    "       mkupdater rct decode <in.rct> <out.png>\n"
    "       mkupdater rct encode [--variant TC00|TS00|TC01|TS01] [--name TEXT] <in.png> <out.rct>\n";

}  // namespace

namespace mkupdater {

int Main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return mkupdater::kUsageError;
  }
  const char* cmd = argv[1];
  struct Entry {
    const char* name;
    int (*run)(int, char**);
  };
  static const Entry kCommands[] = {
      {"build", mkupdater::RunBuildCommand},     {"list", mkupdater::RunListCommand},
      {"extract", mkupdater::RunExtractCommand}, {"verify", mkupdater::RunVerifyCommand},
      {"lint", mkupdater::RunLintCommand},       {"init", mkupdater::RunInitCommand},
      {"rct", mkupdater::RunRctCommand},
  };
  for (const Entry& e : kCommands)
    if (std::strcmp(cmd, e.name) == 0) return e.run(argc - 1, argv + 1);
  if (std::strcmp(cmd, "--version") == 0) {
    std::printf("mkupdater %s\n", KOVELA_VERSION);
    return 0;
  }
  if (std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fprintf(stderr, "mkupdater: unknown command '%s'\n%s", cmd, kUsage);
  return mkupdater::kUsageError;
}

}  // namespace mkupdater
