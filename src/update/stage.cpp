// Staging an update: the plan made from the payload and the folder, the journal on disk, the
// staged writes, the swap, and the way back.
#include "update/stage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "base/blocks.h"
#include "base/cp932.h"
#include "base/paths.h"
#include "payload/container.h"

namespace update {
namespace {

constexpr std::size_t kLongestJournal = 64u << 20;  // more than any real plan needs

bool Fail(StageFailure* failure, StageFailure::Kind kind, const char* path,
          plat::IoError io = plat::IoError::None) {
  failure->kind = kind;
  failure->io = io;
  std::snprintf(failure->path, sizeof failure->path, "%s", path);
  return false;
}

bool Exists(const char* path) { return plat::QueryPath(path) != plat::PathKind::Missing; }
// Something has the name: a file, a folder, or a link even when it leads nowhere.
bool Taken(const char* path) { return Exists(path) || plat::IsLink(path); }

// The length of a record name's folder part, without its separator.
std::size_t ParentLength(const char* name) {
  std::size_t start, end;
  paths::LastComponent(name, &start, &end);
  return start ? start - 1 : 0;
}

// ---- The plan, from the payload and the folder as it is now ---------------------------------

struct PlanWalk {
  payload::LayoutVisitor visitor;  // first: the walk hands it back
  Plan* plan;
  const char* folder;
  StageFailure* failure;
  ParentFinder parents;
  std::size_t cleared = 0;  // the leading folder part of the last record, known to hold no link
  char clearedName[payload::kMaxName] = {};
};

// Sorts every record into what it does to the folder as it is now; refuses reserved names,
// destinations that cannot take their record, links on the way, and names the staging would
// make that something already has.
bool VisitRecord(payload::LayoutVisitor* self, const payload::Record& rec, std::uint64_t time) {
  auto* walk = reinterpret_cast<PlanWalk*>(self);
  if (IsReservedName(rec.name)) {
    walk->failure->payload.fault = payload::Fault::Record;
    std::snprintf(walk->failure->payload.record, sizeof walk->failure->payload.record, "%s", rec.name);
    return Fail(walk->failure, StageFailure::Damaged, rec.name);
  }
  const Path dest = PathIn(walk->folder, rec.name);
  // Inside a folder that this update creates nothing can be there yet: no need to ask.
  Plan* plan = walk->plan;
  const long parent = walk->parents.Find(*plan, plan->count, rec.name);
  const bool insideNew = parent >= 0 && plan->entries[parent].kind == Kind::NewFolder;
  if (!insideNew) {  // nothing is written or deleted through a link
    const std::size_t n = ParentLength(rec.name);
    const bool known = n && walk->cleared == n && std::strncmp(walk->clearedName, rec.name, n) == 0;
    Path link;
    if (FindLink(walk->folder, rec.name, known ? n : 0, &link))
      return Fail(walk->failure, StageFailure::Link, link.text);
    std::memcpy(walk->clearedName, rec.name, n);
    walk->cleared = n;
  }
  const plat::PathKind now = insideNew ? plat::PathKind::Missing : plat::QueryPath(dest.text);
  Kind kind;
  if (rec.folder && now == plat::PathKind::Missing)
    kind = Kind::NewFolder;
  else if (rec.folder && now == plat::PathKind::Folder)
    kind = Kind::Existing;
  else if (!rec.folder && now == plat::PathKind::Missing)
    kind = Kind::NewFile;
  else if (!rec.folder && now == plat::PathKind::File)
    kind = Kind::Replace;
  else  // a read-only file, a folder where a file goes, or a file where a folder goes
    return Fail(walk->failure, StageFailure::Blocked, dest.text,
                now == plat::PathKind::ReadOnlyFile ? plat::IoError::Denied : plat::IoError::Other);
  PlanEntry* e = AppendEntry(plan);
  if (!e) return Fail(walk->failure, StageFailure::Memory, "");
  e->kind = kind;
  e->size = rec.size;
  e->time = time;
  if (kind == Kind::Existing && plat::GetFileWriteTime(dest.text, &e->time) != 0) e->time = 0;
  std::snprintf(e->name, sizeof e->name, "%s", rec.name);
  e->top = TopOf(*plan, plan->count - 1, parent);
  if (!insideNew && kind != Kind::Existing) {  // the names the staging makes must be free
    const EntryPaths p = PathsOf(walk->folder, *plan, plan->count - 1);
    if (Taken(p.staged.text)) return Fail(walk->failure, StageFailure::Stray, p.staged.text);
    if (kind == Kind::Replace && Taken(p.backup.text))
      return Fail(walk->failure, StageFailure::Stray, p.backup.text);
  }
  if (!rec.folder) {
    plan->fileBytes += rec.size;
    ++plan->files;
  }
  return true;
}

// The plan of the payload (src at its first record) for folder: every record with its kind,
// checked against what the folder holds now. False: Damaged, Blocked, Stray, Link or Memory.
bool MakePlan(payload::Source src, const char* folder, Plan* plan, StageFailure* failure) {
  if (plat::GetFileWriteTime(folder, &plan->folderTime) != 0) plan->folderTime = 0;
  PlanWalk walk{{VisitRecord}, plan, folder, failure, {}};
  switch (payload::CheckLayout(src, folder, &failure->payload, &walk.visitor)) {
    case payload::Layout::Damaged:
      return Fail(failure, StageFailure::Damaged, failure->payload.record);
    case payload::Layout::Stopped:
      return false;  // the visitor said why
    case payload::Layout::Sound:
      break;
  }
  return MarkSuperseded(plan) || Fail(failure, StageFailure::Memory, "");
}

bool RoomCheck(const char* folder, const Plan& plan, StageFailure* failure) {
  std::uint64_t free = 0;
  std::uint32_t cluster = 0;
  if (plat::FreeSpace(folder, &free, &cluster) != 0) return true;  // nothing known: the writes will tell
  const std::uint64_t unit = cluster ? cluster : 4096;
  std::uint64_t needed = (JournalSize(plan) + unit - 1) / unit * unit;
  for (std::size_t i = 0; i < plan.count; ++i)
    if (IsFile(plan.entries[i].kind))
      needed += (std::uint64_t(plan.entries[i].size) + unit - 1) / unit * unit;
  if (free >= needed) return true;
  failure->needed = needed;
  failure->free = free;
  return Fail(failure, StageFailure::NoRoom, folder);
}

// ---- The journal on disk --------------------------------------------------------------------

// Writes the plan's journal: whole, and on the disk, before it has the journal's name.
bool WriteJournal(const char* folder, const Plan& plan, StageFailure* failure) {
  const Path writing = PathIn(folder, kJournalWriting), journal = PathIn(folder, kJournalStaging);
  const std::size_t size = JournalSize(plan);
  base::Owned<> bytes = base::Allocate(size);
  if (!bytes) return Fail(failure, StageFailure::Memory, "");
  EncodeJournal(plan, bytes.get());
  plat::OutFile* out = plat::CreateNewOutFile(writing.text);
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
  return true;
}

bool ReadJournal(const char* path, Plan* plan) {
  std::FILE* f = plat::OpenFile(path, "rb");
  if (!f) return false;
  long n = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) n = std::ftell(f);
  if (n < 0 || static_cast<std::size_t>(n) > kLongestJournal || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(n);
  base::Owned<> bytes = base::Allocate(size);
  const bool read = bytes && std::fread(bytes.get(), 1, size, f) == size;
  std::fclose(f);
  return read && DecodeJournal(bytes.get(), size, plan);
}

// True when nothing that a journal read from the folder names lies behind a link, and no
// staged or backup name of it is one: obeying it can then touch nothing outside the folder.
bool Trustworthy(const char* folder, const Plan& plan) {
  for (std::size_t i = 0; i < plan.count; ++i) {
    const EntryPaths p = PathsOf(folder, plan, i);
    Path link;
    if (!p.dest.text[0] || !p.staged.text[0] || FindLink(folder, plan.entries[i].name, 0, &link) ||
        plat::IsLink(p.staged.text) || plat::IsLink(p.backup.text))
      return false;
  }
  return true;
}

// A journal that cannot be obeyed goes aside under a name of its own, so that it neither
// blocks later runs nor is lost to whoever looks into what happened.
bool SetAside(const char* folder, const char* journal, StageFailure* failure) {
  Fail(failure, StageFailure::BadJournal, journal);
  for (int n = 1; n < 100; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, kJournalSetAside, n);
    const Path aside = PathIn(folder, name);
    if (Taken(aside.text)) continue;
    if (plat::RenamePath(journal, aside.text) == 0)
      std::snprintf(failure->aside, sizeof failure->aside, "%s", aside.text);
    break;
  }
  return false;
}

// ---- Putting back and carrying forward ------------------------------------------------------

// Undoes a staging, walking the plan backwards: the staged copies go, and so do the staged
// twins of new folders (empty by then). Nothing in place is touched: a swap that failed was
// turned back into a staging first (Reverse), and one that was cut off goes forward. The
// journal goes last; on a failure it stays, for the next run.
bool Undo(const char* folder, const Plan& plan, StageFailure* failure) {
  for (std::size_t i = plan.count; i-- > 0;) {
    const PlanEntry& e = plan.entries[i];
    const Path staged = PathsOf(folder, plan, i).staged;
    if (e.kind == Kind::NewFolder)
      plat::RemoveFolder(staged.text);
    else if (IsFile(e.kind) && Exists(staged.text) && plat::DeletePath(staged.text) != 0)
      return Fail(failure, StageFailure::UndoFailed, staged.text, plat::LastIoError());
  }
  for (const char* name : {kJournalCommit, kJournalStaging}) {
    const Path journal = PathIn(folder, name);
    if (Exists(journal.text) && plat::DeletePath(journal.text) != 0)
      return Fail(failure, StageFailure::UndoFailed, journal.text, plat::LastIoError());
  }
  // The folders' own times moved with the files that came and went; they go back as well.
  for (std::size_t i = 0; i < plan.count; ++i)
    if (plan.entries[i].kind == Kind::Existing && plan.entries[i].time)
      plat::SetFolderWriteTime(PathIn(folder, plan.entries[i].name).text, plan.entries[i].time);
  if (plan.folderTime) plat::SetFolderWriteTime(folder, plan.folderTime);
  return true;
}

// Deletes the backups of a finished swap, then its journal. A backup that cannot go yet (a
// program still runs from it) keeps the journal, so that a later run clears it: false, with
// the backup in *failure.
bool DropBackups(const char* folder, const Plan& plan, StageFailure* failure) {
  bool clean = true;
  for (std::size_t i = 0; i < plan.count; ++i) {
    if (plan.entries[i].kind != Kind::Replace) continue;
    const Path backup = PathsOf(folder, plan, i).backup;
    if (Exists(backup.text) && plat::DeletePath(backup.text) != 0 && clean) {
      Fail(failure, StageFailure::CleanupPending, backup.text, plat::LastIoError());
      clean = false;
    }
  }
  if (clean) plat::DeletePath(PathIn(folder, kJournalCommit).text);
  return clean;
}

// Carries a swap that was cut off forward to its end: everything staged into place, then the
// clean-up.
bool Forward(const char* folder, const Plan& plan, StageFailure* failure) {
  for (std::size_t i = 0; i < plan.count; ++i) {
    if (!Moves(plan, i)) continue;
    const EntryPaths p = PathsOf(folder, plan, i);
    if (!Exists(p.staged.text)) continue;  // in place already
    if (plan.entries[i].kind == Kind::Replace && Exists(p.dest.text)) {
      // Not reached by the swap, so a backup there is not the staging's.
      if (Taken(p.backup.text))
        return Fail(failure, StageFailure::FinishFailed, p.backup.text, plat::IoError::Other);
      if (plat::RenamePath(p.dest.text, p.backup.text) != 0)
        return Fail(failure, StageFailure::FinishFailed, p.dest.text, plat::LastIoError());
    }
    if (plat::RenamePath(p.staged.text, p.dest.text) != 0)
      return Fail(failure, StageFailure::FinishFailed, p.dest.text, plat::LastIoError());
  }
  return DropBackups(folder, plan, failure);
}

// ---- Staged writes and the swap -------------------------------------------------------------

// Staged files go beside their destinations, and stay open until they are renamed into place
// (renaming an open file asks the system far less than opening it again); what a new folder
// holds is written straight into its staged twin. Every staged name is made here and now,
// never taken over. The extraction names each record by its place in the payload, which is its
// entry's in the plan.
struct Staging {
  payload::Output output;  // first: the extraction hands it back
  const char* folder;
  const Plan* plan;
  base::Owned<plat::OutFile*> open;  // per entry: the staged file, still open, or nullptr

