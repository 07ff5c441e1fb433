// Making patches: the base's anchor index, the scan of the new file, the instruction stream.
#include "patch_build.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "bytes.h"
#include "config/config.h"
#include "container_writer.h"
#include "host.h"
#include "payload/patch.h"
#include "platform/platform.h"
#include "tool.h"

namespace mkupdater {
namespace {

constexpr std::size_t kSeed = 32;                  // bytes hashed at an anchor
constexpr std::size_t kWindow = 4u << 20;          // bytes of a file held at once
constexpr std::size_t kBehind = 256u << 10;        // of them, kept before the one asked for
constexpr std::size_t kMaxAnchors = 16u << 20;     // 128 MiB of index
constexpr std::size_t kCandidates = 4;             // base positions kept per anchor hash
constexpr std::uint64_t kMaxBody = 256ull << 20;   // a larger patch travels as the whole file
constexpr std::uint64_t kBase = 0x100000001B3ull;  // of the rolling hash
constexpr std::size_t kBackLimit = 64u << 10;      // how far a match grows backwards

std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

// A file read through one window that moves to where it is asked to look.
class View {
 public:
  View(std::FILE* f, std::uint64_t size) : f_(f), size_(size), data_(kWindow) {}
  std::uint64_t size() const { return size_; }
  bool failed() const { return failed_; }
  // n (at most kWindow - kBehind) bytes at pos, or nullptr when they pass the end or the read fails.
  const std::uint8_t* At(std::uint64_t pos, std::size_t n) {
    if (pos >= start_ && pos + n <= start_ + held_) return data_.data() + (pos - start_);
    if (pos + n > size_) return nullptr;
    start_ = pos > kBehind ? pos - kBehind : 0;
    held_ = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size_ - start_));
    if (std::fseek(f_, static_cast<long>(start_), SEEK_SET) != 0 ||
        std::fread(data_.data(), 1, held_, f_) != held_) {
      failed_ = true;
      held_ = 0;
      return nullptr;
    }
    return data_.data() + (pos - start_);
  }

 private:
  std::FILE* f_;
  std::uint64_t size_, start_ = 0;
  std::size_t held_ = 0;
  std::vector<std::uint8_t> data_;
  bool failed_ = false;
};

struct Roller {
  std::uint64_t top = 1;  // kBase^(kSeed - 1)
  Roller() {
    for (std::size_t i = 1; i < kSeed; ++i) top *= kBase;
  }
  static std::uint64_t Hash(const std::uint8_t* p) {
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < kSeed; ++i) h = h * kBase + p[i];
    return h;
  }
  std::uint64_t Roll(std::uint64_t h, std::uint8_t out, std::uint8_t in) const {
    return (h - out * top) * kBase + in;
  }
};

// The base's anchors, each (hash << 32 | position), sorted; at most kCandidates per hash.
struct Index {
  std::uint64_t mask = 63;
  std::vector<std::uint64_t> anchors;
};

// Sorts the anchors and keeps the first kCandidates positions of each hash.
void Thin(Index* index) {
  std::vector<std::uint64_t>& a = index->anchors;
  std::sort(a.begin(), a.end());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (kept < kCandidates || a[kept - kCandidates] >> 32 != a[i] >> 32) a[kept++] = a[i];
  a.resize(kept);
}

// Tells the watcher how far the patch's work has got: hashing both files, indexing the base and
// scanning the new file, told as a share of `share` bytes, at most once per kTellEvery of work.
struct Work {
  PatchProgress progress;
  std::uint64_t total = 1, done = 0, told = 0;
  static constexpr std::uint64_t kTellEvery = 1u << 20;
  void Add(std::uint64_t n) {
    done += n;
    if (!progress.tell || (done - told < kTellEvery && done < total)) return;
    told = done;
    const double part = static_cast<double>(std::min(done, total)) / static_cast<double>(total);
    progress.tell(progress.context, static_cast<std::uint64_t>(part * static_cast<double>(progress.share)));
  }
};

