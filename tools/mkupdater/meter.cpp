// The progress bar.
#include "meter.h"

#include <cstdio>
#include <cstring>

#include "host.h"
#include "tool.h"

namespace mkupdater {

Meter::Meter(const char* label, std::uint64_t total, bool quiet)
    : label_(label),
      total_(total),
      shown_(!quiet && host::IsTerminal(stderr)),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

double Meter::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Meter::Set(std::uint64_t done) {
  done_ = done;
  if (!shown_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(100) && done_ < total_) return;
  last_ = now;
  Draw();
}

void Meter::Draw() {
  constexpr int kWidth = 16;
  const double fraction = total_ ? static_cast<double>(done_) / static_cast<double>(total_) : 1.0;
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  const double secs = Seconds(), rate = secs > 0 ? static_cast<double>(done_) / secs : 0.0;
  std::string left = "--:--";
  if (rate > 0 && done_ > 0 && secs >= 0.5) {
    const long s = static_cast<long>(static_cast<double>(total_ - done_) / rate + 0.5);
    left = Format("%ld:%02ld", s / 60, s % 60);
  }
  // Padded with blanks over what the last line showed; escape sequences are not for every console.
  std::string line =
      Format("%s [%s] %3d%%  %s/%s  %s/s  %s left", label_, bar, static_cast<int>(fraction * 100),
             FormatBytes(done_).c_str(), FormatBytes(total_).c_str(),
             FormatBytes(static_cast<std::uint64_t>(rate)).c_str(), left.c_str());
  line.resize(78, ' ');
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Meter::Finish() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%78s\r", "");
  std::fflush(stderr);
  drawn_ = false;
}

void OnChunk(void* context, std::uint64_t read) {
  auto* p = static_cast<StreamProgress*>(context);
  p->meter->Set(p->before + read);
}

std::string FormatBytes(std::uint64_t bytes) {
  if (bytes < 1024) return Format("%llu B", static_cast<unsigned long long>(bytes));
  const char* units[] = {"KiB", "MiB", "GiB"};
  double v = static_cast<double>(bytes) / 1024;
  int u = 0;
  for (; v >= 1024 && u < 2; ++u) v /= 1024;
  return Format("%.1f %s", v, units[u]);
}

bool TakeQuiet(int* argc, char** argv) {
  bool quiet = false;
  int out = 0;
  for (int i = 0; i < *argc; ++i) {
    if (i > 0 && (!std::strcmp(argv[i], "--quiet") || !std::strcmp(argv[i], "-q"))) {
      quiet = true;
      continue;
    }
    argv[out++] = argv[i];
  }
  *argc = out;
  return quiet;
}

}  // namespace mkupdater
