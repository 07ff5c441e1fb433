// Staging an update: the plan made from the payload and the folder, the journal on disk, the
// staged writes, the swap, and the way back.
#include "update/stage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "base/cp932.h"
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

// ---- The plan, from the payload and the folder as it is now ---------------------------------

struct PlanWalk {
  payload::LayoutVisitor visitor;  // first: the walk hands it back
  Plan* plan;
  const char* folder;
  StageFailure* failure;
  ParentFinder parents;
};

// Sorts every record into what it does to the folder as it is now; refuses reserved names
// and destinations that cannot take their record.
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
  const plat::PathKind now = parent >= 0 && plan->entries[parent].kind == Kind::NewFolder
                                 ? plat::PathKind::Missing
                                 : plat::QueryPath(dest.text);
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
  if (!rec.folder) {
    plan->fileBytes += rec.size;
    ++plan->files;
  }
  return true;
}

// The plan of the payload (src at its first record) for folder: every record with its kind,
// checked against what the folder holds now. False: Damaged, Blocked or Memory.
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

bool WriteJournal(const char* folder, const Plan& plan, StageFailure* failure) {
  const Path writing = PathIn(folder, kJournalWriting), journal = PathIn(folder, kJournalStaging);
  const std::size_t size = JournalSize(plan);
  base::Owned<> bytes = base::Allocate(size);
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

// ---- Putting back and carrying forward ------------------------------------------------------

// Undoes a staging, and a swap as far as it went, walking the plan backwards: installed files
// come back from their backups, staged and new files go, and so do the folders this update
// made (when they are empty). The journal goes last. On a failure it stays, for the next run.
bool Undo(const char* folder, const Plan& plan, StageFailure* failure) {
  for (std::size_t i = plan.count; i-- > 0;) {
    const PlanEntry& e = plan.entries[i];
    const EntryPaths p = PathsOf(folder, plan, i);
    if (e.kind == Kind::NewFolder) {  // empty by now, wherever it is
      plat::RemoveFolder(p.staged.text);
      plat::RemoveFolder(p.dest.text);
      continue;
    }
    if (!IsFile(e.kind)) continue;
    if (e.kind == Kind::Replace && Exists(p.backup.text)) {
      if (Exists(p.dest.text) && plat::DeletePath(p.dest.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, p.dest.text, plat::LastIoError());
      if (plat::RenamePath(p.backup.text, p.dest.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, p.dest.text, plat::LastIoError());
    }
    if (Exists(p.staged.text)) {
      if (plat::DeletePath(p.staged.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, p.staged.text, plat::LastIoError());
    } else if (e.kind == Kind::NewFile && plat::QueryPath(p.dest.text) == plat::PathKind::File) {
      // Swapped in already; only a file that is exactly the record's goes.
      std::uint64_t t = 0;
      if (plat::GetFileWriteTime(p.dest.text, &t) == 0 && t == e.time && plat::DeletePath(p.dest.text) != 0)
        return Fail(failure, StageFailure::UndoFailed, p.dest.text, plat::LastIoError());
    }
  }
  for (const char* name : {kJournalStaging, kJournalCommit}) {
    const Path journal = PathIn(folder, name);
    if (Exists(journal.text) && plat::DeletePath(journal.text) != 0)
      return Fail(failure, StageFailure::UndoFailed, journal.text, plat::LastIoError());
  }
  // The folders' own times moved with the files that came and went; they go back as well
  // (only a plan made in this run knows them).
  for (std::size_t i = 0; i < plan.count; ++i)
    if (plan.entries[i].kind == Kind::Existing && plan.entries[i].time)
      plat::SetFolderWriteTime(PathIn(folder, plan.entries[i].name).text, plan.entries[i].time);
  if (plan.folderTime) plat::SetFolderWriteTime(folder, plan.folderTime);
  return true;
}

// Deletes the backups of a finished swap, then its journal. A backup that stays keeps the
// journal, so that the next run clears it.
void DropBackups(const char* folder, const Plan& plan) {
  bool clean = true;
  for (std::size_t i = 0; i < plan.count; ++i) {
    if (plan.entries[i].kind != Kind::Replace) continue;
    const Path backup = PathsOf(folder, plan, i).backup;
    if (Exists(backup.text) && plat::DeletePath(backup.text) != 0) clean = false;
  }
  if (clean) plat::DeletePath(PathIn(folder, kJournalCommit).text);
}

// Moves one staged entry into place, the installed file aside first; a new folder, whole.
bool SwapIn(const EntryPaths& p, Kind kind) {
  if (!Exists(p.staged.text)) return true;  // in place already
  if (kind == Kind::Replace && Exists(p.dest.text)) {
    if (Exists(p.backup.text) && plat::DeletePath(p.backup.text) != 0)
      return false;  // left by an earlier run
    if (plat::RenamePath(p.dest.text, p.backup.text) != 0) return false;
  }
  return plat::RenamePath(p.staged.text, p.dest.text) == 0;
}

// Carries a swap forward to its end: everything staged into place, then the clean-up.
bool Forward(const char* folder, const Plan& plan, StageFailure* failure) {
  for (std::size_t i = 0; i < plan.count; ++i) {
    if (!Moves(plan, i)) continue;
    const EntryPaths p = PathsOf(folder, plan, i);
    if (!SwapIn(p, plan.entries[i].kind))
      return Fail(failure, StageFailure::UndoFailed, p.dest.text, plat::LastIoError());
  }
  DropBackups(folder, plan);
  return true;
}

// ---- Staged writes and the swap -------------------------------------------------------------

// Staged files go beside their destinations, and stay open until they are renamed into place
// (renaming an open file asks the system far less than opening it again); what a new folder
// holds is written straight into its staged twin. The extraction names each record by its
// place in the payload, which is its entry's in the plan.
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
  return plat::CreateOutFile(PathsOf(s->folder, *s->plan, i).staged.text);
}

int FinishStaged(payload::Output* output, std::size_t i, plat::OutFile* file, std::uint64_t time) {
  Staging* s = Of(output);
  const PlanEntry& e = s->plan->entries[i];
  // Inside a new folder, or a name that a later record takes: nothing renames it one by one.
  if (e.top >= 0 || e.kind == Kind::Superseded) return plat::CloseOutFile(file, time);
  plat::SetOutFileTime(file, time);  // its result is not looked at, as a closed file's is not
  s->open[i] = file;
  return 0;
}

// Puts back a failed swap; failure already says what failed.
bool RollBack(Staging* s, StageFailure* failure) {
  s->CloseAll();
  // A run cut off from here on undoes, too.
  plat::RenamePath(PathIn(s->folder, kJournalCommit).text, PathIn(s->folder, kJournalStaging).text);
  StageFailure undo;
  if (!Undo(s->folder, *s->plan, &undo)) *failure = undo;
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
    return RollBack(s, failure);
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
      return RollBack(s, failure);
    }
    if (s->open[i]) plat::CloseOutFile(s->open[i], 0);
    s->open[i] = nullptr;
  }
  DropBackups(folder, plan);
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
  const Path writing = PathIn(folder, kJournalWriting), staging = PathIn(folder, kJournalStaging),
             commit = PathIn(folder, kJournalCommit);
  if (Exists(writing.text)) plat::DeletePath(writing.text);  // cut off before anything was staged
  const bool forward = Exists(commit.text);
  if (!forward && !Exists(staging.text)) return true;
  const char* journal = forward ? commit.text : staging.text;
  Plan plan;
  std::unique_ptr<Plan, void (*)(Plan*)> planGuard(&plan, FreePlan);
  if (!ReadJournal(journal, &plan)) return Fail(failure, StageFailure::BadJournal, journal);
  MarkNewFolders(&plan);
  return forward ? Forward(folder, plan, failure) : Undo(folder, plan, failure);
}

}  // namespace update
