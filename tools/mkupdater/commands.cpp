// list, extract and verify (build: build.cpp).
#include "commands.h"

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "checks.h"
#include "delta.h"
#include "host.h"
#include "meter.h"
#include "patch_build.h"
#include "payload/container.h"
#include "payload/extract.h"
#include "tool.h"

namespace mkupdater {
namespace {

std::FILE* OpenContainer(const std::string& path) {
  std::FILE* f = host::Open(path, "rb");
  if (!f) Fail(kDataError, "cannot open '%s': %s", path.c_str(), host::LastError().c_str());
  return f;
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  if (argc != 2) {
    return WrongCall(argc, argv, 1, "the updater to list", "usage: mkupdater list <file.exe>\n");
  }
  File f(OpenContainer(argv[1]));
  if (!f) return kDataError;
  payload::Source src{};
  std::uint32_t length;
  if (payload::LocatePayload(f.get(), &src, &length) != 0)
    return Fail(kDataError, "%s: no payload (trailer missing or out of range); is it an updater?", argv[1]);
  payload::Record rec{};
  std::string env;  // the stored install.env, for what a delta build noted in it
  for (;;) {
    int r = payload::ReadRecord(&src, &rec);
    if (r < 0) return Fail(kDataError, "%s: damaged record after the listed ones", argv[1]);
    if (r == 1) break;
    if (rec.folder) {
      std::printf("d\t-\t-\t-\t%s\n", Utf8Name(rec.name).c_str());
      continue;
    }
    std::uint64_t ft = 0;
    bool read = payload::ReadRecordTime(&src, &ft);
    if (rec.patch && read && ListPatch(&src, rec, ft) == 0) continue;
    if (read && std::strcmp(rec.name, "install.env") == 0 && rec.packed <= src.left &&
        rec.size < (1u << 24)) {
      std::string packed(rec.packed, '\0');
      read = std::fread(&packed[0], 1, packed.size(), src.file) == packed.size();
      src.left -= rec.packed;
      uLongf size = rec.size;
      env.assign(rec.size, '\0');
      if (uncompress(reinterpret_cast<Bytef*>(&env[0]), &size, reinterpret_cast<const Bytef*>(packed.data()),
                     rec.packed) != Z_OK)
        env.clear();
    } else {
      read = read && payload::SkipStream(&src, rec);
    }
    if (!read) return Fail(kDataError, "%s: record '%s' is cut short", argv[1], Utf8Name(rec.name).c_str());
    std::printf("f\t%u\t%u\t%s\t%s\n", rec.size, rec.packed, FormatFiletime(ft).c_str(),
                Utf8Name(rec.name).c_str());
  }
  std::string summary;
  std::vector<std::string> deleted;
  if (ReadDeltaNote(env, &summary, &deleted)) {
    for (const std::string& name : deleted) std::printf("x\t-\t-\t-\t%s\n", Utf8Name(name.c_str()).c_str());
    std::printf("# only what changed since a base release: %s\n", summary.c_str());
  }
  return 0;
}

namespace {

// The extraction's watcher: the payload bytes consumed drive the bar.
struct Watch {
  payload::Progress progress;  // first, so that the callbacks find the rest
  Meter* meter;
};

bool WatchStart(payload::Progress* p, std::uint32_t total) {
  reinterpret_cast<Watch*>(p)->meter->SetTotal(total);
  return true;
}
bool WatchBlocks(payload::Progress* p, std::uint32_t, std::uint32_t consumed) {
  reinterpret_cast<Watch*>(p)->meter->Set(consumed);
  return true;
}

// Extraction writes through the platform seam, which names files in code page 932: the
// destination is made the current folder, so that its own name may be anything.
int ExtractOrVerify(const char* file, const char* folder, bool quiet, const std::string& base) {
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
  Meter meter(folder ? "extracting" : "checking", 0, quiet);
  Watch watch{{WatchStart, nullptr, WatchBlocks}, &meter};
  payload::Failure failure;
  int r = payload::ExtractFrom(f.get(), folder ? "." : nullptr, payload::Mode::Full, &watch.progress,
                               &failure, nullptr, false, base.empty() ? nullptr : base.c_str());
  meter.Finish();
  if (folder) host::ChangeFolder(saved);
  if (r == 0) return kExitOk;
  const std::string record = Utf8Name(failure.record);
  switch (failure.fault) {
    case payload::Fault::Create:
    case payload::Fault::Write: {
      const char* why = failure.io == plat::IoError::DiskFull ? "the disk is full"
                        : failure.io == plat::IoError::Denied ? "it is read-only, or not yours to write"
                        : failure.io == plat::IoError::InUse  ? "another program holds it open"
                                                              : "the folder or file could not be made";
      return Fail(kDataError, "cannot write '%s' into '%s': %s", record.c_str(), folder, why);
    }
    case payload::Fault::Memory:
      return Fail(kDataError, "%s: out of memory", file);
    case payload::Fault::Base:
      return FailPatchBase(file, record, base.c_str());
    default:
      if (!record.empty())
        return Fail(kDataError, "%s: damaged record '%s'; build the updater again from its folder", file,
                    record.c_str());
      return Fail(kDataError, "%s: damaged container (no payload, or a record cut short); build it again",
                  file);
  }
}

}  // namespace

int RunExtractCommand(int argc, char** argv) {
  const bool quiet = TakeQuiet(&argc, argv);
  std::string base;
  if (!TakePatchBase(&argc, argv, &base)) {
    std::fputs("mkupdater extract: --base names no folder of code page 932 names\n", stderr);
    return kUsageError;
  }
  if (argc != 3) {
    return WrongCall(argc, argv, 2, argc < 2 ? "the updater to unpack" : "the folder to unpack into",
                     "usage: mkupdater extract [--quiet] [--base <folder>] <file.exe> <folder>\n");
  }
  return ExtractOrVerify(argv[1], argv[2], quiet, base);
}

int RunVerifyCommand(int argc, char** argv) {
  const bool quiet = TakeQuiet(&argc, argv);
  std::string base;
  if (!TakePatchBase(&argc, argv, &base)) {
    std::fputs("mkupdater verify: --base names no folder of code page 932 names\n", stderr);
    return kUsageError;
  }
  if (argc != 2) {
    return WrongCall(argc, argv, 1, "the updater to check",
                     "usage: mkupdater verify [--quiet] [--base <folder>] <file.exe>\n");
  }
  // The program before the payload must be this release's updater, or players get none.
  File f(host::Open(argv[1], "rb"));
  payload::Source src{};
  std::uint32_t length = 0;
  if (f && payload::LocatePayload(f.get(), &src, &length) == 0 &&
      CheckUpdaterProgram(f.get(), static_cast<std::uint64_t>(std::ftell(f.get())), argv[1]) != 0)
    return kDataError;
  f.reset();
  int r = ExtractOrVerify(argv[1], nullptr, quiet, base);
  if (r == 0 && !quiet) std::printf("%s: ok\n", argv[1]);
  return r;
}

}  // namespace mkupdater
