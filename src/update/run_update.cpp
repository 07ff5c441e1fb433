// The update action.
#include "shell/shell.h"
#include "update/update.h"

namespace update {

namespace text {
const char kAbandoned[] = "アップデートを中止しました";
}  // namespace text

// Until locating and applying exist, the action is abandoned at once.
int RunUpdate() {
  shell::ReportError(text::kAbandoned);
  return -1;
}

}  // namespace update
