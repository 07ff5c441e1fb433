// mkupdater build: a folder (and, for an update that carries only what changed, the previous
// release's folder) into a copy of the updater with the payload appended.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "checks.h"
#include "commands.h"
#include "container_writer.h"
#include "delta.h"
#include "host.h"
#include "lint.h"
#include "meter.h"
#include "pack.h"
#include "patch_build.h"
#include "tool.h"
#include "tree.h"

namespace mkupdater {
namespace {

struct Options {
  std::string folder, stub, out, base;
  std::vector<std::string> keep;  // --keep: junk-looking names to pack all the same
  int level = kStrongestLevel;
  unsigned threads = 0;  // one per core
  bool quiet = false;
  bool patches = true;        // with a base: changed files as patches of the base's, where they pay
  bool patchesAsked = false;  // --patches given: accepted for scripts written when patches were opt-in
  std::string problem;        // what is wrong with the call, "" when nothing
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--keep" && i + 1 < argc) {
      o.keep.push_back(argv[++i]);
    } else if ((a == "--stub" || a == "--out" || a == "--base") && i + 1 < argc) {
      (a == "--stub" ? o.stub : a == "--out" ? o.out : o.base) = argv[++i];
    } else if (a == "--patches") {
      o.patchesAsked = true;
    } else if (a == "--no-patches") {
      o.patches = false;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--threads" && i + 1 < argc) {
      const long n = std::strtol(argv[++i], nullptr, 10);
      if (n < 1 || n > 256) o.problem = Format("--threads takes 1 to 256, not '%s'", argv[i]);
      o.threads = static_cast<unsigned>(n);
    } else if (a.size() >= 2 && a.size() <= 3 && a[0] == '-' &&
               std::isdigit(static_cast<unsigned char>(a[1])) &&
               std::atoi(a.c_str() + 1) <= kStrongestLevel &&
               (a.size() == 2 || std::isdigit(static_cast<unsigned char>(a[2])))) {
      o.level = std::atoi(a.c_str() + 1);
    } else if (a.size() > 1 && a[0] == '-' && std::isdigit(static_cast<unsigned char>(a[1]))) {
      o.problem = Format("'%s' is no compression level: -0 ... -%d", a.c_str(), kStrongestLevel);
    } else if (a == "--keep" || a == "--stub" || a == "--out" || a == "--base" || a == "--threads") {
      o.problem = Format("%s needs a value after it", a.c_str());
    } else if (!a.empty() && a[0] == '-') {
      o.problem = Format("unknown option '%s'", a.c_str());
    } else if (o.folder.empty()) {
      o.folder = a;
    } else {
      o.problem = Format("one folder to pack, but '%s' and '%s' are given", o.folder.c_str(), a.c_str());
    }
  }
  if (o.problem.empty() && o.folder.empty()) o.problem = "the folder to pack is missing";
  if (o.problem.empty() && o.stub.empty()) o.problem = "--stub <updater.exe> is missing";
  if (o.problem.empty() && o.out.empty()) o.problem = "--out <file.exe> is missing";
  if (o.problem.empty() && o.patchesAsked && !o.patches)
    o.problem = "--patches and --no-patches contradict each other: give one";
  if (o.problem.empty() && (o.patchesAsked || !o.patches) && o.base.empty())
    o.problem = Format("%s goes with --base <folder of the previous release>: patches are made of its files",
                       o.patchesAsked ? "--patches" : "--no-patches");
  return o;
}

// The stub, then every record, then the end and the trailer, into out. 0 or an exit code
// (the message printed).
int WriteUpdater(std::FILE* out, const Options& o, const std::vector<Entry>& entries, std::uint64_t* stubSize,
                 Meter* meter, PatchSummary* patches) {
  File stub(host::Open(o.stub, "rb"));
  if (!stub) return Fail(kUsageError, "cannot open stub '%s': %s", o.stub.c_str(), host::LastError().c_str());
  std::vector<char> buf(1 << 16);
  *stubSize = 0;
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), stub.get())) > 0; *stubSize += n)
    if (std::fwrite(buf.data(), 1, n, out) != n) return Fail(kDataError, "cannot write '%s'", o.out.c_str());
  if (*stubSize > 0x7FFFFFFF) return Fail(kUsageError, "stub '%s' is too large", o.stub.c_str());
  std::uint64_t peak = 0;
  if (int r = PackRecords(out, o.folder, entries, o.level, o.threads, meter, o.out, &peak, patches)) return r;
  if (WriteEnd(out, static_cast<std::uint32_t>(*stubSize)) != 0)
    return Fail(kDataError, "cannot write '%s'", o.out.c_str());
  return 0;
}

// One warning line for the files no player needs.
void PrintLeftOut(const std::string& folder, const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  Finding(false, folder, "left out what no player needs: %s (--keep <name> packs one all the same)",
          list.c_str());
}