  // Closes every staged file still open; they stay on disk.
  void CloseAll() {
    for (std::size_t i = 0; open && i < plan->count; ++i)
      if (open[i]) {
        plat::AbandonOutFile(open[i]);
        open[i] = nullptr;
      }
  }
  ~Staging() { CloseAll(); }
};

Staging* Of(payload::Output* output) { return reinterpret_cast<Staging*>(output); }

void MakeStagedFolder(payload::Output* output, std::size_t i) {
  const Staging* s = Of(output);
  if (i < s->plan->count && s->plan->entries[i].kind == Kind::NewFolder)
    plat::MakeFolder(PathsOf(s->folder, *s->plan, i).staged.text);
}

plat::OutFile* CreateStaged(payload::Output* output, std::size_t i) {
  const Staging* s = Of(output);
  if (i >= s->plan->count) return nullptr;
  return plat::CreateNewOutFile(PathsOf(s->folder, *s->plan, i).staged.text);
}

int FinishStaged(payload::Output* output, std::size_t i, plat::OutFile* file, std::uint64_t time) {
  Staging* s = Of(output);
  const PlanEntry& e = s->plan->entries[i];
  // A name that a later record takes: checked like the others, then out of the later one's way.
  if (e.kind == Kind::Superseded) {
    const int closed = plat::CloseOutFile(file, 0);
    return plat::DeletePath(PathsOf(s->folder, *s->plan, i).staged.text) == 0 ? closed : -1;
  }
  // Inside a new folder nothing renames it one by one.
  if (e.top >= 0) return plat::CloseOutFile(file, time);
  plat::SetOutFileTime(file, time);  // its result is not looked at, as a closed file's is not
  s->open[i] = file;
  return 0;
}

// Turns a swap that failed at the mover `at` back into a staging, walking back from there:
// what was moved into place goes back to its staged name, the installed file back from its
// backup. Renames only; the commit journal stays until it is done, so that a run cut off here
// carries the swap forward instead. False at the first rename that fails.
bool Reverse(const char* folder, const Plan& plan, std::size_t at) {
  for (std::size_t j = at + 1; j-- > 0;) {
    if (!Moves(plan, j)) continue;
    const EntryPaths p = PathsOf(folder, plan, j);
    if (!Exists(p.staged.text) && Exists(p.dest.text) && plat::RenamePath(p.dest.text, p.staged.text) != 0)
      return false;
    if (plan.entries[j].kind == Kind::Replace && !Exists(p.dest.text) && Exists(p.backup.text) &&
        plat::RenamePath(p.backup.text, p.dest.text) != 0)
      return false;
  }
  return true;
}

// Puts back a swap that failed at the mover `at`; failure already says what failed. Where
// the way back is blocked too, the swap is carried forward as far as it goes; what is left
// waits in the commit journal for the next run.
bool RollBack(Staging* s, std::size_t at, StageFailure* failure) {
  s->CloseAll();
  const char* folder = s->folder;
  if (!Reverse(folder, *s->plan, at)) {
    StageFailure forward;
    if (Forward(folder, *s->plan, &forward) || forward.kind == StageFailure::CleanupPending) return true;
    *failure = forward;
    return false;
  }
  // Staged again, as before the swap: from here on a run cut off undoes, too.
  if (plat::RenamePath(PathIn(folder, kJournalCommit).text, PathIn(folder, kJournalStaging).text) != 0)
    return Fail(failure, StageFailure::FinishFailed, PathIn(folder, kJournalCommit).text,
                plat::LastIoError());
  StageFailure undo;
  if (!Undo(folder, *s->plan, &undo)) *failure = undo;
  return false;
}

// The swap: the journal says so first; then each new folder is renamed into place whole, and
// file by file the installed one goes aside and the staged one, still open, takes its name.
bool Commit(Staging* s, StageFailure* failure) {
  const char* folder = s->folder;
  const Plan& plan = *s->plan;
  const Path journal = PathIn(folder, kJournalStaging), commit = PathIn(folder, kJournalCommit);
  // The staged bytes reach the disk before the journal says "swap": a swap that a power loss
  // cuts off is carried forward with whole files, never with what the cache had not written.
  // Where the volume cannot be flushed (no administrator), the cache's own order is all there is.
  plat::FlushVolume(folder);
  if (plat::RenamePath(journal.text, commit.text) != 0) {
    Fail(failure, StageFailure::Write, journal.text, plat::LastIoError());
    StageFailure undo;
    if (!Undo(folder, plan, &undo)) *failure = undo;
    return false;
  }
  for (std::size_t i = 0; i < plan.count; ++i) {
    if (!Moves(plan, i)) continue;
    const Kind kind = plan.entries[i].kind;
    const EntryPaths p = PathsOf(folder, plan, i);
    const bool failed = kind == Kind::NewFolder
                            ? plat::RenamePath(p.staged.text, p.dest.text) != 0
                            : (kind == Kind::Replace && plat::RenamePath(p.dest.text, p.backup.text) != 0) ||
                                  plat::RenameOutFile(s->open[i], p.dest.text) != 0;
    if (failed) {
      Fail(failure, StageFailure::Write, p.dest.text, plat::LastIoError());
      return RollBack(s, i, failure);
    }
    if (s->open[i]) plat::CloseOutFile(s->open[i], 0);
    s->open[i] = nullptr;
  }
  // The update has landed; a backup that a running program still holds goes in a later run.
  StageFailure unused;
  DropBackups(folder, plan, &unused);
  return true;
}

// An extraction that did not finish, told as the staging tells it.
void FailExtraction(const char* folder, const payload::Failure& pf, StageFailure* failure) {
  switch (pf.fault) {
    case payload::Fault::Create:
    case payload::Fault::Write:
      Fail(failure, StageFailure::Write, PathIn(folder, pf.record).text, pf.io);
      break;
    case payload::Fault::Stopped:
      Fail(failure, StageFailure::Stopped, "");
      break;
    case payload::Fault::Memory:
      Fail(failure, StageFailure::Memory, "");
      break;
    case payload::Fault::Base:
      Fail(failure, StageFailure::WrongBase, PathIn(folder, pf.record).text);
      break;
    default:
      failure->payload = pf;
      Fail(failure, StageFailure::Damaged, pf.record);
      break;
  }
}

}  // namespace

