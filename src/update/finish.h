// The finish dialog shown once the update is in place.
#pragma once

namespace update {

// Shows ENDINSTALL (a readme check box labelled with the INSTREADME text) or, when
// INSTREADME begins with "-", ENDINSTALL_SHORT; modal, owned by the menu window.
void ShowFinishDialog();
// True when the user ticked the readme box and closed the dialog with OK.
bool ReadmeAfterFinish();

}  // namespace update
