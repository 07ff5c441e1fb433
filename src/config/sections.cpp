// The line sections of install.env: "[ini]", "[reg]", "[delfiles_afterinst]" and the two
// lists that are filled but never read.
#include <cstdlib>
#include <cstring>

#include "base/blocks.h"
#include "config/config.h"
#include "platform/platform.h"

namespace config {

namespace {

SectionLine* g_first[kSectionCount];
SectionLine* g_last[kSectionCount];

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
  auto* node = static_cast<SectionLine*>(base::AllocBlock(sizeof(SectionLine)));
  node->text = static_cast<char*>(base::AllocBlock(length + 1));
  std::memcpy(node->text, line, length + 1);
  node->next = nullptr;
  if (g_last[id] != nullptr) {
    g_last[id]->next = node;
  } else {
    g_first[id] = node;
  }
  g_last[id] = node;
}

// 0, or -1 when a section is still open when reading stops.
int ReadSections(TextSource& src, SectionFailure* failure) {
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
  if (current == kNoSection) return 0;
  failure->kind = SectionFailure::NotClosed;
  failure->section = current;
  return -1;
}

}  // namespace

int LoadSetupSections(const char* path, SectionFailure* failure) {
  base::File file(plat::OpenFile(path, "rb"));
  if (!file) {
    failure->kind = SectionFailure::CannotOpen;
    failure->section = kNoSection;
    return -1;
  }
  TextSource src = FileSource(file.get());
  return ReadSections(src, failure);
}

int LoadSetupSectionsFromMemory(const void* data, std::size_t size, SectionFailure* failure) {
  TextSource src = MemorySource(data, size);
  return ReadSections(src, failure);
}

const SectionLine* Section(SectionId id) {
  int i = static_cast<int>(id);
  return i >= 0 && i < kSectionCount ? g_first[i] : nullptr;
}

// Empties the lists (native tests).
void ResetSectionsForTests() {
  for (int i = 0; i < kSectionCount; ++i) EmptyList(i);
}

}  // namespace config
