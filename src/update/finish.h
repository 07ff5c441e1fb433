// The finish dialog shown once the update is in place.
#pragma once

namespace update {

// Shows ENDINSTALL (a readme check box labelled with the INSTREADME text) or, when
// INSTREADME begins with "-", ENDINSTALL_SHORT; modal, owned by the menu window.
void ShowFinishDialog();
// 1 when the user ticked the readme box and closed the dialog with OK, else 0.
int ReadmeAfterFinish();

// ---- Native builds only: the stand-in dialog answers as scripted -------------------------
enum class FinishAnswer { OkTicked, Ok, Escape };
void ScriptFinishAnswer(FinishAnswer answer);  // the answer of the next dialogs (default Ok)
struct FinishShown {
  const char* templateName;  // "ENDINSTALL" or "ENDINSTALL_SHORT", nullptr before the first
  const char* label;         // the check box text (ENDINSTALL only)
  int count;                 // dialogs shown since ResetFinishForTests
};
FinishShown LastFinishDialog();
void ResetFinishForTests();

}  // namespace update
