// Updates that carry only what changed since a previous release (mkupdater build --base): the
// files whose contents differ, the folders they need and the start-up files; and, added to
// the stored install.env, a [delfiles_afterinst] line for every file the release no longer has.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tree.h"

namespace mkupdater {

struct Delta {
  std::vector<std::string> added, changed, deleted;  // UTF-8 names; deleted: files of the base
  std::vector<std::string> staying;                  // folders gone that the updater cannot remove
  std::size_t leftOut = 0;                           // files equal to the base's, not packed
};

// Compares the walked new release (*entries, from root) with the base folder and drops from
// *entries every file equal to the base's and every folder that nothing packed needs. 0, or an
// exit code with the refusal printed (a name no deletion line can state, a file that became a
// folder or the other way round).
int PlanDelta(const std::string& root, const std::string& base, std::vector<Entry>* entries, Delta* delta);

// Adds the deletion lines and a summary comment to the code page 932 text of install.env:
// into its [delfiles_afterinst] section, or as a new one where the updater's section reader
// still reads.
void AddDeletionLines(const Delta& delta, std::string* env);

// The summary comment of a delta build's install.env, read back: false when the text has none.
// *deleted receives the deletion lines (code page 932).
bool ReadDeltaNote(const std::string& env, std::string* summary, std::vector<std::string>* deleted);

}  // namespace mkupdater
