// What the native tests script and read back of the stand-ins for the updater's windows, and
// the resets of module state that the tests need between cases. Product headers carry none
// of this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- The SETUP dialog (setup_dialog_fake.cpp) ----------------------------------------------
namespace update::host_setup {
// What the user does in the next SETUP dialogs; with nothing scripted the dialog is cancelled.
struct Step {
  bool next;             // "次へ" (else ｷｬﾝｾﾙ)
  std::string typed;     // the field's text when "次へ" is pressed
  std::string wander{};  // a folder that the dialog makes current (the shell's browser may), or ""
};
void Script(std::vector<Step> steps);
const std::vector<std::string>& OpenedWith();  // the texts the dialogs opened with
void Reset();
}  // namespace update::host_setup

// ---- The finish dialog (finish_fake.cpp) ---------------------------------------------------
namespace update {
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

// ---- Bitmap sections (surface_fake.cpp) -----------------------------------------------------
namespace image::internal {
void FailSectionCreations(int count);  // the next `count` section creations fail
}  // namespace image::internal

// ---- Module state kept by the product code, forgotten between cases -------------------------
namespace base {
void ResetBoxesForTests();  // the owner window
void ResetFilesForTests();  // plain-name lookup
}  // namespace base
namespace config {
void ResetForTests();  // the table, the section lists, every cache, the exit-action registration
}  // namespace config
