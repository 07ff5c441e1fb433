// build, list, extract and verify.
#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "container_writer.h"
#include "host.h"
#include "lint.h"
#include "payload/container.h"
#include "payload/extract.h"
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
    Entry e{r, "", d.folder, d.size, d.time};
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
      return Fail(kUsageError, "'%s': files of 2 GiB or more cannot be stored", r.c_str());
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

struct Cli {
  std::vector<std::string> positional;
  std::string stub, out;
  int level = 9;
  bool ok = true;
};

Cli ParseCli(int argc, char** argv) {
  Cli c;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--stub" || a == "--out") && i + 1 < argc) {
      (a == "--stub" ? c.stub : c.out) = argv[++i];
    } else if (a.size() == 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9') {
      c.level = a[1] - '0';
    } else if (!a.empty() && a[0] == '-') {
      c.ok = false;
    } else {
      c.positional.push_back(a);
    }
  }
  return c;
}

std::FILE* OpenContainer(const std::string& path) {
  std::FILE* f = host::Open(path, "rb");
  if (!f) Fail(kDataError, "cannot open '%s': %s", path.c_str(), host::LastError().c_str());
  return f;
}

}  // namespace

int RunBuildCommand(int argc, char** argv) {
  Cli c = ParseCli(argc, argv);
  if (!c.ok || c.stub.empty() || c.out.empty() || c.positional.size() != 1) {
    std::fputs("usage: mkupdater build --stub <updater.exe> --out <file.exe> [-0 ... -9] <folder>\n", stderr);
    return kUsageError;
  }
  const std::string& root = c.positional[0];
  std::vector<Entry> entries;
  if (int r = Walk(root, "", &entries)) return r;
  if (std::none_of(entries.begin(), entries.end(), [](const Entry& e) { return StartupRank(e) == 0; }))
    return Fail(kUsageError, "'%s' has no install.env: the updater would not start", root.c_str());
  // The same reading as the updater's: refuse a file it would stop on.
  if (LintFolderInstallEnv(root.c_str(), stderr) > 0)
    return Fail(kUsageError, "'%s': install.env has errors; nothing was built", root.c_str());
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return StartupRank(a) < StartupRank(b); });

  std::FILE* stub = host::Open(c.stub, "rb");
  if (!stub) return Fail(kUsageError, "cannot open stub '%s': %s", c.stub.c_str(), host::LastError().c_str());
  std::string tmp = c.out + ".tmp";
  std::FILE* out = host::Open(tmp, "wb");
  if (!out) {
    std::fclose(stub);
    return Fail(kDataError, "cannot write '%s': %s", tmp.c_str(), host::LastError().c_str());
  }
  std::vector<char> buf(1 << 16);
  std::size_t n;
  std::uint64_t stubSize = 0;
  while ((n = std::fread(buf.data(), 1, buf.size(), stub)) > 0) {
    std::fwrite(buf.data(), 1, n, out);
    stubSize += n;
  }
  std::fclose(stub);
  int result = 0;
  std::uint64_t raw = 0;
  if (stubSize > 0x7FFFFFFF) result = Fail(kUsageError, "stub '%s' is too large", c.stub.c_str());
  for (const Entry& e : entries) {
    if (result) break;
    if (e.folder) {
      if (WriteFolderRecord(out, e.name) != 0) result = Fail(kDataError, "cannot write '%s'", tmp.c_str());
      continue;
    }
    std::FILE* in = host::Open(root + "/" + e.rel, "rb");
    if (!in) {
      result = Fail(kDataError, "cannot read '%s': %s", e.rel.c_str(), host::LastError().c_str());
      break;
    }
    if (WriteFileRecord(out, e.name, in, e.size, e.time, c.level) != 0)
      result = Fail(kDataError, "cannot pack '%s' (read or write failed, or over 2 GiB)", e.rel.c_str());
    std::fclose(in);
    raw += e.size;
  }
  if (!result && WriteEnd(out, static_cast<std::uint32_t>(stubSize)) != 0)
    result = Fail(kDataError, "cannot write '%s'", tmp.c_str());
  long total = std::ftell(out);
  if (std::fclose(out) != 0 && !result) result = Fail(kDataError, "cannot write '%s'", tmp.c_str());
  if (!result && total > 0x7FFFFFFF) result = Fail(kDataError, "'%s' would be 2 GiB or more", c.out.c_str());
  if (result) {
    host::Remove(tmp);
    return result;
  }
  if (host::Rename(tmp, c.out) != 0)
    return Fail(kDataError, "cannot write '%s': %s", c.out.c_str(), host::LastError().c_str());
  host::MarkExecutable(c.out);
  std::printf("%s: %zu entries, %llu bytes of files packed into %llu bytes of payload\n", c.out.c_str(),
              entries.size(), static_cast<unsigned long long>(raw),
              static_cast<unsigned long long>(total - static_cast<long>(stubSize) - 4));
  return 0;
}

