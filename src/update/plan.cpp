// The plan of a staged update, its paths, its reserved names and its journal.
#include "update/plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "base/blocks.h"
#include "base/cp932.h"
#include "base/paths.h"

namespace update {
namespace {

// The order of record names as Windows compares them.
bool NameLess(const PlanEntry* a, const PlanEntry* b) { return cp932::CompareNoCase(a->name, b->name) < 0; }

// The length of the folder part of a record name (without its separator), double-byte aware.
std::size_t ParentLength(const char* name) {
  std::size_t start, end;
  paths::LastComponent(name, &start, &end);
  return start ? start - 1 : 0;
}

void SetPath(Path* out, int written) {
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof out->text) out->text[0] = '\0';
}

Path Join(const char* folder, const char* name, const char* suffix) {
  Path p;
  SetPath(&p, std::snprintf(p.text, sizeof p.text, "%s\\%s%s", folder, name, suffix));
  return p;
}

// Journal layout (little-endian), the plan of one update; superseded files are left out:
//   0  3  "KVU"
//   3  1  the layout's version: '2'
//   4  4  u32 n, the number of entries
//   8  8  u64 the install folder's own last-write time (0: not known)
//  16     n entries:  u8 kind ('D', 'E', 'N', 'R')  u32 size  u64 time  u16 L (1..259)  L bytes name
// A journal of another version is one this program cannot read (version '1' could not tell
// a swap that was being put back from a staging).
constexpr char kJournalMagic[3] = {'K', 'V', 'U'};
constexpr unsigned char kJournalVersion = '2';
constexpr std::size_t kJournalHeader = 16;                 // magic, version, count, the folder's time
constexpr std::size_t kJournalEntryFixed = 1 + 4 + 8 + 2;  // kind, size, time, name length

// A bounded cursor over the journal's bytes.
struct Reader {
  const unsigned char* at;
  std::size_t left;
  bool Take(std::size_t bytes, std::uint64_t* v) {
    if (left < bytes) return false;
    *v = 0;
    for (std::size_t i = 0; i < bytes; ++i) *v |= std::uint64_t(at[i]) << (8 * i);
    at += bytes;
    left -= bytes;
    return true;
  }
};

void Put(unsigned char** out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) *(*out)++ = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

bool IsReservedName(const char* name) {
  char buf[payload::kMaxName];
  std::size_t n = std::strlen(name);
  if (n >= sizeof buf) n = sizeof buf - 1;
  std::memcpy(buf, name, n);
  buf[n] = '\0';
  std::size_t start, end;  // a folder record may end in its separator
  paths::LastComponent(buf, &start, &end);
  buf[end] = '\0';
  const char* last = buf + start;
  if (cp932::EndsWithNoCase(last, kStagedSuffix) || cp932::EndsWithNoCase(last, kBackupSuffix)) return true;
  constexpr char kJournalPrefix[] = "kovela-update.";  // the journal's names, at the top only
  constexpr std::size_t kPrefix = sizeof kJournalPrefix - 1;
  if (start != 0 || end < kPrefix) return false;
  buf[kPrefix] = '\0';  // single-byte characters only can match it
  return cp932::EqualNoCase(buf, kJournalPrefix);
}

void FreePlan(Plan* plan) {
  std::free(plan->entries);
  *plan = Plan{};
}

PlanEntry* AppendEntry(Plan* plan) {
  if (plan->count == plan->capacity) {
    std::size_t grown = plan->capacity ? plan->capacity * 2 : 64;
    void* p = std::realloc(plan->entries, grown * sizeof(PlanEntry));
    if (!p) return nullptr;
    plan->entries = static_cast<PlanEntry*>(p);
    plan->capacity = grown;
  }
  PlanEntry* e = &plan->entries[plan->count++];
  *e = PlanEntry{};
  e->top = -1;
  return e;
}

long ParentFinder::Find(const Plan& plan, std::size_t end, const char* record) {
  const std::size_t n = ParentLength(record);
  if (n == 0) return -1;
  if (std::strncmp(name, record, n) == 0 && name[n] == '\0') return entry;
  std::memcpy(name, record, n);
  name[n] = '\0';
  for (entry = static_cast<long>(end); entry-- > 0;) {
    const PlanEntry& e = plan.entries[entry];
    if ((e.kind == Kind::NewFolder || e.kind == Kind::Existing) && std::strncmp(e.name, record, n) == 0 &&
        (e.name[n] == '\0' || ((e.name[n] == '\\' || e.name[n] == '/') && e.name[n + 1] == '\0')))
      break;
  }
  return entry;
}

int TopOf(const Plan& plan, std::size_t i, long parent) {
  const PlanEntry& e = plan.entries[i];
  if (e.kind == Kind::Existing) return -1;
  if (parent >= 0 && plan.entries[parent].kind == Kind::NewFolder) return plan.entries[parent].top;
  return e.kind == Kind::NewFolder ? static_cast<int>(i) : -1;
}

void MarkNewFolders(Plan* plan) {
  ParentFinder parents;
  for (std::size_t i = 0; i < plan->count; ++i)
    plan->entries[i].top = TopOf(*plan, i, parents.Find(*plan, i, plan->entries[i].name));
}

bool MarkSuperseded(Plan* plan) {
  base::Owned<PlanEntry*> order = base::Allocate<PlanEntry*>(plan->count);
  if (!order) return false;
  PlanEntry** o = order.get();
  for (std::size_t i = 0; i < plan->count; ++i) o[i] = &plan->entries[i];
  std::stable_sort(o, o + plan->count, NameLess);
  for (std::size_t i = 0; i + 1 < plan->count; ++i)
    if (!NameLess(o[i], o[i + 1]) && IsFile(o[i]->kind)) o[i]->kind = Kind::Superseded;
  return true;
}

bool Moves(const Plan& plan, std::size_t i) {
  const PlanEntry& e = plan.entries[i];
  return (e.kind == Kind::NewFolder && e.top == static_cast<int>(i)) || (IsFile(e.kind) && e.top < 0);
}

Path PathIn(const char* folder, const char* name) { return Join(folder, name, ""); }

EntryPaths PathsOf(const char* folder, const Plan& plan, std::size_t i) {
  const PlanEntry& e = plan.entries[i];
  EntryPaths p;
  p.dest = Join(folder, e.name, "");
  p.backup = Join(folder, e.name, kBackupSuffix);
  if (e.top < 0) {
    p.staged = Join(folder, e.name, kStagedSuffix);
  } else {
    const char* top = plan.entries[e.top].name;
    std::size_t start, n;  // n: the folder's name without the separator a folder record may end in
    paths::LastComponent(top, &start, &n);
    SetPath(&p.staged, std::snprintf(p.staged.text, sizeof p.staged.text, "%s\\%.*s%s%s", folder,
                                     static_cast<int>(n), top, kStagedSuffix, e.name[n] ? e.name + n : ""));
  }
  return p;
}

std::size_t JournalSize(const Plan& plan) {
  std::size_t size = kJournalHeader;
  for (std::size_t i = 0; i < plan.count; ++i)
    if (IsJournaled(plan.entries[i].kind)) size += kJournalEntryFixed + std::strlen(plan.entries[i].name);
  return size;
}

void EncodeJournal(const Plan& plan, unsigned char* out) {
  std::memcpy(out, kJournalMagic, sizeof kJournalMagic);
  out += sizeof kJournalMagic;
  *out++ = kJournalVersion;
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < plan.count; ++i) n += IsJournaled(plan.entries[i].kind);
  Put(&out, n, 4);
  Put(&out, plan.folderTime, 8);
  for (std::size_t i = 0; i < plan.count; ++i) {
    const PlanEntry& e = plan.entries[i];
    if (!IsJournaled(e.kind)) continue;
    const std::size_t len = std::strlen(e.name);
    Put(&out, static_cast<unsigned char>(e.kind), 1);
    Put(&out, e.size, 4);
    Put(&out, e.time, 8);
    Put(&out, len, 2);
    std::memcpy(out, e.name, len);
    out += len;
  }
}

