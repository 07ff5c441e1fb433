// libFuzzer target over both install.env readers, fed from memory (no files touched).
// Checks, beyond the sanitizers: every accessor text fits its buffer, every section line is
// trimmed and shorter than a read, and the fatal path ends through plat::Exit(-1).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "doubles.h"
#include "fake.h"

namespace {

using fake::Require;

void CheckText(const char* s, std::size_t size) { Require(std::strlen(s) < size); }

void CheckSections() {
  for (int i = 0; i < config::kSectionCount; ++i) {
    for (const config::SectionLine* n = config::Section(static_cast<config::SectionId>(i)); n != nullptr;
         n = n->next) {
      std::size_t len = std::strlen(n->text);
      Require(len > 0 && len < config::kLineSize);
      Require(static_cast<unsigned char>(n->text[len - 1]) > 0x20);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::Reset();
  config::ResetForTests();

  config::LoadSetupConfigFromMemory(data, size);
  for (const char* s : {config::RegGlobal(), config::RegLocal(), config::IniFile(), config::IniSection(),
                        config::InstTo(), config::InstFol(), config::KeyFile(), config::ChkReg()})
    CheckText(s, config::kValueSize);
  CheckText(config::UpdaterTitle(), config::kTitleSize);
  char small[3], large[config::kLineSize];
  CheckText(config::InstReadme(small, sizeof small), sizeof small);
  CheckText(config::InstReadmeFl(large, sizeof large), sizeof large);
  (void)(config::InstMakeFol() + config::ChkRegVer() + config::ChkRegVerHigh());

  config::SectionFailure failure;
  if (config::LoadSetupSectionsFromMemory(data, size, &failure) != 0)
    Require(failure.kind == config::SectionFailure::NotClosed && failure.section >= 0 &&
            failure.section < config::kSectionCount);  // only an unclosed section fails
  CheckSections();

  config::ResetForTests();
  fake::Reset();
  return 0;
}
