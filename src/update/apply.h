// Applying the update once the install folder is known.
#pragma once

namespace update {

// Writes the payload into the folder, transfers the INI and registry values, deletes the
// leftovers and shows the finish dialog. Returns 0 when the update is done (the menu then
// ends); the extraction's failures end the process inside it.
int ApplyUpdate(const char* installFolder);

}  // namespace update
