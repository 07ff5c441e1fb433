// Helpers shared by the mkupdater commands.
#include "tool.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/posix.h"

namespace mkupdater {
namespace {

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

}  // namespace

int Fail(int code, const char* format, ...) {
  std::fputs("mkupdater: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return code;
}

std::string Format(const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) return -1;
  out->clear();
  std::uint8_t buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) out->insert(out->end(), buf, buf + got);
  return std::ferror(f.get()) ? -1 : 0;
}

int WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return -1;
  if (std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) return -1;
  return std::fclose(f.release()) == 0 ? 0 : -1;
}

bool Utf8ToCp932(const std::string& in, std::string* out) { return posix::Utf8ToCp932(in, out); }
bool Cp932ToUtf8(const std::string& in, std::string* out) { return posix::Cp932ToUtf8(in, out); }

std::string Utf8Name(const char* cp932) {
  std::string u;
  return Cp932ToUtf8(cp932, &u) ? u : std::string(cp932);
}

std::string FormatFiletime(std::uint64_t ft) {
  std::int64_t secs = static_cast<std::int64_t>(ft) - static_cast<std::int64_t>(posix::kFiletimeEpochDelta);
  secs = secs >= 0 ? secs / 10000000 : -((-secs + 9999999) / 10000000);
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  char buf[32];
  if (!gmtime_r(&t, &tm) || !std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm)) return "-";
  return buf;
}

}  // namespace mkupdater