bool BuildIndex(View* base, Index* index, Work* work) {
  const std::uint64_t n = base->size();
  while (n / (index->mask + 1) > kMaxAnchors) index->mask = index->mask * 2 + 1;
  const std::size_t expected = static_cast<std::size_t>(n / (index->mask + 1));
  const std::size_t limit = expected + expected / 4 + 4096;
  index->anchors.reserve(limit);
  std::uint64_t indexed = 0;
  if (n < kSeed) return work->Add(n), true;
  Roller r;
  const std::uint8_t* p = base->At(0, kSeed);
  if (!p) return false;
  std::uint64_t h = Roller::Hash(p);
  for (std::uint64_t i = 0;; ++i) {
    const std::uint64_t m = Mix(h);
    if ((m & index->mask) == 0) {
      // A run of one byte anchors at every position: thin out as it goes, as the end would.
      if (index->anchors.size() == index->anchors.capacity() && index->anchors.size() >= limit) Thin(index);
      index->anchors.push_back((m >> 32) << 32 | i);
    }
    if (i + kSeed >= n) break;
    if (i - indexed >= 0x10000) work->Add(i - indexed), indexed = i;
    p = base->At(i, kSeed + 1);
    if (!p) return false;
    h = r.Roll(h, p[0], p[kSeed]);
  }
  Thin(index);
  work->Add(n - indexed);
  return true;
}

// The instructions, deflated as they come.
class Encoder {
 public:
  explicit Encoder(std::vector<std::uint8_t>* body) : body_(body) {
    ok_ = deflateInit2(&z_, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Encoder() { deflateEnd(&z_); }
  void Copy(std::uint64_t from, std::uint64_t length) {
    if (pendingLength && pendingFrom + pendingLength == from) {
      pendingLength += length;
      return;
    }
    FlushCopy();
    pendingFrom = from;
    pendingLength = length;
  }
  void Literal(const std::uint8_t* p, std::size_t n, bool first) {
    if (first) {
      FlushCopy();
      ops_.push_back(payload::kOpLiteral);
      Number(literalLength_);
    }
    ops_.insert(ops_.end(), p, p + n);
    if (ops_.size() >= (1u << 20)) Deflate(Z_NO_FLUSH);
  }
  // Announces a literal run of n bytes; its bytes follow through Literal.
  void BeginLiteral(std::uint64_t n) { literalLength_ = n; }
  bool Finish() {
    FlushCopy();
    ops_.push_back(payload::kOpEnd);
    Deflate(Z_FINISH);
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  void Number(std::uint64_t v) {
    for (; v >= 0x80; v >>= 7) ops_.push_back(static_cast<std::uint8_t>(v | 0x80));
    ops_.push_back(static_cast<std::uint8_t>(v));
  }
  void FlushCopy() {
    if (!pendingLength) return;
    ops_.push_back(payload::kOpCopy);
    Number(pendingLength);
    const std::uint64_t delta =
        pendingFrom >= copyEnd_ ? (pendingFrom - copyEnd_) * 2 : (copyEnd_ - pendingFrom) * 2 - 1;
    Number(delta);
    copyEnd_ = pendingFrom + pendingLength;
    pendingLength = 0;
  }
  void Deflate(int flush) {
    if (!ok_) return;
    z_.next_in = ops_.data();
    z_.avail_in = static_cast<uInt>(ops_.size());
    std::uint8_t out[65536];
    int r;
    do {
      z_.next_out = out;
      z_.avail_out = sizeof out;
      r = deflate(&z_, flush);
      if (r == Z_STREAM_ERROR) ok_ = false;
      body_->insert(body_->end(), out, out + (sizeof out - z_.avail_out));
    } while (ok_ && (z_.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END)));
    ops_.clear();
  }

  std::vector<std::uint8_t>* body_;
  std::vector<std::uint8_t> ops_;
  z_stream z_{};
  bool ok_ = false;
  std::uint64_t pendingFrom = 0, pendingLength = 0, copyEnd_ = 0, literalLength_ = 0;
};

// Equal bytes of a (from pa) and b (from pb), forwards, at most limit.
std::uint64_t Forward(View* a, std::uint64_t pa, View* b, std::uint64_t pb, std::uint64_t limit) {
  std::uint64_t n = 0;
  while (n < limit) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(limit - n, 65536));
    const std::uint8_t* x = a->At(pa + n, step);
    const std::uint8_t* y = x ? b->At(pb + n, step) : nullptr;
    if (!x || !y) return n;
    std::size_t k = 0;
    while (k < step && x[k] == y[k]) ++k;
    n += k;
    if (k < step) break;
  }
  return n;
}

