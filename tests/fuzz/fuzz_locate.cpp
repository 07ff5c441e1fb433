// libFuzzer target over the normalisation of the install folder that the user typed or the
// registry gave, under any INSTTO / INSTFOL / INSTMAKEFOL configuration.
//
// Input: [candidate text up to the first NUL][NUL][install.env text].
// Checks, beyond the sanitizers: the folder stays terminated inside its 260 bytes, and an
// accepted folder has a drive with a separator after it, turns slashes into backslashes, and
// does not end in a separator.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/paths.h"
#include "config/config.h"
#include "doubles.h"
#include "fake.h"
#include "update/locate.h"

using fake::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  std::size_t candidateSize = nul ? static_cast<std::size_t>(nul - data) : size;
  fake::Reset();
  config::ResetForTests();
  fake::SetWindowsFolder(size & 1 ? "C:\\WINDOWS" : "\x83\x5C:\\W");  // also a drive that is not a letter
  if (nul) config::LoadSetupConfigFromMemory(nul + 1, size - candidateSize - 1);

  char* c = update::CandidateFolder();
  std::memset(c, 'x', plat::kMaxPath);  // no terminator of its own beyond what we copy
  std::size_t n = candidateSize < plat::kMaxPath ? candidateSize : plat::kMaxPath;
  std::memcpy(c, data, n);
  if (n < plat::kMaxPath) c[n] = '\0';

  update::Normalised r = update::NormaliseCandidate();
  std::size_t len = strnlen(c, plat::kMaxPath);
  Require(len < plat::kMaxPath);
  if (r == update::Normalised::Ok) {
    const char* colon = paths::FindChar(c, ':');
    Require(colon != nullptr && colon[1] == '\\');
    // Slashes of the typed text are turned into separators; those of INSTTO and INSTFOL,
    // appended afterwards, are the author's and stay.
    if (!std::strchr(config::InstTo(), '/') && !std::strchr(config::InstFol(), '/'))
      Require(paths::FindChar(c, '/') == nullptr);
    Require(len > 0 && !cp932::EndsWithNoCase(c, "\\"));
  }
  config::ResetForTests();
  fake::Reset();
  return 0;
}
