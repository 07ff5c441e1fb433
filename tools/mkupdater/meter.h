// Feedback on long work: a progress bar on a terminal (bytes done, rate, time left), redrawn
// at most ten times a second on standard error, and nothing at all when standard error is not
// a terminal or --quiet was given.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace mkupdater {

class Meter {
 public:
  // label: what is counted ("packing", "checking", "extracting").
  Meter(const char* label, std::uint64_t total, bool quiet);
  ~Meter() { Finish(); }
  void Set(std::uint64_t done);  // bytes done so far
  void SetTotal(std::uint64_t total) { total_ = total; }
  std::uint64_t Total() const { return total_; }
  void Finish();           // clears the bar's line
  double Seconds() const;  // since the start

 private:
  void Draw();
  const char* label_;
  std::uint64_t total_, done_ = 0;
  bool shown_, drawn_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

// A meter moved by a stream's reader (the chunk callback of WriteFileRecord): the bytes done
// before the stream and what the reader has read of it.
struct StreamProgress {
  Meter* meter;
  std::uint64_t before;
};
void OnChunk(void* context, std::uint64_t read);  // context: a StreamProgress

// 1536 -> "1.5 KiB"; below 1 KiB in bytes.
std::string FormatBytes(std::uint64_t bytes);

// Whether --quiet (or -q) is among the arguments; removes it.
bool TakeQuiet(int* argc, char** argv);

}  // namespace mkupdater
