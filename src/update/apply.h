// Applying the update once the install folder is known.
#pragma once

namespace update {

// Writes the payload into the folder, transfers the INI and registry values, deletes the
// leftovers, shows the finish dialog, makes the folder current and opens the readme when
// the user ticked it. Returns 0: the update is done and the menu ends. A failed extraction
// ends the process here, after its report.
int ApplyUpdate(const char* installFolder);

}  // namespace update
