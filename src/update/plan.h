// The plan of a staged update: what each record of the payload does to the install folder,
// where its staged and backup copies lie, the names the staging keeps for itself, and the
// journal that carries the plan to the next run when this one is cut off. Data only: making
// the plan from the disk, and everything that writes, is the staging's (stage.h).
//
// The names, reserved: no payload name may end in the two suffixes, and the names at the top
// of the install folder that begin "kovela-update." are the journal's.
//   <name>.kovela-new       a staged file, beside its destination; or a folder that the update
//                           brings, staged whole with everything in it
//   <name>.kovela-old       the installed file it replaces, while the swap runs
//   kovela-update.writing   a journal while it is being written
//   kovela-update.journal   the journal while files are staged: nothing is in place yet
//   kovela-update.commit    the journal while the swap runs forward
//   kovela-update.unreadable-<n>  a journal that could not be trusted, set aside
// The staging never finds these names already there unless it made them: a name it did not
// make stops an update before anything is written, so whatever it later deletes or renames
// under them is its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/container.h"
#include "platform/platform.h"

namespace update {

constexpr char kStagedSuffix[] = ".kovela-new";
constexpr char kBackupSuffix[] = ".kovela-old";
constexpr char kJournalWriting[] = "kovela-update.writing";
constexpr char kJournalStaging[] = "kovela-update.journal";
constexpr char kJournalCommit[] = "kovela-update.commit";
constexpr char kJournalSetAside[] = "kovela-update.unreadable-%d";

// True when a record name (or its last component) is one the staging keeps for itself.
bool IsReservedName(const char* name);

// What a record does to the folder. The letters of the first four are the journal's.
enum class Kind : char {
  NewFolder = 'D',   // a folder this update creates
  NewFile = 'N',     // a file new to the folder
  Replace = 'R',     // a file that replaces an installed one
  Existing = 'E',    // a folder that exists: its own time is set back after an undo
  Superseded = 'X',  // a file whose name a later record takes (Windows does not tell case
                     // apart): it is written like the others and then left where it was staged
};
constexpr bool IsFile(Kind k) { return k == Kind::NewFile || k == Kind::Replace; }
constexpr bool IsJournaled(Kind k) { return k == Kind::NewFolder || k == Kind::Existing || IsFile(k); }

// One record of the payload as the update plans it.
struct PlanEntry {
  Kind kind;
  std::uint32_t size;  // files: the uncompressed size
  std::uint64_t time;  // files: the stored last-write time; Existing: the folder's own, to set back
  int top;             // the new folder the entry is staged in (the entry itself for one that is not
                       // inside another), or -1: files and folders inside it land with its one rename
  char name[payload::kMaxName];
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
// Room for one more entry at the end, or nullptr when the memory cannot be had.
PlanEntry* AppendEntry(Plan* plan);

// Finds the folder entry that holds a record among the plan's first `end` entries (-1 for the
// top of the install folder, or when the plan has none), remembering its last answer: the
// records of one folder come together.
struct ParentFinder {
  char name[payload::kMaxName] = {};
  long entry = -1;
  long Find(const Plan& plan, std::size_t end, const char* record);
};
// The new folder that entry i lies in (PlanEntry::top), given the entry of its parent.
int TopOf(const Plan& plan, std::size_t i, long parent);
// Sets every entry's top (a plan read back from a journal has none).
void MarkNewFolders(Plan* plan);
// Marks the earlier of two records whose names differ only in case Superseded: the later
// record's bytes are the ones the folder keeps. False when the memory cannot be had.
bool MarkSuperseded(Plan* plan);
// What the swap moves one by one: the new folders that are not inside another, and the files
// that are not inside a new folder.
bool Moves(const Plan& plan, std::size_t i);

// A path in the install folder, with room for a suffix beyond MAX_PATH.
struct Path {
  char text[2 * plat::kMaxPath];
};
// folder\name; an empty text when it would not fit.
Path PathIn(const char* folder, const char* name);
// Where an entry lands, where it is staged (beside its destination, or inside its new
// folder's staged twin) and where the file it replaces waits during the swap.
struct EntryPaths {
  Path dest, staged, backup;
};
EntryPaths PathsOf(const char* folder, const Plan& plan, std::size_t i);

// The journal: what the next run must know of the plan (its entries but superseded files, in
// plan order; the folders' own times). Bytes for a plan, and the plan back
// from them (false for damaged bytes, or a name that is unsafe or reserved: a journal is read
// from the folder it describes).
std::size_t JournalSize(const Plan& plan);
void EncodeJournal(const Plan& plan, unsigned char* out);
bool DecodeJournal(const unsigned char* data, std::size_t size, Plan* plan);

}  // namespace update
