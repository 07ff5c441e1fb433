// The copy-progress window: the modeless dialog COPYINGDELUX, owned by the main menu, that
// lives for one full extraction. A looping animation, the path of the file being written,
// a bar for that file and one for the whole payload. Cancel stops the animation and nothing
// else: the copy always runs to its end.
#include <windows.h>
#include <commctrl.h>

#include "payload/progress.h"
#include "shell/shell.h"
#include "shell/window_win32.h"

namespace payload {
namespace {

namespace progress_text {
const char kTemplate[] = "COPYINGDELUX";
const char kClip[] = "AVI_FILECOPY";
const char kNoPath[] = "";
}  // namespace progress_text

constexpr int kFileBar = 1010;
constexpr int kPathText = 1012;
constexpr int kTotalBar = 1019;
constexpr int kAnimation = 1020;
constexpr int kBars[] = {kFileBar, kTotalBar};

// The one window there can be, its animation control and the total it was opened with.
struct ProgressState {
  HWND window;
  HWND animation;
  std::uint32_t total;
};
ProgressState g_progress = {nullptr, nullptr, 0};

// Bars take 16-bit ranges; 4 GiB in 128 KiB units is 32768, so a count always fits.
WORD Units(std::uint32_t bytes) { return static_cast<WORD>(bytes / kProgressUnit); }

void SetRange(HWND dialog, int bar, WORD high) {
  SendDlgItemMessageA(dialog, bar, PBM_SETRANGE, 0, MAKELPARAM(0, high));
}

void SetPos(HWND dialog, int bar, WORD pos) {
  SendDlgItemMessageA(dialog, bar, PBM_SETPOS, pos, 0);
}

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      shell::CenterOnScreen(dialog);
      // A path wider than the line loses its middle rather than both ends; the text itself
      // stays the whole path.
      HWND pathText = GetDlgItem(dialog, kPathText);
      SetWindowLongA(pathText, GWL_STYLE, GetWindowLongA(pathText, GWL_STYLE) | SS_PATHELLIPSIS);
      SendMessageA(pathText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(progress_text::kNoPath));
      for (int bar : kBars) {
        SetRange(dialog, bar, 1);
        SetPos(dialog, bar, 0);
      }
      HWND clip = GetDlgItem(dialog, kAnimation);
      g_progress.animation = clip;
      SendMessageA(clip, ACM_OPENA, 0, reinterpret_cast<LPARAM>(progress_text::kClip));
      SendMessageA(clip, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
      ShowWindow(clip, SW_SHOW);
      return TRUE;
    }
    case WM_COMMAND:
      // Exactly the Cancel button's click: the extraction is not told and goes on.
      if (wParam == IDCANCEL && g_progress.animation)
        SendMessageA(g_progress.animation, ACM_STOP, 0, 0);
      return FALSE;
    case WM_NCDESTROY:
      // Destroyed with its owner rather than by CloseProgressWindow: forget it, so that a
      // later close never destroys a handle that has meanwhile been given to another window.
      if (dialog == g_progress.window) {
        g_progress.window = nullptr;
        g_progress.animation = nullptr;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

plat::Window OpenProgressWindow(std::uint32_t totalBytes) {
  g_progress.total = totalBytes;
  CloseProgressWindow();

  // The menu registers these too; the window does not rely on having been opened from it.
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
  InitCommonControlsEx(&classes);

  HWND owner = static_cast<HWND>(shell::GetOwnerWindow());
  HWND w = CreateDialogParamA(shell::DialogInstance(), progress_text::kTemplate, owner,
                              ProgressProc, 0);
  if (!w) {
    g_progress.animation = nullptr;
    return nullptr;
  }
  g_progress.window = w;
  shell::PumpMessages();

  WORD units = Units(g_progress.total);
  SetRange(w, kTotalBar, units ? units : 1);
  SetPos(w, kTotalBar, 0);
  shell::PumpMessages();
  return w;
}

void BeginProgressFile(plat::Window w, const char* path, std::uint32_t size) {
  if (!w) return;
  HWND dialog = static_cast<HWND>(w);
  SendDlgItemMessageA(dialog, kPathText, WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(path ? path : progress_text::kNoPath));
  SetRange(dialog, kFileBar, Units(size));  // no minimum: a small file shows 0 to 0
  SetPos(dialog, kFileBar, 0);
}

void UpdateProgress(plat::Window w, std::uint32_t written, std::uint32_t consumed) {
  if (w) {
    HWND dialog = static_cast<HWND>(w);
    SetPos(dialog, kFileBar, Units(written));
    SetPos(dialog, kTotalBar, Units(consumed));
  }
  shell::PumpMessages();
}

int CloseProgressWindow() {
  if (!g_progress.window) return 1;
  HWND w = g_progress.window;
  g_progress.window = nullptr;
  g_progress.animation = nullptr;
  DestroyWindow(w);
  shell::PumpMessages();
  return 0;
}

}  // namespace payload