// What a delta build left out, added and deleted, one name a line.
void PrintDelta(const Delta& d) {
  for (const std::string& n : d.added) std::printf("  + %s\n", n.c_str());
  for (const std::string& n : d.changed) std::printf("  ~ %s\n", n.c_str());
  for (const std::string& n : d.deleted) {
    std::string shown = Utf8Name(n.c_str());  // UTF-8: a '\\' byte is a separator there
    std::replace(shown.begin(), shown.end(), '\\', '/');
    std::printf("  - %s\n", shown.c_str());
  }
  for (const std::string& n : d.staying)
    std::printf(
        "  ! %s is gone, but stays in the install folder: the updater removes only a top-level folder "
        "that held files alone\n",
        n.c_str());
  std::printf("  = %zu unchanged files left out\n", d.leftOut);
}

}  // namespace

int RunBuildCommand(int argc, char** argv) {
  Options o = ParseOptions(argc, argv);
  if (!o.problem.empty()) {
    std::fprintf(stderr, "mkupdater build: %s\n", o.problem.c_str());
    std::fputs(
        "usage: mkupdater build --stub <updater.exe> --out <file.exe> [--base <previous-release> "
        "[--no-patches]] [-0 ... -12] [--threads <n>] [--quiet] <folder>\n(mkupdater build --help tells "
        "more)\n",
        stderr);
    return kUsageError;
  }
  // Every check before anything is written, all findings of the run at once.
  int errors = CheckStubFile(o.stub) + CheckOutput(o.out);
  std::vector<Entry> entries;
  std::vector<std::string> leftOut;
  if (int r = Walk(o.folder, &entries, &errors, WalkOptions{o.keep, &leftOut})) return r;
  if (!leftOut.empty()) PrintLeftOut(o.folder, leftOut);
  const auto has = [&](int rank) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Entry& e) { return StartupRank(e) == rank; });
  };
  if (!has(0))
    errors +=
        Finding(true, o.folder, "no install.env: the updater would not start (mkupdater init writes one)");
  if (!has(1))
    errors += Finding(true, o.folder,
                      "no insttscr.rct: the updater's menu cannot start without its title picture (mkupdater "
                      "rct encode <picture.png> %s/insttscr.rct makes one)",
                      o.folder.c_str());
  else
    errors += CheckTitlePicture(o.folder + "/insttscr.rct");
  // The same reading as the updater's: refuse a file it would stop on. A UTF-8 file is stored
  // as code page 932.
  const std::string envPath = o.folder + "/install.env";
  std::string env;
  int warnings = 0;
  if (has(0)) errors += LintInstallEnvFile(envPath, stderr, &warnings, &env);
  if (errors)
    return Fail(kUsageError, "%d error%s (above); nothing was built", errors, errors == 1 ? "" : "s");
  Delta delta;
  if (!o.base.empty()) {
    if (int r = PlanDelta(o.folder, o.base, &entries, &delta)) return r;
    if (o.patches) MarkPatches(o.base, delta, &entries);
    AddDeletionLines(delta, &env);
    int more = 0;
    if (LintInstallEnvText(envPath.c_str(), env.data(), env.size(), stderr, &more) > 0 || more > warnings)
      return Fail(kUsageError,
                  "the deletion lines for the files gone since '%s' would change how the updater reads "
                  "'%s' (above); end its keys with an [EOF] line before the sections",
                  o.base.c_str(), envPath.c_str());
  }
  StoreTextsAsCp932(o.folder, &entries);
  for (Entry& e : entries) {
    if (StartupRank(e) != 0) continue;
    e.inMemory = true;
    e.data = env;
    e.size = env.size();
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return StartupRank(a) < StartupRank(b); });
  const std::string tmp = o.out + ".tmp";
  File out(host::Open(tmp, "wb"));
  if (!out) return Fail(kDataError, "cannot write '%s': %s", o.out.c_str(), host::LastError().c_str());
  std::uint64_t stubSize = 0, raw = 0;
  std::size_t files = 0;
  for (const Entry& e : entries) {
    raw += e.folder ? 0 : e.size;
    files += e.folder ? 0 : 1;
  }
  Meter meter("packing", raw, o.quiet);
  PatchSummary patches;
  int result = WriteUpdater(out.get(), o, entries, &stubSize, &meter, &patches);
  meter.Finish();
  long total = std::ftell(out.get());
  if (std::fclose(out.release()) != 0 && !result) result = Fail(kDataError, "cannot write '%s'", tmp.c_str());
  if (!result && total > 0x7FFFFFFF) result = Fail(kDataError, "'%s' would be 2 GiB or more", o.out.c_str());
  if (result) {
    host::Remove(tmp);
    return result;
  }
  if (host::Rename(tmp, o.out) != 0) {
    const std::string why = host::LastError();
    host::Remove(tmp);
    return Fail(kDataError, "cannot write '%s': %s", o.out.c_str(), why.c_str());
  }
  host::MarkExecutable(o.out);
  if (!o.base.empty()) WarnWithoutVersionGate(env, envPath);
  if (o.quiet) return 0;
  if (!o.base.empty()) PrintDelta(delta);
  if (!o.base.empty() && o.patches) PrintPatches(patches);
  const std::uint64_t packed = static_cast<std::uint64_t>(total) - stubSize - 4;
  std::printf("%s: %zu files, %s in, %s out (%.1f%%), %.1f s\n", o.out.c_str(), files,
              FormatBytes(raw).c_str(), FormatBytes(packed).c_str(),
              raw ? 100.0 * static_cast<double>(packed) / static_cast<double>(raw) : 100.0, meter.Seconds());
  return 0;
}

}  // namespace mkupdater
