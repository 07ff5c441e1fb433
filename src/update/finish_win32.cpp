// The finish dialogs ENDINSTALL and ENDINSTALL_SHORT.
#include <windows.h>

#include "base/boxes.h"
#include "base/window_win32.h"
#include "config/config.h"
#include "resource.h"
#include "update/finish.h"

namespace update {
namespace {

constexpr int kReadmeBox = IDC_FINISH_README;
constexpr wchar_t kFull[] = RESOURCE_WNAME(IDD_FINISH);
constexpr wchar_t kShort[] = RESOURCE_WNAME(IDD_FINISH_SHORT);

// Shared by ShowFinishDialog and the dialog procedure.
char g_text[config::kLineSize];
bool g_readme = false;

// Serves both templates; ENDINSTALL_SHORT has no check box, so the calls on it do nothing.
INT_PTR CALLBACK FinishDialogProc(HWND w, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(w, kReadmeBox, BM_SETCHECK, BST_UNCHECKED, 0);
      base::SetItemText(w, kReadmeBox, g_text);
      base::CenterOnScreen(w);
      return TRUE;
    case WM_COMMAND:
      if (wp == IDOK) {
        g_readme = IsDlgButtonChecked(w, kReadmeBox) == BST_CHECKED;
        EndDialog(w, IDOK);
        return TRUE;
      }
      if (wp == IDCANCEL) {
        g_readme = false;
        EndDialog(w, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowFinishDialog() {
  config::InstReadme(g_text, sizeof g_text);
  bool noReadme = g_text[0] == '-';
  DialogBoxParamW(base::DialogInstance(), noReadme ? kShort : kFull,
                  static_cast<HWND>(base::GetOwnerWindow()), FinishDialogProc, 0);
  if (noReadme) g_readme = false;
}

bool ReadmeAfterFinish() { return g_readme; }

}  // namespace update
