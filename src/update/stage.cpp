// Staging an update: plan, checks, journal, staged writes, swap, and the way back.
#include "update/stage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/paths.h"
#include "payload/container.h"

namespace update {
namespace {

constexpr char kJournalMagic[4] = {'K', 'V', 'U', '1'};
constexpr std::size_t kJournalHeader = 8;                  // magic, count
constexpr std::size_t kJournalEntryFixed = 1 + 4 + 8 + 2;  // kind, size, time, name length
constexpr std::size_t kLongestJournal = 64u << 20;         // more than any real plan needs

// A path below the folder, with room for a suffix beyond MAX_PATH.
struct Path {
  char text[2 * plat::kMaxPath];
};

// folder\name, and the same with a suffix; an empty text when it would not fit.
void Join(Path* out, const char* folder, const char* name, const char* suffix = "") {
  int n = std::snprintf(out->text, sizeof out->text, "%s\\%s%s", folder, name, suffix);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof out->text) out->text[0] = '\0';
}

void SetPath(StageFailure* failure, const char* path) {
  std::snprintf(failure->path, sizeof failure->path, "%s", path);
}

int Fail(StageFailure* failure, StageFailure::Kind kind, const char* path,
         plat::IoError io = plat::IoError::None) {
  failure->kind = kind;
  failure->io = io;
  SetPath(failure, path);
  return -1;
}

// Case-insensitive order of record names, double-byte aware (Windows folds ASCII letters).
bool NameLess(const PlanEntry* a, const PlanEntry* b) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char*>(a->name),
                           *q = reinterpret_cast<const unsigned char*>(b->name);
       ; ++p, ++q) {
    unsigned x = *p >= 'A' && *p <= 'Z' ? *p + 32u : *p, y = *q >= 'A' && *q <= 'Z' ? *q + 32u : *q;
    if (x != y || x == 0) return x < y;
  }
}

// ---- The plan -------------------------------------------------------------------------------

// The length of the folder part of a record name (without its separator), double-byte aware.
std::size_t ParentLength(const char* name) {
  std::size_t start, end;
  paths::LastComponent(name, &start, &end);
  return start ? start - 1 : 0;
}

// Finds the folder entry that holds a record among the plan's first `end` entries (-1 for the
// top of the install folder, or when the plan has none), remembering its last answer: the
// records of one folder come together.
struct ParentFinder {
  char name[payload::kMaxName] = {};
  long entry = -1;
  long Find(const Plan& plan, std::size_t end, const char* record) {
    const std::size_t n = ParentLength(record);
    if (n == 0) return -1;
    if (std::strncmp(name, record, n) == 0 && name[n] == '\0') return entry;
    std::memcpy(name, record, n);
    name[n] = '\0';
    for (entry = static_cast<long>(end); entry-- > 0;) {
      const PlanEntry& e = plan.entries[entry];
      if ((e.kind == 'D' || e.kind == 'E') && std::strncmp(e.name, record, n) == 0 &&
          (e.name[n] == '\0' || ((e.name[n] == '\\' || e.name[n] == '/') && e.name[n + 1] == '\0')))
        break;
    }
    return entry;
  }
};

// The new folder an entry lies in, from the entry of the folder that holds it (-1: none).
int TopOf(const Plan& plan, std::size_t i, long parent) {
  const PlanEntry& e = plan.entries[i];
  const bool inNew = parent >= 0 && plan.entries[parent].kind == 'D';
  if (e.kind == 'E') return -1;
  if (inNew) return plan.entries[parent].top;
  return e.kind == 'D' ? static_cast<int>(i) : -1;
}

struct PlanWalk {
  Plan* plan;
  const char* folder;
  StageFailure* failure;
  ParentFinder parents;
};

