// Staging an update, so that it lands whole or leaves no trace.
//
// Every file of the payload is first written beside its destination under a staged name. Only
// when every record has been written and found sound are the installed files swapped for the
// staged ones; a failure before or during the swap puts everything back as it was. A journal
// in the install folder holds the plan for as long as files are staged or swapped, so that
// the next run can finish a swap that was cut off, or undo the staging. The plan, its paths
// and the reserved names: plan.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/extract.h"
#include "platform/platform.h"
#include "update/plan.h"

namespace update {

// What went wrong, and where.
struct StageFailure {
  enum Kind {
    None,
    Damaged,         // the payload (payload's fault and record)
    NoFolder,        // the install folder is missing or is not a folder
    NoRoom,          // the volume cannot hold the staged files: needed and free below
    Blocked,         // a destination cannot be written or replaced (path, io)
    Stray,           // a name the staging keeps for itself is there, and this run did not make it (path)
    Link,            // a folder or file of the update's is a link that leads elsewhere (path)
    Write,           // writing or swapping a file failed (path, io); everything was put back
    Stopped,         // the extraction's watcher stopped it; everything was put back
    Memory,          // the extraction's buffers could not be had; everything was put back
    UndoFailed,      // putting back failed at path (io); the journal stays for the next run
    FinishFailed,    // carrying an earlier run's swap forward failed at path (io); the journal stays
    CleanupPending,  // an earlier update landed, but a file it replaced (path) cannot be deleted
                     // yet (io); its journal stays, and nothing else was done
    BadJournal,      // a journal left by an earlier run cannot be read or trusted (path); it was
                     // set aside as `aside` (empty when it could not be moved) and not obeyed
    WrongBase,       // a patch's installed file (path) is missing or not the one it was made for;
                     // everything was put back
  } kind = None;
  plat::IoError io = plat::IoError::None;
  char path[sizeof(Path::text)] = {};
  char aside[sizeof(Path::text)] = {};  // BadJournal
  std::uint64_t needed = 0, free = 0;   // NoRoom, in bytes
  payload::Failure payload;             // Damaged
};

// The whole staged extraction of the open container f into folder (no trailing backslash):
// plan, checks, journal, staging under the watcher, swap, clean-up. True when the new files
// are in place; false with *failure filled, the folder as it was (but for UndoFailed).
bool StageUpdate(std::FILE* f, const char* folder, payload::Progress* progress, StageFailure* failure);

// Finishes or undoes what an earlier run left in folder: a commit journal is carried forward,
// a staging journal is undone, a journal still being written is dropped; a link or a folder at
// one of the journal's names is left alone (Stray). True when there was nothing to do or it was
// done; false with *failure filled (UndoFailed, FinishFailed, CleanupPending, Stray or
// BadJournal).
bool RecoverInterruptedUpdate(const char* folder, StageFailure* failure);

// The first link on the way from folder to folder\name: each folder on the way, then the name
// itself (the first `from` bytes of name are known to hold none), into *at. False when there
// is none.
bool FindLink(const char* folder, const char* name, std::size_t from, Path* at);

}  // namespace update
