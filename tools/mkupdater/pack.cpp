// Parallel compression with ordered output. Workers take files strictly in walk order, each
// only once the bytes in flight allow it (the first one always), and the writer (the calling
// thread) writes each record as soon as its stream is ready; big files it streams itself.
#include "pack.h"

#include <libdeflate.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "container_writer.h"
#include "host.h"
#include "tool.h"

namespace mkupdater {
namespace {

struct Slot {
  std::vector<std::uint8_t> stream;
  std::uint64_t reserved = 0;  // bytes counted in flight for it
  bool done = false;
  std::string error;  // why the file could not be read
};

bool Streamed(const Entry& e) {
  return !e.folder && !e.inMemory && (e.size > kWholeFileLimit || !e.patchBase.empty());
}

class Packer {
 public:
  Packer(const std::string& root, const std::vector<Entry>& entries, int level)
      : root_(root), entries_(entries), level_(level), slots_(entries.size()) {}

  void Work() {
    struct Free {
      void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };
    std::unique_ptr<libdeflate_compressor, Free> compressor(libdeflate_alloc_compressor(level_));
    for (;;) {
      std::size_t i = 0;
      std::uint64_t cost = 0;
      {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
          while (next_ < entries_.size() && (entries_[next_].folder || Streamed(entries_[next_]))) ++next_;
          if (stop_ || next_ == entries_.size()) return;
          const Entry& e = entries_[next_];
          cost = e.size + (compressor ? libdeflate_zlib_compress_bound(compressor.get(), e.size) : 0);
          if (inFlight_ == 0 || inFlight_ + cost <= kInFlightLimit) break;
          cv_.wait(lock);
        }
        i = next_++;
        inFlight_ += cost;
        peak_ = std::max(peak_, inFlight_);
      }
      Slot result;
      result.reserved = cost;
      Compress(compressor.get(), entries_[i], &result);
      std::lock_guard<std::mutex> lock(m_);
      slots_[i] = std::move(result);
      slots_[i].done = true;
      cv_.notify_all();
    }
  }

  // Waits for entry i's stream and takes it.
  Slot Take(std::size_t i) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return slots_[i].done; });
    return std::move(slots_[i]);
  }

  void Release(std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_);
    inFlight_ -= bytes;
    cv_.notify_all();
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    cv_.notify_all();
  }

  std::uint64_t Peak() {
    std::lock_guard<std::mutex> lock(m_);
    return peak_;
  }

 private:
  void Compress(libdeflate_compressor* c, const Entry& e, Slot* s) {
    std::vector<std::uint8_t> data;
    if (e.inMemory) {
      data.assign(e.data.begin(), e.data.end());
    } else if (ReadWholeFile(root_ + "/" + e.rel, &data) != 0 || data.size() != e.size) {
      s->error = "it could not be read whole (did it change during the build?)";
      return;
    }
    if (!c) {
      s->error = "out of memory";
      return;
    }
    s->stream.resize(libdeflate_zlib_compress_bound(c, data.size()));
    s->stream.resize(
        libdeflate_zlib_compress(c, data.data(), data.size(), s->stream.data(), s->stream.size()));
    if (s->stream.empty()) s->error = "it could not be compressed";
  }

  const std::string& root_;
  const std::vector<Entry>& entries_;
  const int level_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;
  std::uint64_t inFlight_ = 0, peak_ = 0;
  bool stop_ = false;
};

}  // namespace

int PackRecords(std::FILE* out, const std::string& root, const std::vector<Entry>& entries, int level,
                unsigned threads, Meter* meter, const std::string& outName, std::uint64_t* peak,
                PatchSummary* patches) {
  Packer packer(root, entries, level);
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) workers.emplace_back([&packer] { packer.Work(); });
  int result = 0;
  std::uint64_t done = 0;
  for (std::size_t i = 0; i < entries.size() && result == 0; ++i) {
    const Entry& e = entries[i];
    if (e.folder) {
      if (WriteFolderRecord(out, e.name) != 0)
        result = Fail(kDataError, "cannot write '%s'", outName.c_str());
    } else if (!e.patchBase.empty()) {
      result = PackPatchOrFile(out, root, e, level, meter, &done, outName, patches);
    } else if (Streamed(e)) {
      File in(host::Open(root + "/" + e.rel, "rb"));
      StreamProgress progress{meter, done};
      if (!in) {
        result = Fail(kDataError, "cannot read '%s': %s", e.rel.c_str(), host::LastError().c_str());
      } else if (WriteFileRecord(out, e.name, in.get(), e.size, e.time, std::min(level, 9), OnChunk,
                                 &progress) != 0) {
        result = Fail(kDataError, "cannot pack '%s': it could not be read whole, or '%s' not written",
                      e.rel.c_str(), outName.c_str());
      }
    } else {
      Slot s = packer.Take(i);
      if (!s.error.empty())
        result = Fail(kDataError, "cannot pack '%s': %s", e.rel.c_str(), s.error.c_str());
      else if (WriteCompressedRecord(out, e.name, e.size, e.time, s.stream.data(), s.stream.size()) != 0)
        result = Fail(kDataError, "cannot write '%s' (disk full?)", outName.c_str());
      packer.Release(s.reserved);
    }
    meter->Set(done += e.folder ? 0 : e.size);
  }
  packer.Stop();
  for (std::thread& t : workers) t.join();
  if (peak) *peak = packer.Peak();
  return result;
}

}  // namespace mkupdater