std::uint64_t Backward(View* a, std::uint64_t pa, View* b, std::uint64_t pb, std::uint64_t limit) {
  std::uint64_t n = 0;
  limit = std::min({limit, pa, pb, std::uint64_t{kBackLimit}});
  while (n < limit) {
    const std::uint8_t* x = a->At(pa - n - 1, 1);
    const std::uint8_t* y = b->At(pb - n - 1, 1);
    if (!x || !y || *x != *y) break;
    ++n;
  }
  return n;
}

struct Scan {
  View* base;
  View* now;
  const Index* index;
  Encoder* enc;
  Work* work;
  std::uint64_t copied = 0, literal = 0, literalLimit;
};

bool EmitLiteral(Scan* s, std::uint64_t from, std::uint64_t to) {
  if (from == to) return true;
  s->literal += to - from;
  if (s->literal > s->literalLimit) return false;
  s->enc->BeginLiteral(to - from);
  for (std::uint64_t at = from; at < to;) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(to - at, 65536));
    const std::uint8_t* p = s->now->At(at, step);
    if (!p) return false;
    s->enc->Literal(p, step, at == from);
    at += step;
  }
  return true;
}

// The base position whose kSeed bytes equal the new file's at pos, preferring the one that
// continues the last copy (the only one tried unless anchored); false when none does.
bool FindMatch(Scan* s, std::uint64_t pos, std::uint64_t m, bool anchored, std::uint64_t expected,
               std::uint64_t* found) {
  const std::uint8_t* p = s->now->At(pos, kSeed);
  if (!p) return false;
  std::uint8_t seed[kSeed];
  std::memcpy(seed, p, kSeed);
  auto equal = [&](std::uint64_t at) {
    const std::uint8_t* q = s->base->At(at, kSeed);
    return q && std::memcmp(q, seed, kSeed) == 0;
  };
  if (expected + kSeed <= s->base->size() && equal(expected)) return *found = expected, true;
  if (!anchored) return false;
  const std::uint64_t key = (m >> 32) << 32;
  auto it = std::lower_bound(s->index->anchors.begin(), s->index->anchors.end(), key);
  for (; it != s->index->anchors.end() && (*it >> 32) == (m >> 32); ++it)
    if (equal(*it & 0xFFFFFFFFu)) return *found = *it & 0xFFFFFFFFu, true;
  return false;
}

bool ScanNew(Scan* s) {
  const std::uint64_t n = s->now->size();
  std::uint64_t lit = 0, i = 0, expected = 0;
  Roller r;
  bool fresh = true;
  std::uint64_t h = 0, scanned = 0;
  while (i + kSeed <= n) {
    if (i - scanned >= 0x10000) s->work->Add(i - scanned), scanned = i;
    const std::uint8_t* p = s->now->At(i, kSeed + (i + kSeed < n ? 1 : 0));
    if (!p) return false;
    if (fresh) h = Roller::Hash(p), fresh = false;
    const std::uint64_t m = Mix(h);
    std::uint64_t o;
    // Anchors find data wherever it moved; between them, every kSeed bytes, the base is tried
    // where the last copy would go on (after bytes changed in place, or in a run of one byte).
    const bool anchored = (m & s->index->mask) == 0;
    if ((anchored || (i - lit) % kSeed == 0) && FindMatch(s, i, m, anchored, expected, &o)) {
      const std::uint64_t back = Backward(s->now, i, s->base, o, i - lit);
      const std::uint64_t ahead = kSeed + Forward(s->now, i + kSeed, s->base, o + kSeed,
                                                  std::min(n - i - kSeed, s->base->size() - o - kSeed));
      if (!EmitLiteral(s, lit, i - back)) return false;
      s->enc->Copy(o - back, back + ahead);
      s->copied += back + ahead;
      i += ahead;
      lit = i;
      expected = o + ahead;
      fresh = true;
      continue;
    }
    if (i + kSeed == n) break;
    h = r.Roll(h, p[0], p[kSeed]);
    ++i;
    ++expected;
  }
  s->work->Add(n - scanned);
  return EmitLiteral(s, lit, n);
}

bool HashFile(View* v, unsigned char* digest, Work* work) {
  plat::Sha256* h = plat::BeginSha256();
  if (!h) return false;
  for (std::uint64_t at = 0; at < v->size();) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(v->size() - at, 65536));
    const std::uint8_t* p = v->At(at, step);
    if (!p || plat::AddSha256(h, p, step) != 0) {
      plat::AbandonSha256(h);
      return false;
    }
    at += step;
    work->Add(step);
  }
  return plat::FinishSha256(h, digest) == 0;
}

