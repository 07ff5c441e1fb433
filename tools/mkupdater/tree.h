// The folder to pack as records: what mkupdater build and its --base comparison walk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkupdater {

struct Entry {
  std::string rel;   // UTF-8, '/' separated, relative to the input folder
  std::string name;  // CP932, '\' separated: the record's name
  bool folder;
  std::uint64_t size;
  std::uint64_t time;
  bool inMemory = false;  // stored from data instead of the file (install.env)
  std::string data;
  std::string patchBase;  // the base's file (UTF-8 path) to carry it as a patch of, where one pays
};

// Rank of a top-level entry in the start-up group: 0 install.env, 1 insttscr.rct, 2 every
// name holding ".txt"; 3 everything else.
int StartupRank(const Entry& e);

// Every file and folder below root in the updater's order: a folder's files by name, then its
// subfolders, each folder's record before its content. Names are checked as the updater will
// read them. 0, or an exit code with the refusal printed.
int Walk(const std::string& root, std::vector<Entry>* out);
// What no player needs is left out of both walks: the system's thumbnail and folder-settings
// files (Thumbs.db, ehthumbs.db, desktop.ini, .DS_Store, ._*), version-control folders (.git,
// .svn, .hg, __MACOSX) and editor backups (*.bak, *~, *.swp), any case.
bool IsJunk(const std::string& name, bool folder);

struct WalkOptions {
  std::vector<std::string> keep;      // names (bare, or relative with '/') packed all the same
  std::vector<std::string>* leftOut;  // receives what was left out ('/' ends a folder), or none
};
// The same, going on past names the updater cannot take: each is printed as an error and
// counted in *errors; the exit code only for a folder that cannot be read.
int Walk(const std::string& root, std::vector<Entry>* out, int* errors, const WalkOptions& options);

}  // namespace mkupdater
