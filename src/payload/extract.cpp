// Extraction of the payload: record by record, each file inflated in 128 KiB blocks.
#include <cstring>
#include <zlib.h>

#include "payload/container.h"
#include "payload/progress.h"
#include "shell/paths.h"
#include "shell/shell.h"

namespace payload {
namespace {

std::uint32_t g_payloadLength = 0;

struct InflateGuard {
  z_stream* z;
  bool live;
  ~InflateGuard() {
    if (live) inflateEnd(z);
  }
};

bool WriteAll(std::FILE* out, const unsigned char* p, std::size_t n) {
  return !out || std::fwrite(p, 1, n, out) == n;
}

// Bootstrap mode writes only what the updater needs before its menu opens, all of it at
// the top level of the work folder.
bool WantedAtStartup(const Record& rec) {
  if (paths::FindChar(rec.name, '\\') || paths::FindChar(rec.name, '/')) return false;
  return NameContainsNoCase(rec.name, "insttscr.rct") ||
         NameContainsNoCase(rec.name, "install.env") || NameContainsNoCase(rec.name, ".txt");
}

void NoteFailure(char* failed, std::size_t size, const char* name) {
  if (!failed || size == 0) return;
  std::size_t n = std::strlen(name);
  if (n >= size) n = size - 1;
  std::memcpy(failed, name, n);
  failed[n] = '\0';
}

// Names what was read of a damaged record, when anything was.
void NoteDamagedRecord(char* failed, std::size_t size, const Record& rec) {
  if (rec.name[0] && std::memchr(rec.name, 0, sizeof rec.name)) NoteFailure(failed, size, rec.name);
}

// Seeks over a file record's time and stream; false when they would pass the payload's end.
bool SkipRecordData(Source* src, const Record& rec) {
  std::uint64_t skip = 8ull + rec.packed;
  if (src->left < skip || std::fseek(src->file, static_cast<long>(skip), SEEK_CUR) != 0) return false;
  src->left -= skip;
  return true;
}

// Walks the records by their sizes alone, seeking over every stream, and returns the source
// to where it stood. 0 when every record header is sound, its path fits below destination,
// it lies with its stream inside the payload and the end marker follows the last one; -1
// otherwise, with failed naming the
// record where the walk stopped (empty when none was read). A download cut short is thus
// found before the first byte of an update is written, not halfway through it.
int CheckLayout(Source src, const char* destination, char* failed, std::size_t failedSize) {
  std::FILE* f = src.file;
  long start = std::ftell(f);
  if (start < 0) return -1;
  Record rec{};
  int result = -1;
  for (;;) {
    int r = ReadRecord(&src, &rec);
    if (r == 1) {
      result = 0;
      break;
    }
    if (r < 0) {
      NoteDamagedRecord(failed, failedSize, rec);
      break;
    }
    char path[plat::kMaxPath];
    if (destination && paths::JoinPath(path, sizeof path, destination, rec.name) != 0) {
      NoteFailure(failed, failedSize, rec.name);
      break;
    }
    if (rec.folder) continue;
    if (!SkipRecordData(&src, rec)) {
      NoteFailure(failed, failedSize, rec.name);
      break;
    }
  }
  if (std::fseek(f, start, SEEK_SET) != 0) return -1;
  return result;
}

}  // namespace

int InflateEntry(Source* src, std::uint32_t size, std::uint32_t packed, const char* path,
                 plat::Window w, std::uint32_t consumedBefore) {
  shell::Block in = shell::AllocOwned(kBlockSize);
  shell::Block out = shell::AllocOwned(kBlockSize);
  unsigned char t[8];
  if (src->left < 8 || std::fread(t, 1, 8, src->file) != 8) return 1;
  src->left -= 8;
  std::uint64_t stamp = 0;
  for (int i = 7; i >= 0; --i) stamp = (stamp << 8) | t[i];

  shell::File dest(path ? plat::OpenFile(path, "wb") : nullptr);
  if (path && !dest) return 1;
  BeginProgressFile(w, path ? path : "", size);

  z_stream z{};
  z.next_in = Z_NULL;
  z.avail_in = 0;
  if (inflateInit(&z) != Z_OK) return 1;
  InflateGuard guard{&z, true};

  z.next_out = out.get();
  z.avail_out = kBlockSize;
  std::uint32_t written = 0;
  std::uint32_t consumed = consumedBefore + 8;
  std::uint32_t remaining = packed;
  for (;;) {
    if (z.avail_in == 0 && remaining > 0) {
      std::uint32_t chunk = remaining >= kBlockSize ? kBlockSize : remaining;
      if (src->left < chunk) return 1;  // the stream runs into the trailer
      std::size_t got = std::fread(in.get(), 1, chunk, src->file);
      src->left -= got;
      z.next_in = in.get();
      z.avail_in = static_cast<uInt>(got);
      consumed += chunk;
      remaining -= chunk;
    }
    int r = inflate(&z, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      std::uint32_t k = kBlockSize - z.avail_out;
      // A stream that inflates to more or fewer bytes than its record announced is as
      // damaged as a corrupt one: the file would not be the file that was packed.
      if (std::uint64_t(written) + k != size || z.avail_in != 0 || remaining != 0) return 1;
      if (k > 0) {
        if (!WriteAll(dest.get(), out.get(), k)) return 1;
        UpdateProgress(w, written + k, consumed);
      }
      guard.live = false;
      if (inflateEnd(&z) != Z_OK) return 1;
      if (dest && std::fclose(dest.release()) != 0) return 1;
      break;
    }
    if (r != Z_OK) return 1;
    if (z.avail_out > 0) continue;
    if (std::uint64_t(written) + kBlockSize > size) return 1;
    if (!WriteAll(dest.get(), out.get(), kBlockSize)) return 1;
    written += kBlockSize;
    z.next_out = out.get();
    z.avail_out = kBlockSize;
    UpdateProgress(w, written, consumed);
  }
  if (path) plat::SetFileWriteTime(path, stamp);
  return 0;
}

int ExtractFrom(std::FILE* f, const char* destination, Mode mode, bool withProgress,
                char* failedRecord, std::size_t failedSize) {
  NoteFailure(failedRecord, failedSize, "");
  Source src{};
  if (LocatePayload(f, &src, &g_payloadLength) != 0) return -1;
  if (mode == Mode::Full && CheckLayout(src, destination, failedRecord, failedSize) != 0) return -1;
  plat::Window w = (mode == Mode::Full && withProgress) ? OpenProgressWindow(g_payloadLength)
                                                        : nullptr;
  std::uint32_t consumed = 0;
  Record rec{};
  for (;;) {
    int r = ReadRecord(&src, &rec);
    if (r == 1) break;
    if (r < 0) {
      NoteDamagedRecord(failedRecord, failedSize, rec);
      return -1;
    }
    consumed += static_cast<std::uint32_t>(std::strlen(rec.name) + 1 + 10);
    if (mode == Mode::Bootstrap) {
      if (rec.folder) {
        // A folder below the top level ends the pass; the start-up files come before it.
        const char* sep = paths::FindChar(rec.name, '\\');
        if (sep && sep[1]) break;
        continue;
      }
      if (!WantedAtStartup(rec)) {
        if (!SkipRecordData(&src, rec)) {
          NoteFailure(failedRecord, failedSize, rec.name);
          return -1;
        }
        continue;
      }
    }
    char path[plat::kMaxPath];
    if (destination) {
      if (paths::JoinPath(path, sizeof path, destination, rec.name) != 0) {
        NoteFailure(failedRecord, failedSize, rec.name);
        return -1;
      }
    }
    if (rec.folder) {
      if (destination) plat::MakeFolder(path);
      continue;
    }
    if (InflateEntry(&src, rec.size, rec.packed, destination ? path : nullptr, w, consumed) != 0) {
      NoteFailure(failedRecord, failedSize, rec.name);
      return -1;
    }
    consumed += 8 + rec.packed;
  }
  return 0;
}

std::FILE* OpenPayload() {
  char self[plat::kMaxPath] = {};
  if (plat::GetModulePath(self, sizeof self) == 0) return nullptr;
  std::FILE* f = plat::OpenFile(self, "rb");
  if (!f) return nullptr;
  Source src{};
  if (LocatePayload(f, &src, &g_payloadLength) != 0) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

std::uint32_t PayloadLength() { return g_payloadLength; }

int ExtractPayload(const char* destination, Mode mode) {
  shell::File f(OpenPayload());
  if (!f) shell::FailDamagedFile();
  if (ExtractFrom(f.get(), destination, mode, true, nullptr, 0) != 0) shell::FailDamagedFile();
  f.reset();
  return CloseProgressWindow();
}

}  // namespace payload
