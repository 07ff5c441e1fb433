// libFuzzer target over the [ini] and [reg] line parsers with their token substitution, and
// the [delfiles_afterinst] pattern rule.
//
// Input: [u8 k][k bytes: install folder][u8 drive: CD-ROM letter or none][rest: the line].
// Checks, beyond the sanitizers: every result fits its buffer, a parsed [ini] line gives back
// its substituted text around the first '=', unescaping never grows a line, a line using a
// token that cannot be replaced is skipped, and an accepted pattern is relative, has no ':'
// and no ".." component.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/paths.h"
#include "fake.h"
#include "update/transfers.h"

namespace {

using fake::Require;

bool Fits(const char* s) { return std::strlen(s) < update::kLineSize; }

// Takes n bytes from the front of the input, at most what is there.
std::string Take(const std::uint8_t*& data, std::size_t& size, std::size_t n) {
  if (n > size) n = size;
  std::string s(reinterpret_cast<const char*>(data), n);
  data += n;
  size -= n;
  return std::string(s.c_str());  // up to the first NUL, as a C text would be
}

// A ".." component between separators, '\\' or '/'; the trail byte 0x5C of a character such
// as ソ is no separator, and '/' is never a trail byte.
bool HasDotDotComponent(std::string p) {
  for (char& c : p) c = c == '/' ? '\\' : c;
  return paths::FindText(("\\" + p + "\\").c_str(), "\\..\\") != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fake::Reset();
  std::size_t k = data[0];
  ++data;
  --size;
  std::string install = Take(data, size, k * 3);  // up to 765 bytes: also too long to record
  bool recorded = update::RecordInstallFolder(install.c_str()) == 0;
  Require(recorded == (install.size() < update::kLineSize));
  std::string drive = Take(data, size, 1);
  fake::SetCdromDrive(!drive.empty() && drive[0] >= 'A' && drive[0] <= 'Z' ? drive[0] : 0);
  std::string line = Take(data, size, size);

  // Substitution alone.
  for (const char* s :
       {update::SubstituteIniTokens(line.c_str()), update::SubstituteRegTokens(line.c_str())}) {
    if (s) Require(Fits(s));
    if (!recorded && paths::FindText(line.c_str(), "REP_INSTALL") &&
        !paths::FindText(line.c_str(), "REP_CDROM"))
      Require(s == nullptr);
  }
  if (const char* u = update::UnescapeRegLine(line.c_str())) Require(std::strlen(u) <= line.size());

  char key[update::kLineSize], value[update::kLineSize];
  if (update::ParseIniLine(line.c_str(), key, value) == update::kParsed) {
    const char* s = update::SubstituteIniTokens(line.c_str());
    Require(s != nullptr && std::string(key) + "=" + value == s);
    Require(paths::FindChar(key, '=') == nullptr);
  }
  if (update::ParseRegLine(line.c_str(), key, value) == update::kParsed) {
    Require(Fits(key) && Fits(value));
  }

  if (update::IsPatternInsideFolder(line.c_str())) {
    Require(!line.empty() && line[0] != '\\' && line[0] != '/');
    Require(paths::FindChar(line.c_str(), ':') == nullptr && !HasDotDotComponent(line));
  }
  return 0;
}
