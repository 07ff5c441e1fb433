// The SETUP dialog and the shell's folder browser.
#include <windows.h>

#include <shlobj.h>

#include <cstring>

#include "base/boxes.h"
#include "base/window_win32.h"
#include "resource.h"
#include "update/locate.h"
#include "update/messages.h"

namespace update {

namespace {

constexpr int kFolderEdit = IDC_SETUP_FOLDER;
constexpr int kBrowseButton = IDC_SETUP_BROWSE;
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;

// Frees an item list through the shell's allocator.
void FreeItemList(LPITEMIDLIST items) {
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(items);
    allocator->Release();
  }
}

// Lets the user pick a folder; a pick replaces CandidateFolder, cancelling leaves it as it is.
void BrowseInstallFolder(HWND owner) {
  char displayName[kFolderSize] = {};
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = text::kBrowseTitle;
  info.ulFlags = kBrowseFlags;
  info.lpfn = nullptr;
  LPITEMIDLIST items = SHBrowseForFolderA(&info);
  if (!items) return;
  char path[MAX_PATH + 1] = {};
  if (SHGetPathFromIDListA(items, path)) {
    path[MAX_PATH] = '\0';
    std::size_t n = std::strlen(path);
    if (n < kFolderSize) std::memcpy(CandidateFolder(), path, n + 1);
  }
  FreeItemList(items);
}

// "次へ": the field's text into CandidateFolder, unless it is longer than the buffer holds.
int TakeField(HWND dialog) {
  char field[1024] = {};
  GetDlgItemTextA(dialog, kFolderEdit, field, sizeof field);
  std::size_t n = std::strlen(field);
  if (n + 1 > kFolderSize) return kSetupTooLong;
  std::memcpy(CandidateFolder(), field, n + 1);
  return kSetupNext;
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      base::CenterOnScreen(dialog);
      SetDlgItemTextA(dialog, kFolderEdit, CandidateFolder());
      return TRUE;
    case WM_COMMAND:
      switch (wParam) {
        case IDOK:
          EndDialog(dialog, TakeField(dialog));
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, kSetupCancelled);
          return TRUE;
        case kBrowseButton:
          // Whatever was typed and not confirmed gives way to the candidate.
          BrowseInstallFolder(dialog);
          SetDlgItemTextA(dialog, kFolderEdit, CandidateFolder());
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

int RunSetupDialog() {
  INT_PTR r = DialogBoxParamA(base::DialogInstance(), RESOURCE_NAME(IDD_SETUP),
                              static_cast<HWND>(base::GetOwnerWindow()), SetupDialogProc, 0);
  return r == kSetupNext || r == kSetupTooLong ? static_cast<int>(r) : kSetupCancelled;
}

}  // namespace update