PlanEntry* Append(Plan* plan) {
  if (plan->count == plan->capacity) {
    std::size_t grown = plan->capacity ? plan->capacity * 2 : 64;
    void* p = std::realloc(plan->entries, grown * sizeof(PlanEntry));
    if (!p) return nullptr;
    plan->entries = static_cast<PlanEntry*>(p);
    plan->capacity = grown;
  }
  return &plan->entries[plan->count++];
}

// Sorts every record into what it does to the folder as it is now; refuses reserved names
// and destinations that cannot take their record.
int VisitRecord(void* context, const payload::Record& rec, std::uint64_t time) {
  auto* walk = static_cast<PlanWalk*>(context);
  if (IsReservedName(rec.name)) {
    walk->failure->payload.fault = payload::Fault::Record;
    std::snprintf(walk->failure->payload.record, sizeof walk->failure->payload.record, "%s", rec.name);
    Fail(walk->failure, StageFailure::Damaged, rec.name);
    return 1;
  }
  Path dest;
  Join(&dest, walk->folder, rec.name);
  // Inside a folder that this update creates nothing can be there yet: no need to ask.
  Plan* plan = walk->plan;
  const long parent = walk->parents.Find(*plan, plan->count, rec.name);
  const plat::PathKind now =
      parent >= 0 && plan->entries[parent].kind == 'D' ? plat::PathKind::Missing : plat::QueryPath(dest.text);
  char kind = 0;
  if (rec.folder) {
    kind = now == plat::PathKind::Missing ? 'D' : now == plat::PathKind::Folder ? 'E' : 0;
  } else if (now == plat::PathKind::Missing || now == plat::PathKind::File) {
    kind = now == plat::PathKind::Missing ? 'N' : 'R';
  }
  if (kind == 0) {
    // A read-only file, a folder where a file goes, or a file where a folder goes.
    Fail(walk->failure, StageFailure::Blocked, dest.text,
         now == plat::PathKind::ReadOnlyFile ? plat::IoError::Denied : plat::IoError::Other);
    return 1;
  }
  PlanEntry* e = Append(walk->plan);
  if (!e) {
    Fail(walk->failure, StageFailure::Memory, "");
    return 1;
  }
  e->kind = kind;
  e->size = rec.size;
  e->time = time;
  e->staged = nullptr;
  if (kind == 'E' && plat::GetFileWriteTime(dest.text, &e->time) != 0) e->time = 0;
  std::snprintf(e->name, sizeof e->name, "%s", rec.name);
  e->top = TopOf(*plan, plan->count - 1, parent);
  if (!rec.folder) {
    walk->plan->fileBytes += rec.size;
    ++walk->plan->files;
  }
  return 0;
}

// A name that comes twice (Windows does not tell case apart) is one file: the later record's
// bytes are the ones left staged, so its entry stays and the earlier one goes.
int DropRepeatedNames(Plan* plan, StageFailure* failure) {
  std::unique_ptr<PlanEntry*, void (*)(void*)> order(
      static_cast<PlanEntry**>(std::malloc(plan->count * sizeof(PlanEntry*) + 1)), std::free);
  if (!order) return Fail(failure, StageFailure::Memory, "");
  PlanEntry** o = order.get();
  for (std::size_t i = 0; i < plan->count; ++i) o[i] = &plan->entries[i];
  std::stable_sort(o, o + plan->count, NameLess);
  for (std::size_t i = 0; i + 1 < plan->count; ++i)
    if (!NameLess(o[i], o[i + 1]) && o[i]->kind != 'D' && o[i]->kind != 'E') o[i]->kind = 'X';
  return 0;
}

int ReadWhole(const char* path, std::unique_ptr<unsigned char, void (*)(void*)>* out, std::size_t* size) {
  std::FILE* f = plat::OpenFile(path, "rb");
  if (!f) return -1;
  long n = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) n = std::ftell(f);
  if (n < 0 || static_cast<std::size_t>(n) > kLongestJournal || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return -1;
  }
  out->reset(static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(n) + 1)));
  bool ok = *out && std::fread(out->get(), 1, static_cast<std::size_t>(n), f) == static_cast<std::size_t>(n);
  std::fclose(f);
  *size = static_cast<std::size_t>(n);
  return ok ? 0 : -1;
}

