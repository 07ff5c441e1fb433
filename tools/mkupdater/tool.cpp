// Helpers shared by the mkupdater commands.
#include "tool.h"

#include <cstdarg>
#include <cstdio>

#include "host.h"

namespace mkupdater {

int Fail(int code, const char* format, ...) {
  std::fputs("mkupdater: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return code;
}

int Finding(bool error, const std::string& where, const char* format, ...) {
  std::fprintf(stderr, "%s: %s: ", where.c_str(), error ? "error" : "warning");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return error ? 1 : 0;
}

int WrongCall(int argc, char** argv, int wanted, const char* missing, const char* usage) {
  std::string why = Format("%s is missing", missing);
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] == '-' && argv[i][1] != '\0') {
      why = Format("unknown option '%s'", argv[i]);
      break;
    }
  if (argc - 1 > wanted && why.rfind("unknown", 0) != 0)
    why = Format("'%s' is one argument too many", argv[wanted + 1]);
  std::fprintf(stderr, "mkupdater %s: %s\n%s", argv[0], why.c_str(), usage);
  return kUsageError;
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
  File f(host::Open(path, "rb"));
  if (!f) return -1;
  out->clear();
  std::uint8_t buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) out->insert(out->end(), buf, buf + got);
  return std::ferror(f.get()) ? -1 : 0;
}

int WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  File f(host::Open(path, "wb"));
  if (!f) return -1;
  if (std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) return -1;
  return std::fclose(f.release()) == 0 ? 0 : -1;
}

bool Utf8ToCp932(const std::string& in, std::string* out) { return host::Utf8ToCp932(in, out); }
bool Cp932ToUtf8(const std::string& in, std::string* out) { return host::Cp932ToUtf8(in, out); }

std::string Utf8Name(const char* cp932) {
  std::string u;
  return Cp932ToUtf8(cp932, &u) ? u : std::string(cp932);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t nl = text.find('\n', at);
    std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

std::string FormatFiletime(std::uint64_t ft) {
  constexpr std::int64_t kTicks = 10000000, kDay = 86400;
  constexpr std::int64_t kEpochDelta = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
  std::int64_t secs = static_cast<std::int64_t>(ft / kTicks) - kEpochDelta;
  std::int64_t days = secs >= 0 ? secs / kDay : -((-secs + kDay - 1) / kDay), rest = secs - days * kDay;
  // Days since 1970-01-01 to a civil date (proleptic Gregorian), era by era of 400 years.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097, doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  return Format("%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
}

}  // namespace mkupdater
