// Extraction of the payload: record by record, each file inflated in 128 KiB blocks.
#include "payload/extract.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/blocks.h"
#include "base/cp932.h"
#include "base/paths.h"
#include "payload/patch.h"
#include "platform/platform.h"

namespace payload {

namespace text {
const char kDamagedFile[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
}  // namespace text

namespace {

struct InflateGuard {
  z_stream* z;
  bool live;
  ~InflateGuard() {
    if (live) inflateEnd(z);
  }
};

bool WriteAll(plat::OutFile* out, const unsigned char* p, std::size_t n) {
  return !out || plat::WriteOutFile(out, p, n) == 0;
}

// Closes a file that was being written when something went wrong.
struct OutFileGuard {
  plat::OutFile* file;
  ~OutFileGuard() {
    if (file) plat::AbandonOutFile(file);
  }
};

// Bootstrap mode writes only what the updater needs before its menu opens, all of it at
// the top level of the work folder.
bool WantedAtStartup(const Record& rec) {
  if (paths::FindChar(rec.name, '\\') || paths::FindChar(rec.name, '/')) return false;
  return NameContainsNoCase(rec.name, "insttscr.rct") || NameContainsNoCase(rec.name, "install.env") ||
         NameContainsNoCase(rec.name, ".txt");
}

int NameRecord(Failure* failure, const char* name) {
  std::size_t n = std::strlen(name);
  if (n >= sizeof failure->record) n = sizeof failure->record - 1;
  std::memcpy(failure->record, name, n);
  failure->record[n] = '\0';
  return -1;
}

int Fail(Failure* failure, Fault fault, const char* name) {
  failure->fault = fault;
  failure->io = fault == Fault::Create || fault == Fault::Write ? plat::LastIoError() : plat::IoError::None;
  return NameRecord(failure, name);
}

// A damaged record is named by what was read of it, when anything was.
int FailRecord(Failure* failure, const Record& rec) {
  bool named = rec.name[0] && std::memchr(rec.name, 0, sizeof rec.name);
  return Fail(failure, Fault::Record, named ? rec.name : "");
}

// Inflates one file record into the file (nullptr: check only, nothing written), 128 KiB at a
// time, then hands it to output or sets the stored last-write time and closes it; path is what
// the watcher is told. The source stands at the record's time field; on success it stands right
// after the stream. in and out are kBlockSize buffers. 0, or -1 with *failure filled.
int InflateEntry(Source* src, const Record& rec, plat::OutFile* file, const char* path, Progress* progress,
                 std::uint32_t consumedBefore, unsigned char* in, unsigned char* out, Failure* failure,
                 Output* output, std::size_t index) {
  OutFileGuard dest{file};
  auto fail = [&](Fault fault) { return Fail(failure, fault, rec.name); };
  std::uint64_t stamp = 0;
  if (!ReadRecordTime(src, &stamp)) return fail(Fault::Stream);
  if (progress && progress->beginFile) progress->beginFile(progress, path, rec.size);

  z_stream z{};
  z.next_in = Z_NULL;
  z.avail_in = 0;
  if (inflateInit(&z) != Z_OK) return fail(Fault::Stream);
  InflateGuard guard{&z, true};

  z.next_out = out;
  z.avail_out = kBlockSize;
  std::uint32_t written = 0;
  std::uint32_t consumed = consumedBefore + 8;
  std::uint32_t remaining = rec.packed;
  auto blocksWritten = [&](std::uint32_t n) {
    return !progress || !progress->blocksWritten || progress->blocksWritten(progress, n, consumed);
  };
  for (;;) {
    if (z.avail_in == 0 && remaining > 0) {
      std::uint32_t chunk = remaining >= kBlockSize ? kBlockSize : remaining;
      if (src->left < chunk) return fail(Fault::Stream);  // the stream runs into the trailer
      std::size_t got = std::fread(in, 1, chunk, src->file);
      src->left -= got;
      z.next_in = in;
      z.avail_in = static_cast<uInt>(got);
      consumed += chunk;
      remaining -= chunk;
    }
    int r = inflate(&z, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      std::uint32_t k = kBlockSize - z.avail_out;
      // A stream that inflates to more or fewer bytes than its record announced is as
      // damaged as a corrupt one: the file would not be the file that was packed.
      if (std::uint64_t(written) + k != rec.size || z.avail_in != 0 || remaining != 0)
        return fail(Fault::Stream);
      if (k > 0) {
        if (!WriteAll(dest.file, out, k)) return fail(Fault::Write);
        if (!blocksWritten(written + k)) return fail(Fault::Stopped);
      }
      guard.live = false;
      if (inflateEnd(&z) != Z_OK) return fail(Fault::Stream);
      break;
    }
    if (r != Z_OK) return fail(Fault::Stream);
    if (z.avail_out > 0) continue;
    if (std::uint64_t(written) + kBlockSize > rec.size) return fail(Fault::Stream);
    if (!WriteAll(dest.file, out, kBlockSize)) return fail(Fault::Write);
    written += kBlockSize;
    z.next_out = out;
    z.avail_out = kBlockSize;
    if (!blocksWritten(written)) return fail(Fault::Stopped);
  }
  if (dest.file) {
    plat::OutFile* f = dest.file;
    dest.file = nullptr;
    if ((output ? output->finishFile(output, index, f, stamp) : plat::CloseOutFile(f, stamp)) != 0)
      return fail(Fault::Write);
  }
  return 0;
}

}  // namespace

// The walk by sizes: a download cut short is thus found before the first byte of an update
// is written, not halfway through it.
Layout CheckLayout(Source src, const char* destination, Failure* failure, LayoutVisitor* visitor) {
  std::FILE* f = src.file;
  long start = std::ftell(f);
  if (start < 0) {
    Fail(failure, Fault::Container, "");
    return Layout::Damaged;
  }
  Record rec{};
  Layout result = Layout::Damaged;
  for (;;) {
    int r = ReadRecord(&src, &rec);
    if (r == 1) {
      result = Layout::Sound;
      break;
    }
    if (r < 0) {
      FailRecord(failure, rec);
      break;
    }
    char path[plat::kMaxPath];
    std::uint64_t time = 0;
    if ((destination && paths::JoinPath(path, sizeof path, destination, rec.name) != 0) ||
        (!rec.folder && (!ReadRecordTime(&src, &time) || !SkipStream(&src, rec)))) {
      Fail(failure, Fault::Record, rec.name);
      break;
    }
    if (visitor && !visitor->record(visitor, rec, time)) {
      result = Layout::Stopped;
      break;
    }
  }
  if (std::fseek(f, start, SEEK_SET) != 0) {
    Fail(failure, Fault::Container, "");
    return Layout::Damaged;
  }
  return result;
}

int ExtractFrom(std::FILE* f, const char* destination, Mode mode, Progress* progress, Failure* failure,
                Output* output, bool layoutChecked, const char* patchBase) {
  *failure = Failure{};
  Source src{};
  std::uint32_t total = 0;
  if (LocatePayload(f, &src, &total) != 0) return Fail(failure, Fault::Container, "");
  return ExtractLocated(src, total, destination, mode, progress, failure, output, layoutChecked, patchBase);
}

int ExtractLocated(Source src, std::uint32_t total, const char* destination, Mode mode, Progress* progress,
                   Failure* failure, Output* output, bool layoutChecked, const char* patchBase) {
  *failure = Failure{};
  if (mode == Mode::Full) {
    if (!layoutChecked && CheckLayout(src, destination, failure) != Layout::Sound) return -1;
    if (progress && progress->start && !progress->start(progress, total))
      return Fail(failure, Fault::Stopped, "");
  }
  base::Owned<> in, out;
  std::uint32_t consumed = 0;
  Record rec{};
  for (std::size_t index = 0;; ++index) {
    int r = ReadRecord(&src, &rec);
    if (r == 1) break;
    if (r < 0) return FailRecord(failure, rec);
    consumed += static_cast<std::uint32_t>(std::strlen(rec.name) + 1 + (rec.patch ? 14 : 10));
    if (mode == Mode::Bootstrap) {
      if (rec.folder) {
        // A folder below the top level ends the pass; the start-up files come before it.
        const char* sep = paths::FindChar(rec.name, '\\');
        if (sep && sep[1]) break;
        continue;
      }
      if (rec.patch || !WantedAtStartup(rec)) {
        if (!SkipRecordData(&src, rec)) return Fail(failure, Fault::Record, rec.name);
        continue;
      }
    }
    char path[plat::kMaxPath];
    if (destination && paths::JoinPath(path, sizeof path, destination, rec.name) != 0)
      return Fail(failure, Fault::Record, rec.name);
    if (rec.folder) {
      if (!destination) continue;
      if (output)
        output->folder(output, index);
      else
        plat::MakeFolder(path);
      continue;
    }
    if (!in) {
      in = base::Allocate(kBlockSize);
      out = base::Allocate(kBlockSize);
      if (!in || !out) return Fail(failure, Fault::Memory, rec.name);
    }
    plat::OutFile* file = nullptr;
    if (destination) {
      file = output ? output->createFile(output, index) : plat::CreateOutFile(path);
      if (!file) return Fail(failure, Fault::Create, rec.name);
    }
    char base[plat::kMaxPath];
    if (rec.patch && patchBase && paths::JoinPath(base, sizeof base, patchBase, rec.name) != 0)
      return Fail(failure, Fault::Base, rec.name);
    if (rec.patch ? ApplyPatch(&src, rec, patchBase ? base : nullptr, file, destination ? path : "", progress,
                               consumed, failure, output, index)
                  : InflateEntry(&src, rec, file, destination ? path : "", progress, consumed, in.get(),
                                 out.get(), failure, output, index))
      return -1;
    consumed += 8 + rec.packed;
  }
  return 0;
}

}  // namespace payload