std::uint64_t SizeOf(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return UINT64_MAX;
  const long n = std::ftell(f);
  return n < 0 ? UINT64_MAX : static_cast<std::uint64_t>(n);
}

}  // namespace

int MakePatch(const std::string& basePath, const std::string& newPath, Patch* patch, std::string* why,
              bool always, PatchProgress progress) {
  File fb(host::Open(basePath, "rb")), fn(host::Open(newPath, "rb"));
  if (!fb || !fn) return *why = host::LastError(), -1;
  const std::uint64_t baseSize = SizeOf(fb.get()), newSize = SizeOf(fn.get());
  if (newSize == UINT64_MAX) return *why = host::LastError(), -1;
  if (baseSize == UINT64_MAX) return 0;  // not a size this system tells: the whole file travels
  if (baseSize > payload::kMaxPatchedSize || newSize > payload::kMaxPatchedSize) return 0;
  View base(fb.get(), baseSize), now(fn.get(), newSize);
  *patch = Patch{};
  std::vector<std::uint8_t>& body = patch->body;
  PutU32(body, static_cast<std::uint32_t>(baseSize));
  body.resize(payload::kPatchHeaderSize);
  Work work{progress, std::max<std::uint64_t>(1, 2 * (baseSize + newSize))};
  if (!HashFile(&base, body.data() + 4, &work) || !HashFile(&now, body.data() + 4 + plat::kSha256Size, &work))
    return *why = "it could not be read whole", -1;
  Index index;
  if (!BuildIndex(&base, &index, &work)) return *why = "it could not be read whole", -1;
  Encoder enc(&body);
  Scan s{&base, &now, &index, &enc, &work, 0, 0, always ? UINT64_MAX : newSize - newSize / 5};
  const bool scanned = ScanNew(&s);
  if (base.failed() || now.failed()) return *why = "it could not be read whole", -1;
  if (!scanned || !enc.Finish()) return 0;
  patch->copied = s.copied;
  patch->literal = s.literal;
  const bool pays = s.copied * 5 >= newSize && body.size() < newSize && body.size() <= kMaxBody;
  return pays || always ? 1 : 0;
}

int WritePatchRecord(std::FILE* out, const std::string& name, std::uint64_t resultSize,
                     std::uint64_t filetime, const std::vector<std::uint8_t>& body) {
  if (name.empty() || name.size() + 1 > payload::kMaxName || resultSize > payload::kMaxPatchedSize ||
      body.size() > 0x7FFFFFFF)
    return -1;
  std::vector<std::uint8_t> h;
  PutU16(h, static_cast<std::uint32_t>(name.size() + 1));
  h.insert(h.end(), name.begin(), name.end());
  h.push_back(0);
  PutU32(h, static_cast<std::uint32_t>(-2));
  PutU32(h, static_cast<std::uint32_t>(body.size()));
  PutU32(h, static_cast<std::uint32_t>(resultSize));
  PutU64(h, filetime);
  return std::fwrite(h.data(), 1, h.size(), out) == h.size() &&
                 std::fwrite(body.data(), 1, body.size(), out) == body.size()
             ? 0
             : -1;
}

int PackPatchOrFile(std::FILE* out, const std::string& root, const Entry& e, int level, Meter* meter,
                    std::uint64_t* doneBefore, const std::string& outName, PatchSummary* summary) {
  const std::string path = root + "/" + e.rel;
  Patch patch;
  std::string why;
  StreamProgress progress{meter, *doneBefore};
  const int made =
      MakePatch(e.patchBase, path, &patch, &why, false, PatchProgress{OnChunk, &progress, e.size});
  if (made < 0) return Fail(kDataError, "cannot make a patch of '%s': %s", e.rel.c_str(), why.c_str());
  if (made > 0) {
    if (WritePatchRecord(out, e.name, e.size, e.time, patch.body) != 0)
      return Fail(kDataError, "cannot write '%s' (disk full?)", outName.c_str());
    if (summary) {
      summary->patched.push_back(e.rel);
      summary->wholeBytes += e.size;
      summary->patchBytes += patch.body.size();
    }
    return 0;
  }
  // The whole file after all: its packing is more work on top of the patch's.
  meter->SetTotal(meter->Total() + e.size);
  progress.before = *doneBefore += e.size;
  File in(host::Open(path, "rb"));
  if (!in) return Fail(kDataError, "cannot read '%s': %s", e.rel.c_str(), host::LastError().c_str());
  if (WriteFileRecord(out, e.name, in.get(), e.size, e.time, std::min(level, 9), OnChunk, &progress) != 0)
    return Fail(kDataError, "cannot pack '%s': it could not be read whole, or '%s' not written",
                e.rel.c_str(), outName.c_str());
  return 0;
}

