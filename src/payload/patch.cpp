// Applying a patch record: the base checked whole, then the result written in 128 KiB blocks
// from copies out of the base (read in place) and the literal bytes of the instructions.
#include "payload/patch.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace payload {
namespace {

constexpr std::size_t kInSize = 32768, kOpsSize = 65536;

struct BufferFree {
  void operator()(unsigned char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, BufferFree>;

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct HashGuard {
  plat::Sha256* h;
  ~HashGuard() { plat::AbandonSha256(h); }
};

struct OutFileGuard {
  plat::OutFile* file;
  ~OutFileGuard() {
    if (file) plat::AbandonOutFile(file);
  }
};

int Fail(Failure* failure, Fault fault, const char* name) {
  failure->fault = fault;
  failure->io = fault == Fault::Write ? plat::LastIoError() : plat::IoError::None;
  std::size_t n = std::strlen(name);
  if (n >= sizeof failure->record) n = sizeof failure->record - 1;
  std::memcpy(failure->record, name, n);
  failure->record[n] = '\0';
  return -1;
}

bool ReadExact(Source* src, void* out, std::size_t n) {
  if (src->left < n || (n && std::fread(out, 1, n, src->file) != n)) return false;
  src->left -= n;
  return true;
}

// The instructions: one zlib stream of `remaining` payload bytes, inflated kOpsSize at a time.
struct Ops {
  Source* src;
  std::uint64_t remaining;
  unsigned char* in;
  unsigned char* out;
  z_stream z{};
  bool live = false, ended = false;
  std::size_t at = 0, end = 0;  // the inflated bytes not yet taken: out[at, end)

  ~Ops() {
    if (live) inflateEnd(&z);
  }
  bool Start() { return live = inflateInit(&z) == Z_OK; }

  // More inflated bytes; false at the stream's end or on damage.
  bool Fill() {
    while (at == end && !ended) {
      if (z.avail_in == 0 && remaining > 0) {
        const std::size_t chunk = remaining < kInSize ? static_cast<std::size_t>(remaining) : kInSize;
        if (!ReadExact(src, in, chunk)) return false;
        remaining -= chunk;
        z.next_in = in;
        z.avail_in = static_cast<uInt>(chunk);
      }
      z.next_out = out;
      z.avail_out = kOpsSize;
      const int r = inflate(&z, Z_NO_FLUSH);
      if (r == Z_STREAM_END)
        ended = true;
      else if (r != Z_OK)
        return false;
      at = 0;
      end = kOpsSize - z.avail_out;
    }
    return at < end;
  }
  bool Byte(unsigned char* b) {
    if (!Fill()) return false;
    *b = out[at++];
    return true;
  }
  bool Number(std::uint64_t* v) {
    *v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      unsigned char b;
      if (!Byte(&b)) return false;
      *v |= std::uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return shift < 63 || b <= 1;
    }
    return false;
  }
  // Sound only when the stream ends right here, with nothing after it in the record.
  bool AtEnd() { return !Fill() && ended && z.avail_in == 0 && remaining == 0; }
};

struct Applier {
  const Record& rec;
  std::FILE* base;  // nullptr: check only
  plat::OutFile* file;
  plat::Sha256* hash;
  Progress* progress;
  unsigned char* block;  // kBlockSize bytes of the result not yet written
  std::size_t held = 0;
  std::uint32_t written = 0;  // result bytes made so far
  std::uint64_t work = 0, done = 0;
  std::uint32_t consumedBefore = 0;
  Fault fault = Fault::None;

  bool Report() {
    if (!progress || !progress->blocksWritten) return true;
    const std::uint64_t share = (8ull + rec.packed) * done / (work ? work : 1);
    if (progress->blocksWritten(progress, static_cast<std::uint32_t>(done),
                                consumedBefore + static_cast<std::uint32_t>(share)))
      return true;
    fault = Fault::Stopped;
    return false;
  }
  bool Flush() {
    if (held == 0) return true;
    if (file && plat::WriteOutFile(file, block, held) != 0) {
      fault = Fault::Write;
      return false;
    }
    if (hash && plat::AddSha256(hash, block, held) != 0) {
      fault = Fault::Memory;
      return false;
    }
    done += held;
    held = 0;
    return Report();
  }
  // Room for at most n more bytes in the block: where they go and how many fit.
  unsigned char* Room(std::uint64_t n, std::size_t* fit) {
    if (held == kBlockSize && !Flush()) return nullptr;
    *fit = static_cast<std::size_t>(n < kBlockSize - held ? n : kBlockSize - held);
    return block + held;
  }
};

// Reads and hashes the base whole; true when it has the size and hash the patch names.
bool BaseMatches(std::FILE* f, const PatchHeader& h, Applier* a) {
  if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) != static_cast<long>(h.baseSize) ||
      std::fseek(f, 0, SEEK_SET) != 0)
    return false;
  HashGuard hash{plat::BeginSha256()};
  if (!hash.h) return a->fault = Fault::Memory, false;
  for (std::uint32_t left = h.baseSize; left > 0;) {
    const std::size_t n = left < kBlockSize ? left : kBlockSize;
    if (std::fread(a->block, 1, n, f) != n) return false;
    if (plat::AddSha256(hash.h, a->block, n) != 0) return a->fault = Fault::Memory, false;
    left -= static_cast<std::uint32_t>(n);
    a->done += n;
    if (!a->Report()) return false;
  }
  unsigned char digest[plat::kSha256Size];
  plat::Sha256* done = hash.h;
  hash.h = nullptr;
  if (plat::FinishSha256(done, digest) != 0) return a->fault = Fault::Memory, false;
  return std::memcmp(digest, h.baseHash, sizeof digest) == 0;
}