int RunListCommand(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: mkupdater list <file.exe>\n", stderr);
    return kUsageError;
  }
  File f(OpenContainer(argv[1]));
  if (!f) return kDataError;
  payload::Source src{};
  std::uint32_t length;
  if (payload::LocatePayload(f.get(), &src, &length) != 0)
    return Fail(kDataError, "%s: no payload (trailer missing or out of range)", argv[1]);
  payload::Record rec{};
  for (;;) {
    int r = payload::ReadRecord(&src, &rec);
    if (r == 1) return 0;
    if (r < 0) return Fail(kDataError, "%s: damaged record after the listed ones", argv[1]);
    if (rec.folder) {
      std::printf("d\t-\t-\t-\t%s\n", Utf8Name(rec.name).c_str());
      continue;
    }
    std::uint64_t ft = 0;
    if (!payload::ReadRecordTime(&src, &ft) || !payload::SkipStream(&src, rec))
      return Fail(kDataError, "%s: record '%s' is cut short", argv[1], Utf8Name(rec.name).c_str());
    std::printf("f\t%u\t%u\t%s\t%s\n", rec.size, rec.packed, FormatFiletime(ft).c_str(),
                Utf8Name(rec.name).c_str());
  }
}

namespace {

// Extraction writes through the platform seam, which names files in code page 932: the
// destination is made the current folder, so that its own name may be anything.
int ExtractOrVerify(const char* file, const char* folder) {
  File f(OpenContainer(file));
  if (!f) return kDataError;
  std::string saved;
  if (folder) {
    if (host::MakeFolder(folder) != 0)
      return Fail(kDataError, "cannot create '%s': %s", folder, host::LastError().c_str());
    saved = host::CurrentFolder();
    if (saved.empty() || host::ChangeFolder(folder) != 0)
      return Fail(kDataError, "cannot enter '%s': %s", folder, host::LastError().c_str());
  }
  payload::Failure failure;
  int r = payload::ExtractFrom(f.get(), folder ? "." : nullptr, payload::Mode::Full, nullptr, &failure);
  if (folder) host::ChangeFolder(saved);
  if (r == 0) return kExitOk;
  const std::string record = Utf8Name(failure.record);
  switch (failure.fault) {
    case payload::Fault::Create:
    case payload::Fault::Write:
      return Fail(kDataError,
                  "cannot write '%s' into '%s' (disk full, or a file there that cannot be replaced?)",
                  record.c_str(), folder);
    case payload::Fault::Memory:
      return Fail(kDataError, "%s: out of memory", file);
    default:
      if (!record.empty()) return Fail(kDataError, "%s: damaged record '%s'", file, record.c_str());
      return Fail(kDataError, "%s: damaged container (no payload, or a record cut short)", file);
  }
}

}  // namespace

int RunExtractCommand(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: mkupdater extract <file.exe> <folder>\n", stderr);
    return kUsageError;
  }
  return ExtractOrVerify(argv[1], argv[2]);
}

int RunVerifyCommand(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: mkupdater verify <file.exe>\n", stderr);
    return kUsageError;
  }
  int r = ExtractOrVerify(argv[1], nullptr);
  if (r == 0) std::printf("%s: ok\n", argv[1]);
  return r;
}

}  // namespace mkupdater
