// Staging an update, so that it lands whole or leaves no trace.
//
// Every file of the payload is first written beside its destination under a staged name. Only
// when every record has been written and found sound are the installed files swapped for the
// staged ones; a failure before or during the swap puts everything back as it was. A journal
// in the install folder holds the plan for as long as files are staged or swapped, so that
// the next run can finish a swap that was cut off, or undo the staging.
//
// The names, reserved: no payload name may end in the two suffixes, and the journal's three
// names are taken at the top of the install folder.
//   <name>.kovela-new       a staged file, beside its destination; or a folder that the update
//                           brings, staged whole with everything in it
//   <name>.kovela-old       the installed file it replaces, while the swap runs
//   kovela-update.writing   the journal while it is being written
//   kovela-update.journal   the journal while files are staged (or a swap is undone)
//   kovela-update.commit    the journal while the swap runs forward
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/extract.h"
#include "platform/platform.h"

namespace update {

constexpr char kStagedSuffix[] = ".kovela-new";
constexpr char kBackupSuffix[] = ".kovela-old";
constexpr char kJournalWriting[] = "kovela-update.writing";
constexpr char kJournalStaging[] = "kovela-update.journal";
constexpr char kJournalCommit[] = "kovela-update.commit";

// True when a record name (or its last component) is one the staging keeps for itself.
bool IsReservedName(const char* name);

// One record of the payload as the update plans it.
struct PlanEntry {
  char kind;           // 'D' a folder this update creates, 'N' a file new to the folder,
                       // 'R' a file that replaces an installed one, 'E' a folder that exists
  std::uint32_t size;  // files: the uncompressed size
  std::uint64_t time;  // files: the stored last-write time; 'E': the folder's own, to set back
  char name[payload::kMaxName];
  plat::OutFile* staged;  // files: the staged file, kept open until it is renamed into place
  int top;                // the new folder the entry is staged in (the entry itself for one that is not
                          // inside another), or -1: files and folders inside it land with its one rename
};

struct Plan {
  PlanEntry* entries = nullptr;  // in payload order: every folder before what it holds
  std::size_t count = 0;
  std::size_t capacity = 0;
  std::uint64_t fileBytes = 0;  // the files' sizes together
  std::size_t files = 0;
  std::uint64_t folderTime = 0;  // the install folder's own last-write time
};
void FreePlan(Plan* plan);
// Marks every entry with the new folder it lies in (PlanEntry::top).
void MarkNewFolders(Plan* plan);

// What went wrong, and where.
struct StageFailure {
  enum Kind {
    None,
    Damaged,     // the payload (payload's fault and record)
    NoFolder,    // the install folder is missing or is not a folder
    NoRoom,      // the volume cannot hold the staged files: needed and free below
    Blocked,     // a destination cannot be written or replaced (path, io)
    Write,       // writing or swapping a file failed (path, io); everything was put back
    Stopped,     // the extraction's watcher stopped it; everything was put back
    Memory,      // the extraction's buffers could not be had; everything was put back
    UndoFailed,  // putting back failed at path (io); the journal stays for the next run
    BadJournal,  // a journal left by an earlier run cannot be read (path)
  } kind = None;
  plat::IoError io = plat::IoError::None;
  char path[2 * plat::kMaxPath] = {};
  std::uint64_t needed = 0, free = 0;  // NoRoom, in bytes
  payload::Failure payload;            // Damaged
};

// The whole staged extraction of the open container f into folder (no trailing backslash):
// plan, checks, journal, staging under the watcher, swap, clean-up. 0 when the new files are
// in place; -1 with *failure filled, the folder as it was (but for UndoFailed).
int StageUpdate(std::FILE* f, const char* folder, payload::Progress* progress, StageFailure* failure);

// Finishes or undoes what an earlier run left in folder: a commit journal is carried forward,
// a staging journal is undone, a journal still being written is dropped. 0 when there was
// nothing to do or it was done; -1 with *failure filled (UndoFailed or BadJournal).
int RecoverInterruptedUpdate(const char* folder, StageFailure* failure);

// ---- Parts, for the tests -----------------------------------------------------------------
// The plan of the container (positioned at its start) for folder: every record with its
// kind, checked against what the folder holds now. 0, or -1 (Damaged, NoFolder, Blocked).
int MakePlan(std::FILE* f, const char* folder, Plan* plan, StageFailure* failure);
// The journal's bytes for a plan, and the plan back from them (0 / -1 for damaged bytes).
std::size_t JournalSize(const Plan& plan);
void EncodeJournal(const Plan& plan, unsigned char* out);
int DecodeJournal(const unsigned char* data, std::size_t size, Plan* plan);

}  // namespace update