// Runs the instructions into the applier. false with a->fault set (Patch when not told).
bool RunOps(Ops* ops, const PatchHeader& h, Applier* a) {
  std::uint64_t copyEnd = 0;
  for (;;) {
    unsigned char op;
    std::uint64_t length;
    if (!ops->Byte(&op)) return false;
    if (op == kOpEnd) break;
    if (!ops->Number(&length) || length == 0 || length > a->rec.size - a->written) return false;
    if (op == kOpCopy) {
      std::uint64_t zigzag;
      if (!ops->Number(&zigzag)) return false;
      const std::uint64_t magnitude = (zigzag >> 1) + (zigzag & 1);
      if ((zigzag & 1) ? magnitude > copyEnd : magnitude > h.baseSize - copyEnd) return false;
      const std::uint64_t from = (zigzag & 1) ? copyEnd - magnitude : copyEnd + magnitude;
      if (length > h.baseSize - from) return false;
      copyEnd = from + length;
      if (a->base && std::fseek(a->base, static_cast<long>(from), SEEK_SET) != 0) return false;
      for (std::uint64_t left = length; left > 0;) {
        std::size_t fit;
        unsigned char* to = a->Room(left, &fit);
        if (!to) return false;
        if (a->base && std::fread(to, 1, fit, a->base) != fit) return false;
        a->held += fit;
        left -= fit;
      }
    } else if (op == kOpLiteral) {
      for (std::uint64_t left = length; left > 0;) {
        std::size_t fit;
        unsigned char* to = a->Room(left, &fit);
        if (!to || !ops->Fill()) return false;
        const std::size_t ready = ops->end - ops->at;
        if (fit > ready) fit = ready;
        std::memcpy(to, ops->out + ops->at, fit);
        ops->at += fit;
        a->held += fit;
        left -= fit;
      }
    } else {
      return false;
    }
    a->written += static_cast<std::uint32_t>(length);
  }
  return a->written == a->rec.size && ops->AtEnd() && a->Flush();
}

}  // namespace

bool ReadPatchHeader(Source* src, const Record& rec, PatchHeader* h) {
  unsigned char b[kPatchHeaderSize];
  if (rec.packed < kPatchHeaderSize || !ReadExact(src, b, sizeof b)) return false;
  h->baseSize = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24);
  std::memcpy(h->baseHash, b + 4, plat::kSha256Size);
  std::memcpy(h->resultHash, b + 4 + plat::kSha256Size, plat::kSha256Size);
  return h->baseSize <= kMaxPatchedSize && rec.size <= kMaxPatchedSize;
}

int ApplyPatch(Source* src, const Record& rec, const char* base, plat::OutFile* file, const char* path,
               Progress* progress, std::uint32_t consumedBefore, Failure* failure, Output* output,
               std::size_t record) {
  OutFileGuard dest{file};
  auto fail = [&](Fault fault) { return Fail(failure, fault, rec.name); };
  std::uint64_t stamp = 0;
  PatchHeader h;
  if (!ReadRecordTime(src, &stamp) || !ReadPatchHeader(src, rec, &h)) return fail(Fault::Patch);
  if (!base && file) return fail(Fault::Base);  // nothing to copy from

  Buffer block(static_cast<unsigned char*>(std::malloc(kBlockSize)));
  Buffer in(static_cast<unsigned char*>(std::malloc(kInSize)));
  Buffer out(static_cast<unsigned char*>(std::malloc(kOpsSize)));
  if (!block || !in || !out) return fail(Fault::Memory);
  std::unique_ptr<std::FILE, FileClose> installed(base ? plat::OpenFile(base, "rb") : nullptr);
  if (base && !installed) return fail(Fault::Base);
  HashGuard hash{base ? plat::BeginSha256() : nullptr};
  if (base && !hash.h) return fail(Fault::Memory);

  Applier a{rec, installed.get(), file, hash.h, progress, block.get()};
  a.consumedBefore = consumedBefore;
  a.work = (base ? h.baseSize : 0) + std::uint64_t(rec.size);
  if (progress && progress->beginFile)
    progress->beginFile(progress, path, static_cast<std::uint32_t>(a.work));
  if (base && !BaseMatches(installed.get(), h, &a))
    return fail(a.fault != Fault::None ? a.fault : Fault::Base);

  Ops ops{src, rec.packed - kPatchHeaderSize, in.get(), out.get()};
  if (!ops.Start()) return fail(Fault::Memory);
  if (!RunOps(&ops, h, &a)) return fail(a.fault != Fault::None ? a.fault : Fault::Patch);
  if (hash.h) {
    unsigned char digest[plat::kSha256Size];
    plat::Sha256* finished = hash.h;
    hash.h = nullptr;
    if (plat::FinishSha256(finished, digest) != 0) return fail(Fault::Memory);
    if (std::memcmp(digest, h.resultHash, sizeof digest) != 0) return fail(Fault::Patch);
  }
  if (dest.file) {
    plat::OutFile* f = dest.file;
    dest.file = nullptr;
    const bool kept = output && output->finishFile;
    if ((kept ? output->finishFile(output, record, f, stamp) : plat::CloseOutFile(f, stamp)) != 0)
      return fail(Fault::Write);
  }
  return 0;
}

}  // namespace payload
