// mkupdater build: a folder (and, for an update that carries only what changed, the previous
// release's folder) into a copy of the updater with the payload appended.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "container_writer.h"
#include "host.h"
#include "lint.h"
#include "payload/container.h"
#include "tool.h"

namespace mkupdater {
namespace {

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

struct Entry {
  std::string rel;   // UTF-8, '/' separated, relative to the input folder
  std::string name;  // CP932, '\' separated: the record's name
  bool folder;
  std::uint64_t size;
  std::uint64_t time;
  bool inMemory = false;  // stored from data instead of the file (install.env)
  std::string data;
};

// Rank of a top-level entry in the start-up group: install.env, insttscr.rct, then every
// name holding ".txt"; everything else comes after, depth-first.
int StartupRank(const Entry& e) {
  if (e.folder || e.rel.find('/') != std::string::npos) return 3;
  if (e.name == "install.env") return 0;
  if (e.name == "insttscr.rct") return 1;
  if (payload::NameContainsNoCase(e.name.c_str(), ".txt")) return 2;
  return 3;
}

int Walk(const std::string& root, const std::string& rel, std::vector<Entry>* out) {
  std::string dir = rel.empty() ? root : root + "/" + rel;
  std::vector<host::DirEntry> listed;
  if (host::ListFolder(dir, &listed) != 0)
    return Fail(kUsageError, "cannot read folder '%s': %s", dir.c_str(), host::LastError().c_str());
  // Byte order of the UTF-8 names, on every host: the same folder gives the same updater.
  std::sort(listed.begin(), listed.end(),
            [](const host::DirEntry& a, const host::DirEntry& b) { return a.name < b.name; });
  std::vector<Entry> files, folders;
  for (const host::DirEntry& d : listed) {
    const std::string& n = d.name;
    std::string r = rel.empty() ? n : rel + "/" + n;
    Entry e{r, "", d.folder, d.size, d.time, false, {}};
    if (!e.folder && !d.regular)
      return Fail(kUsageError, "'%s' is neither a file nor a folder; move it out of '%s'", r.c_str(),
                  root.c_str());
    if (n.find('\\') != std::string::npos || n.find(':') != std::string::npos)
      return Fail(kUsageError, "'%s': names with '\\' or ':' cannot be stored; rename it", r.c_str());
    std::string cp;
    if (!Utf8ToCp932(r, &cp))
      return Fail(kUsageError, "'%s': the name has no code page 932 form; rename it", r.c_str());
    std::replace(cp.begin(), cp.end(), '/', '\\');  // ASCII '/' never is a trail byte
    e.name = cp;
    if (e.name.size() > 259)
      return Fail(kUsageError, "'%s': the name is longer than 259 bytes in code page 932; shorten it",
                  r.c_str());
    if (!payload::IsSafeEntryName(e.name.c_str(), e.folder))
      return Fail(kUsageError, "'%s': the updater would refuse this name; rename it", r.c_str());
    if (!e.folder && e.size > 0x7FFFFFFF)
      return Fail(kUsageError, "'%s': files of 2 GiB or more cannot be stored; split it", r.c_str());
    (e.folder ? folders : files).push_back(e);
  }
  // A folder's files first, then its subfolders, each subfolder's record before its content.
  for (Entry& f : files) out->push_back(f);
  for (Entry& f : folders) {
    out->push_back(f);
    if (int r = Walk(root, f.rel, out)) return r;
  }
  return 0;
}

struct Options {
  std::string folder, stub, out;
  int level = 9;
  bool ok = true;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--stub" || a == "--out") && i + 1 < argc) {
      (a == "--stub" ? o.stub : o.out) = argv[++i];
    } else if (a.size() == 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9') {
      o.level = a[1] - '0';
    } else if (!a.empty() && a[0] == '-') {
      o.ok = false;
    } else if (o.folder.empty()) {
      o.folder = a;
    } else {
      o.ok = false;
    }
  }
  return o;
}