bool FindLink(const char* folder, const char* name, std::size_t from, Path* at) {
  Path p = PathIn(folder, name);
  if (!p.text[0]) return false;
  const std::size_t base = std::strlen(folder) + 1;
  for (std::size_t i = base + (from ? from + 1 : 0);; i += cp932::CharLength(p.text + i)) {
    const char c = p.text[i];
    if (c != '\\' && c != '/' && c != '\0') continue;
    if (i > base && p.text[i - 1] != '\\') {
      p.text[i] = '\0';
      if (plat::IsLink(p.text)) {
        *at = p;
        return true;
      }
      p.text[i] = c;
    }
    if (c == '\0') return false;
  }
}

bool StageUpdate(std::FILE* f, const char* folder, payload::Progress* progress, StageFailure* failure) {
  if (plat::QueryPath(folder) != plat::PathKind::Folder)
    return Fail(failure, StageFailure::NoFolder, folder, plat::IoError::NotFound);
  payload::Source src{};
  std::uint32_t length = 0;
  if (payload::LocatePayload(f, &src, &length) != 0) {
    failure->payload.fault = payload::Fault::Container;
    return Fail(failure, StageFailure::Damaged, "");
  }
  Plan plan;
  std::unique_ptr<Plan, void (*)(Plan*)> planGuard(&plan, FreePlan);
  if (!MakePlan(src, folder, &plan, failure) || !RoomCheck(folder, plan, failure)) return false;
  Staging staging{{MakeStagedFolder, CreateStaged, FinishStaged},
                  folder,
                  &plan,
                  base::Allocate<plat::OutFile*>(plan.count)};
  if (!staging.open) return Fail(failure, StageFailure::Memory, "");
  if (!WriteJournal(folder, plan, failure)) return false;
  payload::Failure pf;
  // The plan was made by walking the same layout: it is sound. A patch reads the installed file
  // it applies to in place, and checks it before it writes anything.
  if (payload::ExtractLocated(src, length, folder, payload::Mode::Full, progress, &pf, &staging.output, true,
                              folder) != 0) {
    staging.CloseAll();
    FailExtraction(folder, pf, failure);
    StageFailure undo;
    if (!Undo(folder, plan, &undo)) *failure = undo;
    return false;
  }
  return Commit(&staging, failure);
}

