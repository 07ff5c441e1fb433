// Applying the update once the install folder is known.
#pragma once

namespace update {

// Finishes or undoes an update of the folder that an earlier run left half done, writes the
// payload into the folder (staged: all of it lands or none of it), transfers the INI and
// registry values, deletes the leftovers, shows the finish dialog, makes the folder current
// and opens the readme when the user ticked it. Returns 0: the update is done and the menu
// ends. An update that cannot land ends the process here, after its report, with the folder
// as it was.
int ApplyUpdate(const char* installFolder);

}  // namespace update