void MarkPatches(const std::string& base, const Delta& delta, std::vector<Entry>* entries) {
  const std::set<std::string> changed(delta.changed.begin(), delta.changed.end());
  for (Entry& e : *entries) {
    const std::string from = base + "/" + e.rel;
    if (!e.folder && !e.inMemory && StartupRank(e) == 3 && changed.count(e.rel) && host::Exists(from))
      e.patchBase = from;
  }
}

void PrintPatches(const PatchSummary& summary) {
  for (const std::string& n : summary.patched) std::printf("  p %s\n", n.c_str());
  std::printf("  = %zu changed files as patches: %s of files in %s\n", summary.patched.size(),
              FormatBytes(summary.wholeBytes).c_str(), FormatBytes(summary.patchBytes).c_str());
}

void WarnWithoutVersionGate(const std::string& env, const std::string& envPath) {
  const int gate = config::FindKeySpec("CHKREGVER");
  for (const std::string& l : Lines(env)) {
    char line[config::kLineSize] = {};
    std::memcpy(line, l.data(), std::min(l.size(), sizeof line - 1));
    const config::KeyLine k = config::ParseKeyLine(line);
    if (k.kind == config::KeyLineKind::Eof) break;
    if (k.kind == config::KeyLineKind::Entry && config::FindKeySpec(k.key) == gate) return;
  }
  std::fprintf(stderr,
               "mkupdater: warning: '%s' sets no CHKREGVER: this update carries only what changed since its "
               "base, and nothing keeps it from other installed versions; set CHKREG and CHKREGVER\n",
               envPath.c_str());
}

int ListPatch(payload::Source* src, const payload::Record& rec, std::uint64_t filetime) {
  payload::PatchHeader h;
  if (rec.packed < payload::kPatchHeaderSize || src->left < rec.packed) return -1;
  payload::ReadPatchHeader(src, rec, &h);  // sizes beyond the bound are verify's to report
  if (std::fseek(src->file, static_cast<long>(rec.packed - payload::kPatchHeaderSize), SEEK_CUR) != 0)
    return -1;
  src->left -= rec.packed - payload::kPatchHeaderSize;
  std::string hash;
  for (unsigned char c : h.baseHash) hash += Format("%02x", c);
  std::printf("p\t%u\t%u\t%s\t%s\tpatch of %u bytes, SHA-256 %s\n", rec.size, rec.packed,
              FormatFiletime(filetime).c_str(), Utf8Name(rec.name).c_str(), h.baseSize, hash.c_str());
  return 0;
}

int FailPatchBase(const char* file, const std::string& record, const char* base) {
  if (!*base)
    return Fail(kUsageError,
                "%s: '%s' is a patch of the installed file; give --base <folder of the release it "
                "was built against>",
                file, record.c_str());
  return Fail(kDataError,
              "%s: '%s' in the base folder is missing or not the file this patch was made for; "
              "give the folder of the release the update was built against",
              file, record.c_str());
}

bool TakePatchBase(int* argc, char** argv, std::string* base) {
  base->clear();
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--base") != 0) continue;
    if (i + 1 >= *argc) return false;
    std::string folder = argv[i + 1];
    const bool rooted =
        !folder.empty() && (folder[0] == '/' || folder[0] == '\\' || (folder.size() > 1 && folder[1] == ':'));
    if (!rooted) folder = host::CurrentFolder() + "/" + folder;
    if (!host::IsFolder(folder) || !host::Utf8ToCp932(folder, base)) return false;
    for (int j = i; j + 2 < *argc; ++j) argv[j] = argv[j + 2];
    *argc -= 2;
    return true;
  }
  return true;
}

}  // namespace mkupdater