// ---- Putting back and carrying forward ------------------------------------------------------

bool Exists(const char* path) { return plat::QueryPath(path) != plat::PathKind::Missing; }

// Where an entry is staged: beside its destination, or inside its new folder's staged twin.
void StagedPath(const char* folder, const Plan& plan, std::size_t i, Path* out) {
  const PlanEntry& e = plan.entries[i];
  if (e.top < 0) return Join(out, folder, e.name, kStagedSuffix);
  const char* top = plan.entries[e.top].name;
  std::size_t start, n;  // n: the folder's name without the separator a folder record may end in
  paths::LastComponent(top, &start, &n);
  const int r = std::snprintf(out->text, sizeof out->text, "%s\\%.*s%s%s", folder, static_cast<int>(n), top,
                              kStagedSuffix, e.name[n] ? e.name + n : "");
  if (r < 0 || static_cast<std::size_t>(r) >= sizeof out->text) out->text[0] = '\0';
}

// Undoes a staging, and a swap as far as it went, walking the plan backwards: installed files
// come back from their backups, staged and new files go, and so do the folders this update
// made (when they are empty). The journal goes last. On a failure it stays, for the next run.
int Undo(const char* folder, const Plan& plan, StageFailure* failure) {
  for (std::size_t i = plan.count; i-- > 0;) {
    const PlanEntry& e = plan.entries[i];
    Path dest, staged, backup;
    Join(&dest, folder, e.name);
    StagedPath(folder, plan, i, &staged);
    Join(&backup, folder, e.name, kBackupSuffix);
    if (e.kind == 'D') {  // empty by now, wherever it is
      plat::RemoveFolder(staged.text);
      plat::RemoveFolder(dest.text);
      continue;
    }
    if (e.kind != 'N' && e.kind != 'R') continue;
    if (e.kind == 'R' && Exists(backup.text)) {
      if (Exists(dest.text) && plat::DeletePath(dest.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, dest.text, plat::LastIoError());
      if (plat::RenamePath(backup.text, dest.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, dest.text, plat::LastIoError());
    }
    if (Exists(staged.text)) {
      if (plat::DeletePath(staged.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, staged.text, plat::LastIoError());
    } else if (e.kind == 'N' && plat::QueryPath(dest.text) == plat::PathKind::File) {
      // Swapped in already; only a file that is exactly the record's goes.
      std::uint64_t t = 0;
      if (plat::GetFileWriteTime(dest.text, &t) == 0 && t == e.time && plat::DeletePath(dest.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, dest.text, plat::LastIoError());
    }
  }
  for (const char* name : {kJournalStaging, kJournalCommit}) {
    Path journal;
    Join(&journal, folder, name);
    if (Exists(journal.text) && plat::DeletePath(journal.text) != 0)
      return Fail(failure, StageFailure::UndoFailed, journal.text, plat::LastIoError());
  }
  // The folders' own times moved with the files that came and went; they go back as well
  // (only a plan made in this run knows them).
  for (std::size_t i = 0; i < plan.count; ++i) {
    Path dest;
    Join(&dest, folder, plan.entries[i].name);
    if (plan.entries[i].kind == 'E' && plan.entries[i].time)
      plat::SetFolderWriteTime(dest.text, plan.entries[i].time);
  }
  if (plan.folderTime) plat::SetFolderWriteTime(folder, plan.folderTime);
  return 0;
}

// Deletes the backups of a finished swap, then its journal. A backup that stays keeps the
// journal, so that the next run clears it.
void DropBackups(const char* folder, const Plan& plan) {
  bool clean = true;
  for (std::size_t i = 0; i < plan.count; ++i) {
    if (plan.entries[i].kind != 'R') continue;
    Path backup;
    Join(&backup, folder, plan.entries[i].name, kBackupSuffix);
    if (Exists(backup.text) && plat::DeletePath(backup.text) != 0) clean = false;
  }
  Path journal;
  Join(&journal, folder, kJournalCommit);
  if (clean) plat::DeletePath(journal.text);
}

// Moves one staged file into place, the installed one aside first; a new folder, whole.
int SwapIn(const char* folder, const Plan& plan, std::size_t i, Path* at) {
  const PlanEntry& e = plan.entries[i];
  Path staged, backup;
  Join(at, folder, e.name);
  StagedPath(folder, plan, i, &staged);
  Join(&backup, folder, e.name, kBackupSuffix);
  if (!Exists(staged.text)) return 0;  // in place already
  if (e.kind == 'R' && Exists(at->text)) {
    if (Exists(backup.text) && plat::DeletePath(backup.text) != 0) return -1;  // left by an earlier run
    if (plat::RenamePath(at->text, backup.text) != 0) return -1;
  }
  return plat::RenamePath(staged.text, at->text);
}

// What the swap moves: the new folders that are not inside another, and the files that are
// not inside a new folder.
bool Moves(const Plan& plan, std::size_t i) {
  const PlanEntry& e = plan.entries[i];
  return (e.kind == 'D' && e.top == static_cast<int>(i)) || ((e.kind == 'N' || e.kind == 'R') && e.top < 0);
}

// Carries a swap forward to its end: everything staged into place, then the clean-up.
int Forward(const char* folder, const Plan& plan, StageFailure* failure) {
  for (std::size_t i = 0; i < plan.count; ++i) {
    Path at;
    if (Moves(plan, i) && SwapIn(folder, plan, i, &at) != 0)
      return Fail(failure, StageFailure::UndoFailed, at.text, plat::LastIoError());
  }
  DropBackups(folder, plan);
  return 0;
}

// ---- Staging --------------------------------------------------------------------------------

int WriteJournal(const char* folder, const Plan& plan, StageFailure* failure) {
  Path writing, journal;
  Join(&writing, folder, kJournalWriting);
  Join(&journal, folder, kJournalStaging);
  const std::size_t size = JournalSize(plan);
  std::unique_ptr<unsigned char, void (*)(void*)> bytes(static_cast<unsigned char*>(std::malloc(size)),
                                                        std::free);
  if (!bytes) return Fail(failure, StageFailure::Memory, "");
  EncodeJournal(plan, bytes.get());
  plat::OutFile* out = plat::CreateOutFile(writing.text);
  if (!out) return Fail(failure, StageFailure::Blocked, writing.text, plat::LastIoError());
  if (plat::WriteOutFile(out, bytes.get(), size) != 0) {
    plat::IoError io = plat::LastIoError();
    plat::AbandonOutFile(out);
    plat::DeletePath(writing.text);
    return Fail(failure, StageFailure::Blocked, writing.text, io);
  }
  // On the disk before it is taken for a journal: a run cut off by a power loss finds it whole.
  if (plat::FlushOutFile(out) != 0 || plat::CloseOutFile(out, 0) != 0 ||
      plat::RenamePath(writing.text, journal.text) != 0) {
    plat::IoError io = plat::LastIoError();
    plat::DeletePath(writing.text);
    return Fail(failure, StageFailure::Blocked, journal.text, io);
  }
  return 0;
}

// Staged files go beside their destinations, and stay open until they are renamed into place
// (renaming an open file asks the system far less than opening it again); what a new folder
// holds is written straight into its staged twin. The extraction meets the records in the
// plan's order, one entry each.
struct Staging {
  payload::Output output;
  const char* folder;
  Plan* plan;
  std::size_t next;    // the plan entry of the next record
  PlanEntry* current;  // the file being written
};

void MakeStagedFolder(payload::Output* output, const char* /*path*/) {
  auto* s = reinterpret_cast<Staging*>(output);
  if (s->next >= s->plan->count) return;
  const std::size_t i = s->next++;
  Path staged;
  StagedPath(s->folder, *s->plan, i, &staged);
  if (s->plan->entries[i].kind == 'D') plat::MakeFolder(staged.text);
}

plat::OutFile* CreateStaged(payload::Output* output, const char* /*path*/) {
  auto* s = reinterpret_cast<Staging*>(output);
  if (s->next >= s->plan->count) return nullptr;
  const std::size_t i = s->next++;
  s->current = &s->plan->entries[i];
  Path staged;
  StagedPath(s->folder, *s->plan, i, &staged);
  return plat::CreateOutFile(staged.text);
}

int FinishStaged(payload::Output* output, plat::OutFile* file, std::uint64_t time) {
  auto* s = reinterpret_cast<Staging*>(output);
  // Inside a new folder, or a name that a later record takes: nothing renames it one by one.
  if (s->current->top >= 0 || s->current->kind == 'X') return plat::CloseOutFile(file, time);
  plat::SetOutFileTime(file, time);  // its result is not looked at, as a closed file's is not
  s->current->staged = file;
  return 0;
}

// Closes every staged file still open; they stay on disk.
void CloseStaged(Plan* plan) {
  for (std::size_t i = 0; i < plan->count; ++i)
    if (plan->entries[i].staged) {
      plat::AbandonOutFile(plan->entries[i].staged);
      plan->entries[i].staged = nullptr;
    }
}

int RoomCheck(const char* folder, const Plan& plan, StageFailure* failure) {
  std::uint64_t free = 0;
  std::uint32_t cluster = 0;
  if (plat::FreeSpace(folder, &free, &cluster) != 0) return 0;  // nothing known: the writes will tell
  const std::uint64_t unit = cluster ? cluster : 4096;
  std::uint64_t needed = (JournalSize(plan) + unit - 1) / unit * unit;
  for (std::size_t i = 0; i < plan.count; ++i)
    if (plan.entries[i].kind == 'N' || plan.entries[i].kind == 'R')
      needed += (std::uint64_t(plan.entries[i].size) + unit - 1) / unit * unit;
  if (free >= needed) return 0;
  failure->needed = needed;
  failure->free = free;
  return Fail(failure, StageFailure::NoRoom, folder);
}

// Puts back a failed swap; failure already says what failed.
int RollBack(const char* folder, Plan* plan, StageFailure* failure) {
  CloseStaged(plan);
  Path commit, journal;
  Join(&commit, folder, kJournalCommit);
  Join(&journal, folder, kJournalStaging);
  plat::RenamePath(commit.text, journal.text);  // a run cut off from here on undoes, too
  StageFailure undo;
  if (Undo(folder, *plan, &undo) != 0) *failure = undo;
  return -1;
}

// The swap: the journal says so first; then each new folder is renamed into place whole, and
// file by file the installed one goes aside and the staged one, still open, takes its name.
int Commit(const char* folder, Plan* plan, StageFailure* failure) {
  Path journal, commit;
  Join(&journal, folder, kJournalStaging);
  Join(&commit, folder, kJournalCommit);
  // The staged bytes reach the disk before the journal says "swap": a swap that a power loss
  // cuts off is carried forward with whole files, never with what the cache had not written.
  // Where the volume cannot be flushed (no administrator), the cache's own order is all there is.
  plat::FlushVolume(folder);
  if (plat::RenamePath(journal.text, commit.text) != 0) {
    Fail(failure, StageFailure::Write, journal.text, plat::LastIoError());
    return RollBack(folder, plan, failure);
  }
  for (std::size_t i = 0; i < plan->count; ++i) {
    if (!Moves(*plan, i)) continue;
    PlanEntry& e = plan->entries[i];
    Path dest, backup, staged;
    Join(&dest, folder, e.name);
    Join(&backup, folder, e.name, kBackupSuffix);
    StagedPath(folder, *plan, i, &staged);
    const bool failed = e.kind == 'D' ? plat::RenamePath(staged.text, dest.text) != 0
                                      : (e.kind == 'R' && plat::RenamePath(dest.text, backup.text) != 0) ||
                                            plat::RenameOutFile(e.staged, dest.text) != 0;
    if (failed) {
      Fail(failure, StageFailure::Write, dest.text, plat::LastIoError());
      return RollBack(folder, plan, failure);
    }
    if (e.staged) plat::CloseOutFile(e.staged, 0);
    e.staged = nullptr;
  }
  DropBackups(folder, *plan);
  return 0;
}

}  // namespace

void MarkNewFolders(Plan* plan) {
  ParentFinder parents;
  for (std::size_t i = 0; i < plan->count; ++i)
    plan->entries[i].top = TopOf(*plan, i, parents.Find(*plan, i, plan->entries[i].name));
}

void FreePlan(Plan* plan) {
  CloseStaged(plan);
  std::free(plan->entries);
  *plan = Plan{};
}

int MakePlan(std::FILE* f, const char* folder, Plan* plan, StageFailure* failure) {
  if (plat::QueryPath(folder) != plat::PathKind::Folder)
    return Fail(failure, StageFailure::NoFolder, folder, plat::IoError::NotFound);
  payload::Source src{};
  std::uint32_t length = 0;
  if (payload::LocatePayload(f, &src, &length) != 0) {
    failure->payload.fault = payload::Fault::Container;
    return Fail(failure, StageFailure::Damaged, "");
  }
  if (plat::GetFileWriteTime(folder, &plan->folderTime) != 0) plan->folderTime = 0;
  PlanWalk walk{plan, folder, failure, {}};
  int r = payload::CheckLayout(src, folder, &failure->payload, VisitRecord, &walk);
  if (r < 0) return Fail(failure, StageFailure::Damaged, failure->payload.record);
  if (r > 0) return -1;  // the visitor said why
  return DropRepeatedNames(plan, failure);
}

// Journal layout (little-endian), the plan of one update; folders that exist are left out:
//   0  4  "KVU1"
//   4  4  u32 n, the number of entries
//   8     n entries:  u8 kind ('D', 'N', 'R')  u32 size  u64 time  u16 L (1..259)  L bytes name
std::size_t JournalSize(const Plan& plan) {
  std::size_t size = kJournalHeader;
  for (std::size_t i = 0; i < plan.count; ++i)
    if (plan.entries[i].kind != 'E' && plan.entries[i].kind != 'X')
      size += kJournalEntryFixed + std::strlen(plan.entries[i].name);
  return size;
}

void EncodeJournal(const Plan& plan, unsigned char* out) {
  auto put = [&out](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) *out++ = static_cast<unsigned char>(v >> (8 * i));
  };
  std::memcpy(out, kJournalMagic, 4);
  out += 4;
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < plan.count; ++i)
    n += plan.entries[i].kind != 'E' && plan.entries[i].kind != 'X';
  put(n, 4);
  for (std::size_t i = 0; i < plan.count; ++i) {
    const PlanEntry& e = plan.entries[i];
    if (e.kind == 'E' || e.kind == 'X') continue;
    const std::size_t len = std::strlen(e.name);
    put(static_cast<unsigned char>(e.kind), 1);
    put(e.size, 4);
    put(e.time, 8);
    put(len, 2);
    std::memcpy(out, e.name, len);
    out += len;
  }
}

int DecodeJournal(const unsigned char* data, std::size_t size, Plan* plan) {
  std::size_t pos = 0;
  auto get = [&](int bytes, std::uint64_t* v) {
    if (size - pos < static_cast<std::size_t>(bytes)) return false;
    *v = 0;
    for (int i = 0; i < bytes; ++i) *v |= std::uint64_t(data[pos + i]) << (8 * i);
    pos += bytes;
    return true;
  };
  std::uint64_t count = 0;
  if (size < kJournalHeader || std::memcmp(data, kJournalMagic, 4) != 0) return -1;
  pos = 4;
  get(4, &count);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t kind, entrySize, time, len;
    if (!get(1, &kind) || !get(4, &entrySize) || !get(8, &time) || !get(2, &len)) return -1;
    if ((kind != 'D' && kind != 'N' && kind != 'R') || len == 0 || len >= payload::kMaxName ||
        size - pos < len || std::memchr(data + pos, 0, len))
      return -1;
    PlanEntry* e = Append(plan);
    if (!e) return -1;
    e->staged = nullptr;
    e->top = -1;
    e->kind = static_cast<char>(kind);
    e->size = static_cast<std::uint32_t>(entrySize);
    e->time = time;
    std::memcpy(e->name, data + pos, len);
    e->name[len] = '\0';
    pos += len;
    // A journal is read from the folder it describes: nothing in it may point outside.
    if (!payload::IsSafeEntryName(e->name, kind == 'D') || IsReservedName(e->name)) return -1;
  }
  return pos == size ? 0 : -1;
}

