// mkupdater's command line: which command runs, --help for the tool and for each command,
// and --version.
#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "lint.h"
#include "rct_codec.h"
#include "tool.h"

namespace mkupdater {
namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;  // one line for the overview
  const char* help;     // `mkupdater <command> --help`
};

const Command kCommands[] = {
    {"init", RunInitCommand, "start an update folder: a commented install.env and a title picture",
     "usage: mkupdater init <folder> [title.png]\n\n"
     "Makes <folder> (when missing) with a commented install.env (UTF-8) and insttscr.rct, the\n"
     "title picture of the updater's menu, made from title.png (any PNG; the menu shows 256 x 256) or\n"
     "plain dark when none is given. Nothing that exists is overwritten.\n"},
    {"lint", RunLintCommand, "check install.env as the updater will read it",
     "usage: mkupdater lint <install.env>...\n\n"
     "Reads each file as the updater will (UTF-8 or code page 932; the note says which) and prints\n"
     "one line per place where the updater reads it differently from what was probably meant:\n"
     "<file>:<line>: warning|error: ... Exit code 1 when a file has errors, which build refuses.\n"},
    {"build", RunBuildCommand, "pack a folder into an updater",
     "usage: mkupdater build --stub <updater.exe> --out <file.exe> [options] <folder>\n\n"
     "Packs everything in <folder> into a copy of updater.exe; the update puts it into the install\n"
     "folder as it lies in <folder>. The folder needs install.env and insttscr.rct (see init);\n"
     "install.env is checked as lint checks it and stored as code page 932.\n\n"
     "  --stub <updater.exe>  the updater program to copy\n"
     "  --out <file.exe>      the updater to write (replaced only when the build succeeds)\n"
     "  --base <folder>       the previous release: pack only the files that changed (and the\n"
     "                        start-up files), and delete from the install folder the files that\n"
     "                        are gone; the build lists what it left out, added and deleted;\n"
     "                        a changed file travels as a patch of the base's file where\n"
     "                        that is clearly smaller (the installed file must then be exactly\n"
     "                        the base's; only updaters of this version apply patches)\n"
     "  --no-patches          with --base: every changed file travels whole (--patches, the\n"
     "                        default, is accepted)\n"
     "  -0 ... -12            compression level (default: -12, the strongest; -1 the fastest)\n"
     "  --threads <n>         compress on n threads (default: one per core); the updater is\n"
     "                        the same byte for byte whatever the number\n"
     "  --keep <name>         pack a file or folder that is left out by default (repeatable):\n"
     "                        Thumbs.db, ehthumbs.db, desktop.ini, .DS_Store, ._*, *.bak, *~,\n"
     "                        *.swp and the folders .git, .svn, .hg, __MACOSX; a bare name, or a\n"
     "                        path relative to <folder> with '/'\n"
     "  --quiet, -q           no progress bar and no summary\n"},
    {"list", RunListCommand, "list the entries of an updater",
     "usage: mkupdater list <file.exe>\n\n"
     "One line per entry: d (folder) or f (file), size, packed size, time (UTC) and name, tab\n"
     "separated; p lines are patches, with the size and SHA-256 of the file they apply to; x\n"
     "lines name the files an update built with --base deletes, and a last line\n"
     "starting with # sums it up.\n"},
    {"verify", RunVerifyCommand, "check every entry of an updater",
     "usage: mkupdater verify [--quiet] [--base <folder>] <file.exe>\n\n"
     "Reads the updater as the updater itself does and inflates every entry; names the first\n"
     "damaged one. The program before the payload must be the updater.exe of this mkupdater's\n"
     "release. Exit code 2 for a damaged file or another program. Patches are checked against\n"
     "the release folder --base names, or, without one, by their instructions alone.\n"},
    {"extract", RunExtractCommand, "unpack an updater into a folder",
     "usage: mkupdater extract [--quiet] [--base <folder>] <file.exe> <folder>\n\n"
     "Writes every entry of the updater into <folder> (made when missing), with its stored time;\n"
     "patches are applied to the files of the release folder --base names.\n"},
    {"rct", RunRctCommand, "convert title pictures between PNG and the updater's format",
     "usage: mkupdater rct decode <in.rct> <out.png>\n"
     "       mkupdater rct encode [--variant TC00|TS00|TC01|TS01] [--name TEXT] <in.png> <out.rct>\n\n"
     "decode writes a title picture as PNG; encode makes one from any PNG (transparency is laid\n"
     "onto black). The variant defaults to TC00, which the updater reads.\n"},
};

void Overview(std::FILE* to) {
  std::fprintf(to,
               "mkupdater %s: builds updaters for KOVELA applications.\n\nusage: mkupdater <command> ...\n\n",
               KOVELA_VERSION);
  for (const Command& c : kCommands) std::fprintf(to, "  %-8s %s\n", c.name, c.summary);
  std::fputs("\nmkupdater <command> --help tells more; mkupdater --version the version.\n", to);
}

bool IsHelp(const char* a) {
  return !std::strcmp(a, "--help") || !std::strcmp(a, "-h") || !std::strcmp(a, "help") ||
         !std::strcmp(a, "/?");
}

// Edits (insert, delete, replace a byte) from a to b.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The command a mistyped name most likely meant, or nullptr when none is close.
const char* Nearest(const char* typed) {
  const Command* best = nullptr;
  std::size_t bestDistance = 3;  // at most two edits
  for (const Command& c : kCommands) {
    const std::size_t d = Distance(typed, c.name);
    if (d < bestDistance) best = &c, bestDistance = d;
  }
  return best ? best->name : nullptr;
}

}  // namespace

int Main(int argc, char** argv) {
  if (argc < 2) {
    Overview(stderr);
    return kUsageError;
  }
  const char* cmd = argv[1];
  if (!std::strcmp(cmd, "--version")) {
    std::printf("mkupdater %s\n", KOVELA_VERSION);
    return kExitOk;
  }
  if (IsHelp(cmd) && argc == 2) {
    Overview(stdout);
    return kExitOk;
  }
  if (IsHelp(cmd)) cmd = argv[2];  // mkupdater help <command>
  for (const Command& c : kCommands) {
    if (std::strcmp(cmd, c.name) != 0) continue;
    bool help = IsHelp(argv[1]);
    for (int i = 2; i < argc; ++i)
      help = help || !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h") ||
             !std::strcmp(argv[i], "/?");
    if (help) {
      std::fputs(c.help, stdout);
      return kExitOk;
    }
    return c.run(argc - 1, argv + 1);
  }
  const char* near = Nearest(cmd);
  if (near) {
    std::fprintf(stderr, "mkupdater: unknown command '%s'; did you mean '%s'? (mkupdater %s --help)\n", cmd,
                 near, near);
    return kUsageError;
  }
  std::fprintf(stderr, "mkupdater: unknown command '%s'\n\n", cmd);
  Overview(stderr);
  return kUsageError;
}

}  // namespace mkupdater
