// The line sections of install.env: "[ini]", "[reg]", "[delfiles_afterinst]" and the two
// lists that are filled but never read.
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace config {

namespace {

SectionLine* g_first[kSectionCount];
SectionLine* g_last[kSectionCount];

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

void EmptyList(int id) {
  SectionLine* node = g_first[id];
  while (node != nullptr) {
    SectionLine* next = node->next;
    std::free(node->text);
    std::free(node);
    node = next;
  }
  g_first[id] = nullptr;
  g_last[id] = nullptr;
}

void AppendLine(int id, const char* line) {
  std::size_t length = std::strlen(line);
  auto* node = static_cast<SectionLine*>(shell::AllocBlock(sizeof(SectionLine)));
  node->text = static_cast<char*>(shell::AllocBlock(length + 1));
  std::memcpy(node->text, line, length + 1);
  node->next = nullptr;
  if (g_last[id] != nullptr) {
    g_last[id]->next = node;
  } else {
    g_first[id] = node;
  }
  g_last[id] = node;
}

// A section still open when reading stops is fatal: Retry and Cancel both end the run, and
// the work folder stays.
[[noreturn]] void FailUnclosed(int id) {
  shell::ReportFatal(text::kSectionNotClosed, kSections[id].name);
  plat::Exit(-1);
}

void ReadSections(TextSource& src) {
  int current = kNoSection;
  char line[kLineSize];
  while (ReadTextLine(src, line, sizeof line) != 0) {
    int id = kNoSection;
    SectionLineKind kind = ClassifySectionLine(line, &id);
    if (kind == SectionLineKind::Eof) break;
    switch (kind) {
      case SectionLineKind::Close:
        current = kNoSection;
        break;
      case SectionLineKind::Header:
        EmptyList(id);  // a header seen again starts its list afresh
        current = id;
        break;
      case SectionLineKind::Text:
        if (current != kNoSection) AppendLine(current, line);
        break;
      default:
        break;
    }
  }
  if (current != kNoSection) FailUnclosed(current);
}

}  // namespace

// Layout of a line as the section reader sees it (one read of at most 511 bytes, trailing
// bytes <= 0x20 removed, leading white space kept), tested in this order:
//   ""                        skipped
//   "//..." or ";..."         comment, also inside a section
//   "EOF..."                  reading stops (so "[EOF]" does not stop it)
//   "-..."                    closes the current section
//   "[ini]..." etc.           opens that section
//   anything else             content of the current section; ignored outside one
SectionLineKind ClassifySectionLine(char* line, int* section) {
  std::size_t n = std::strlen(line);
  while (n > 0 && static_cast<unsigned char>(line[n - 1]) <= 0x20) line[--n] = '\0';
  if (n == 0) return SectionLineKind::Empty;
  if (StartsWith(line, "//") || line[0] == ';') return SectionLineKind::Comment;
  if (StartsWith(line, "EOF")) return SectionLineKind::Eof;
  if (line[0] == '-') return SectionLineKind::Close;
  for (int i = 0; i < kSectionCount; ++i) {
    if (StartsWith(line, kSections[i].header)) {
      if (section != nullptr) *section = i;
      return SectionLineKind::Header;
    }
  }
  return SectionLineKind::Text;
}

void LoadSetupSections(const char* path) {
  shell::File file(plat::OpenFile(path, "rb"));
  if (!file) {
    shell::ReportFatal(text::kCannotOpen, path);
    plat::Exit(-1);
  }
  TextSource src = FileSource(file.get());
  ReadSections(src);
}

void LoadSetupSectionsFromMemory(const void* data, std::size_t size) {
  TextSource src = MemorySource(data, size);
  ReadSections(src);
}

const SectionLine* Section(SectionId id) {
  int i = static_cast<int>(id);
  return i >= 0 && i < kSectionCount ? g_first[i] : nullptr;
}

void ResetSectionsForTests() {
  for (int i = 0; i < kSectionCount; ++i) EmptyList(i);
}

}  // namespace config