// The stub, then every record, then the end and the trailer, into out. 0 or an exit code
// (the message printed).
int WriteUpdater(std::FILE* out, const Options& o, const std::vector<Entry>& entries,
                 std::uint64_t* stubSize) {
  File stub(host::Open(o.stub, "rb"));
  if (!stub) return Fail(kUsageError, "cannot open stub '%s': %s", o.stub.c_str(), host::LastError().c_str());
  std::vector<char> buf(1 << 16);
  *stubSize = 0;
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), stub.get())) > 0; *stubSize += n)
    if (std::fwrite(buf.data(), 1, n, out) != n) return Fail(kDataError, "cannot write '%s'", o.out.c_str());
  if (*stubSize > 0x7FFFFFFF) return Fail(kUsageError, "stub '%s' is too large", o.stub.c_str());
  for (const Entry& e : entries) {
    if (e.folder) {
      if (WriteFolderRecord(out, e.name) != 0) return Fail(kDataError, "cannot write '%s'", o.out.c_str());
      continue;
    }
    if (e.inMemory) {
      if (WriteFileRecord(out, e.name, std::vector<std::uint8_t>(e.data.begin(), e.data.end()), e.time,
                          o.level) != 0)
        return Fail(kDataError, "cannot write '%s'", o.out.c_str());
      continue;
    }
    File in(host::Open(o.folder + "/" + e.rel, "rb"));
    if (!in) return Fail(kDataError, "cannot read '%s': %s", e.rel.c_str(), host::LastError().c_str());
    if (WriteFileRecord(out, e.name, in.get(), e.size, e.time, o.level) != 0)
      return Fail(kDataError, "cannot pack '%s': it could not be read whole, or '%s' not written",
                  e.rel.c_str(), o.out.c_str());
  }
  if (WriteEnd(out, static_cast<std::uint32_t>(*stubSize)) != 0)
    return Fail(kDataError, "cannot write '%s'", o.out.c_str());
  return 0;
}

}  // namespace

int RunBuildCommand(int argc, char** argv) {
  Options o = ParseOptions(argc, argv);
  if (!o.ok || o.stub.empty() || o.out.empty() || o.folder.empty()) {
    std::fputs("usage: mkupdater build --stub <updater.exe> --out <file.exe> [-0 ... -9] <folder>\n", stderr);
    return kUsageError;
  }
  std::vector<Entry> entries;
  if (int r = Walk(o.folder, "", &entries)) return r;
  auto env = std::find_if(entries.begin(), entries.end(), [](const Entry& e) { return StartupRank(e) == 0; });
  if (env == entries.end())
    return Fail(kUsageError,
                "'%s' has no install.env: the updater would not start (mkupdater init writes one)",
                o.folder.c_str());
  // The same reading as the updater's: refuse a file it would stop on. A UTF-8 file is stored
  // as code page 932.
  if (LintInstallEnvFile(o.folder + "/install.env", stderr, nullptr, &env->data) > 0)
    return Fail(kUsageError, "'%s/install.env' has errors (above); nothing was built", o.folder.c_str());
  env->inMemory = true;
  env->size = env->data.size();
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return StartupRank(a) < StartupRank(b); });

  const std::string tmp = o.out + ".tmp";
  File out(host::Open(tmp, "wb"));
  if (!out) return Fail(kDataError, "cannot write '%s': %s", tmp.c_str(), host::LastError().c_str());
  std::uint64_t stubSize = 0, raw = 0;
  int result = WriteUpdater(out.get(), o, entries, &stubSize);
  long total = std::ftell(out.get());
  if (std::fclose(out.release()) != 0 && !result) result = Fail(kDataError, "cannot write '%s'", tmp.c_str());
  if (!result && total > 0x7FFFFFFF) result = Fail(kDataError, "'%s' would be 2 GiB or more", o.out.c_str());
  if (result) {
    host::Remove(tmp);
    return result;
  }
  if (host::Rename(tmp, o.out) != 0)
    return Fail(kDataError, "cannot write '%s': %s", o.out.c_str(), host::LastError().c_str());
  host::MarkExecutable(o.out);
  for (const Entry& e : entries) raw += e.folder ? 0 : e.size;
  std::printf("%s: %zu entries, %llu bytes of files packed into %llu bytes of payload\n", o.out.c_str(),
              entries.size(), static_cast<unsigned long long>(raw),
              static_cast<unsigned long long>(total - static_cast<long>(stubSize) - 4));
  return 0;
}

}  // namespace mkupdater