bool DecodeJournal(const unsigned char* data, std::size_t size, Plan* plan) {
  if (size < kJournalHeader || std::memcmp(data, kJournalMagic, sizeof kJournalMagic) != 0 ||
      data[sizeof kJournalMagic] != kJournalVersion)
    return false;
  Reader in{data + sizeof kJournalMagic + 1, size - sizeof kJournalMagic - 1};
  std::uint64_t count = 0;
  in.Take(4, &count);
  in.Take(8, &plan->folderTime);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t kind, entrySize, time, len;
    if (!in.Take(1, &kind) || !in.Take(4, &entrySize) || !in.Take(8, &time) || !in.Take(2, &len))
      return false;
    if (kind > 0x7F || !IsJournaled(static_cast<Kind>(kind)) || len == 0 || len >= payload::kMaxName ||
        in.left < len || std::memchr(in.at, 0, len))
      return false;
    PlanEntry* e = AppendEntry(plan);
    if (!e) return false;
    e->kind = static_cast<Kind>(kind);
    e->size = static_cast<std::uint32_t>(entrySize);
    e->time = time;
    std::memcpy(e->name, in.at, len);
    e->name[len] = '\0';
    in.at += len;
    in.left -= len;
    // Nothing in it may point outside the folder it describes.
    if (!payload::IsSafeEntryName(e->name, !IsFile(e->kind)) || IsReservedName(e->name)) return false;
  }
  return in.left == 0;
}

}  // namespace update