int StageUpdate(std::FILE* f, const char* folder, payload::Progress* progress, StageFailure* failure) {
  Plan plan;
  std::unique_ptr<Plan, void (*)(Plan*)> planGuard(&plan, FreePlan);
  if (MakePlan(f, folder, &plan, failure) != 0 || RoomCheck(folder, plan, failure) != 0 ||
      WriteJournal(folder, plan, failure) != 0)
    return -1;
  Staging staging = {{MakeStagedFolder, CreateStaged, FinishStaged}, folder, &plan, 0, nullptr};
  payload::Failure pf;
  // The plan was made by walking the same layout: it is sound.
  if (payload::ExtractFrom(f, folder, payload::Mode::Full, progress, &pf, &staging.output, true) != 0) {
    CloseStaged(&plan);
    Path at;
    Join(&at, folder, pf.record);
    switch (pf.fault) {
      case payload::Fault::Create:
      case payload::Fault::Write:
        Fail(failure, StageFailure::Write, at.text, pf.io);
        break;
      case payload::Fault::Stopped:
        Fail(failure, StageFailure::Stopped, "");
        break;
      case payload::Fault::Memory:
        Fail(failure, StageFailure::Memory, "");
        break;
      default:
        failure->payload = pf;
        Fail(failure, StageFailure::Damaged, pf.record);
        break;
    }
    StageFailure undo;
    if (Undo(folder, plan, &undo) != 0) *failure = undo;
    return -1;
  }
  return Commit(folder, &plan, failure);
}

int RecoverInterruptedUpdate(const char* folder, StageFailure* failure) {
  Path writing, staging, commit;
  Join(&writing, folder, kJournalWriting);
  Join(&staging, folder, kJournalStaging);
  Join(&commit, folder, kJournalCommit);
  if (Exists(writing.text)) plat::DeletePath(writing.text);  // cut off before anything was staged
  const bool forward = Exists(commit.text);
  if (!forward && !Exists(staging.text)) return 0;
  const char* journal = forward ? commit.text : staging.text;
  std::unique_ptr<unsigned char, void (*)(void*)> bytes(nullptr, std::free);
  std::size_t size = 0;
  Plan plan;
  std::unique_ptr<Plan, void (*)(Plan*)> planGuard(&plan, FreePlan);
  if (ReadWhole(journal, &bytes, &size) != 0 || DecodeJournal(bytes.get(), size, &plan) != 0)
    return Fail(failure, StageFailure::BadJournal, journal);
  MarkNewFolders(&plan);
  return forward ? Forward(folder, plan, failure) : Undo(folder, plan, failure);
}

}  // namespace update
