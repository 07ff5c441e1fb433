// The SETUP dialog and the shell's folder browser.
#include <windows.h>

#include <shlobj.h>

#include <cstring>
#include <string>

#include "base/boxes.h"
#include "base/window_win32.h"
#include "platform/files_win32.h"
#include "platform/platform.h"
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
// A folder whose path has no code page 932 form is refused on the spot: the user may pick
// another.
void BrowseInstallFolder(HWND owner) {
  wchar_t displayName[MAX_PATH] = {};
  std::wstring title;
  plat::win32::ToWide(text::kBrowseTitle, &title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  info.ulFlags = kBrowseFlags;
  info.lpfn = nullptr;
  LPITEMIDLIST items = SHBrowseForFolderW(&info);
  if (!items) return;
  wchar_t path[MAX_PATH + 1] = {};
  char picked[2 * MAX_PATH + 1] = {};
  if (SHGetPathFromIDListW(items, path)) {
    path[MAX_PATH] = L'\0';
    if (!plat::win32::ToCp932(path, picked, sizeof picked))
      base::ReportError(text::kFolderNotCp932);
    else if (std::strlen(picked) < plat::kMaxPath)
      std::memcpy(CandidateFolder(), picked, std::strlen(picked) + 1);
  }
  FreeItemList(items);
}

// "次へ": the field's text into CandidateFolder, unless it is longer than the buffer holds or
// has a character without a code page 932 form.
int TakeField(HWND dialog) {
  char field[plat::kMaxPath] = {};
  switch (base::GetItemText(dialog, kFolderEdit, field, sizeof field)) {
    case base::ItemText::TooLong:
      return kSetupTooLong;
    case base::ItemText::NotCp932:
      return kSetupNotCp932;
    case base::ItemText::Ok:
      break;
  }
  std::memcpy(CandidateFolder(), field, std::strlen(field) + 1);
  return kSetupNext;
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      base::CenterOnScreen(dialog);
      base::SetItemText(dialog, kFolderEdit, CandidateFolder());
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
          base::SetItemText(dialog, kFolderEdit, CandidateFolder());
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
  INT_PTR r = DialogBoxParamW(base::DialogInstance(), RESOURCE_WNAME(IDD_SETUP),
                              static_cast<HWND>(base::GetOwnerWindow()), SetupDialogProc, 0);
  return r == kSetupNext || r == kSetupTooLong || r == kSetupNotCp932 ? static_cast<int>(r) : kSetupCancelled;
}

}  // namespace update