bool RecoverInterruptedUpdate(const char* folder, StageFailure* failure) {
  // A run cut off before its journal was whole leaves a file; anything else there is not the
  // staging's.
  // The journal's names hold files the staging wrote, or nothing; a link or a folder there is
  // someone else's, and stays as it is.
  auto notAFile = [](const char* path) {
    const plat::PathKind k = plat::QueryPath(path);
    return plat::IsLink(path) || (k != plat::PathKind::Missing && k != plat::PathKind::File);
  };
  const Path writing = PathIn(folder, kJournalWriting);
  if (notAFile(writing.text)) return Fail(failure, StageFailure::Stray, writing.text);
  if (Exists(writing.text)) plat::DeletePath(writing.text);
  for (const char* name : {kJournalCommit, kJournalStaging}) {
    const Path journal = PathIn(folder, name);
    if (notAFile(journal.text)) return Fail(failure, StageFailure::Stray, journal.text);
    if (!Exists(journal.text)) continue;
    Plan plan;
    std::unique_ptr<Plan, void (*)(Plan*)> planGuard(&plan, FreePlan);
    if (!ReadJournal(journal.text, &plan)) return SetAside(folder, journal.text, failure);
    MarkNewFolders(&plan);
    if (!Trustworthy(folder, plan)) return SetAside(folder, journal.text, failure);
    return name == kJournalCommit ? Forward(folder, plan, failure) : Undo(folder, plan, failure);
  }
  return true;
}

}  // namespace update
