// The copy-progress window: the modeless dialog COPYINGDELUX, owned by the main menu, that
// lives for one full extraction. A looping animation, the path of the file being written,
// a bar for that file and one for the whole payload. Cancel stops the animation and nothing
// else: the copy always runs to its end.
#include <windows.h>

#include <commctrl.h>

#include "base/boxes.h"
#include "base/pump.h"
#include "base/window_win32.h"
#include "payload/progress.h"
#include "resource.h"

namespace payload {
namespace {

namespace progress_text {
const char kTemplate[] = RESOURCE_NAME(IDD_PROGRESS);
const char kClip[] = RESOURCE_NAME(IDR_PROGRESS_CLIP);
const char kNoPath[] = "";
}  // namespace progress_text

constexpr int kFileBar = IDC_PROGRESS_FILE_BAR;
constexpr int kPathText = IDC_PROGRESS_PATH;
constexpr int kTotalBar = IDC_PROGRESS_TOTAL_BAR;
constexpr int kAnimation = IDC_PROGRESS_ANIMATION;
constexpr int kBars[] = {kFileBar, kTotalBar};

// The one window there can be, its animation control, the total it was opened with, and a
// quit message that its pumps took.
struct ProgressState {
  HWND window;
  HWND animation;
  std::uint32_t total;
  bool quit;
  int quitCode;
};
ProgressState g_progress = {nullptr, nullptr, 0, false, 0};

// The pumps of an extraction hand a quit message to the extraction, which stops and lets its
// caller put things back before the process ends with the message's code.
bool Pump() {
  if (g_progress.quit) return false;
  g_progress.quit = !base::PumpMessagesOrQuit(&g_progress.quitCode);
  return !g_progress.quit;
}

// Repainting a bar or the path costs far more than the block of output that changed it: a
// themed bar under Wine takes about 5 ms a paint, which would make the display, not the copy,
// set the pace. The two bars and the path therefore repaint at most once per frame of the
// animation beside them. Every position and every path is still given to its control as it
// comes (PBM_GETPOS and WM_GETTEXT read it at once); a paint that falls inside the frame is
// put off to the frame's end by a timer, so the last state is always shown.
constexpr DWORD kFrameMs = 100;
constexpr UINT_PTR kRepaintTimer = 1;

struct Pacing {
  HWND control;
  WNDPROC original;
  DWORD lastPaint;
  bool repaintPending;
};
Pacing g_paced[3] = {};
constexpr int kPaced[] = {kFileBar, kTotalBar, kPathText};

Pacing* PacingOf(HWND control) {
  for (Pacing& p : g_paced)
    if (p.control == control) return &p;
  return nullptr;
}

bool InsideFrame(const Pacing& p, DWORD now) { return p.lastPaint != 0 && now - p.lastPaint < kFrameMs; }

// Puts the control's repaint off to the end of the frame; false when no timer can be had.
bool RepaintAtFrameEnd(HWND control, Pacing* p, DWORD now) {
  if (!p->repaintPending && SetTimer(control, kRepaintTimer, kFrameMs - (now - p->lastPaint), nullptr))
    p->repaintPending = true;
  return p->repaintPending;
}

LRESULT CALLBACK PacedProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  Pacing* p = PacingOf(control);
  if (!p) return DefWindowProcW(control, message, wParam, lParam);
  WNDPROC original = p->original;
  DWORD now = GetTickCount();
  switch (message) {
    case WM_PAINT:
      if (wParam == 0 && InsideFrame(*p, now)) {
        ValidateRect(control, nullptr);
        if (RepaintAtFrameEnd(control, p, now)) return 0;
        InvalidateRect(control, nullptr, TRUE);  // no timer to be had: paint now after all
      }
      p->lastPaint = now ? now : 1;
      break;
    case WM_SETTEXT:
      // A static control may draw its new text at once rather than through WM_PAINT; with
      // redrawing off it only takes the text.
      if (InsideFrame(*p, now) && RepaintAtFrameEnd(control, p, now)) {
        CallWindowProcW(original, control, WM_SETREDRAW, FALSE, 0);
        LRESULT r = CallWindowProcW(original, control, message, wParam, lParam);
        CallWindowProcW(original, control, WM_SETREDRAW, TRUE, 0);
        return r;
      }
      break;
    case WM_TIMER:
      if (wParam != kRepaintTimer) break;
      KillTimer(control, kRepaintTimer);
      p->repaintPending = false;
      p->lastPaint = 0;  // the frame is over: the next paint goes through
      InvalidateRect(control, nullptr, TRUE);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      *p = Pacing{};
      break;
    default:
      break;
  }
  return CallWindowProcW(original, control, message, wParam, lParam);
}

void Pace(HWND control, Pacing* p) {
  *p = Pacing{control, nullptr, 0, false};
  p->original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PacedProc)));
  if (!p->original) *p = Pacing{};
}

// Bars take 16-bit ranges; 4 GiB in 128 KiB units is 32768, so a count always fits.
WORD Units(std::uint32_t bytes) { return static_cast<WORD>(bytes / kProgressUnit); }

void SetRange(HWND dialog, int bar, WORD high) {
  SendDlgItemMessageA(dialog, bar, PBM_SETRANGE, 0, MAKELPARAM(0, high));
}

void SetPos(HWND dialog, int bar, WORD pos) { SendDlgItemMessageA(dialog, bar, PBM_SETPOS, pos, 0); }

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      base::CenterOnScreen(dialog);
      // A path wider than the line loses its middle rather than both ends; the text itself
      // stays the whole path.
      HWND pathText = GetDlgItem(dialog, kPathText);
      SetWindowLongA(pathText, GWL_STYLE, GetWindowLongA(pathText, GWL_STYLE) | SS_PATHELLIPSIS);
      SendMessageA(pathText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(progress_text::kNoPath));
      for (int bar : kBars) {
        SetRange(dialog, bar, 1);
        SetPos(dialog, bar, 0);
      }
      for (int i = 0; i < 3; ++i) Pace(GetDlgItem(dialog, kPaced[i]), &g_paced[i]);
      HWND clip = GetDlgItem(dialog, kAnimation);
      g_progress.animation = clip;
      SendMessageA(clip, ACM_OPENA, 0, reinterpret_cast<LPARAM>(progress_text::kClip));
      SendMessageA(clip, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
      ShowWindow(clip, SW_SHOW);
      return TRUE;
    }
    case WM_COMMAND:
      // Exactly the Cancel button's click: the extraction is not told and goes on.
      if (wParam == IDCANCEL && g_progress.animation) SendMessageA(g_progress.animation, ACM_STOP, 0, 0);
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

HWND OpenProgressWindow(std::uint32_t totalBytes) {
  g_progress.total = totalBytes;
  g_progress.quit = false;
  CloseProgressWindow();

  // The menu registers these too; the window does not rely on having been opened from it.
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
  InitCommonControlsEx(&classes);

  HWND owner = static_cast<HWND>(base::GetOwnerWindow());
  HWND w = CreateDialogParamA(base::DialogInstance(), progress_text::kTemplate, owner, ProgressProc, 0);
  if (!w) {
    g_progress.animation = nullptr;
    return nullptr;
  }
  g_progress.window = w;
  Pump();

  WORD units = Units(g_progress.total);
  SetRange(w, kTotalBar, units ? units : 1);
  SetPos(w, kTotalBar, 0);
  Pump();
  return w;
}

void BeginProgressFile(Progress*, const char* path, std::uint32_t size) {
  HWND dialog = g_progress.window;
  if (!dialog) return;
  SendDlgItemMessageA(dialog, kPathText, WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(path ? path : progress_text::kNoPath));
  SetRange(dialog, kFileBar, Units(size));  // no minimum: a small file shows 0 to 0
  SetPos(dialog, kFileBar, 0);
}

bool UpdateProgress(Progress*, std::uint32_t written, std::uint32_t consumed) {
  if (HWND dialog = g_progress.window) {
    SetPos(dialog, kFileBar, Units(written));
    SetPos(dialog, kTotalBar, Units(consumed));
  }
  return Pump();
}

bool StartProgress(Progress*, std::uint32_t totalBytes) {
  OpenProgressWindow(totalBytes);
  return !g_progress.quit;
}

Progress g_watcher = {StartProgress, BeginProgressFile, UpdateProgress};

}  // namespace

Progress* CopyProgressWindow() { return &g_watcher; }

bool QuitTaken(int* code) {
  if (g_progress.quit) *code = g_progress.quitCode;
  return g_progress.quit;
}

int CloseProgressWindow() {
  if (!g_progress.window) return 1;
  HWND w = g_progress.window;
  g_progress.window = nullptr;
  g_progress.animation = nullptr;
  DestroyWindow(w);
  base::PumpMessages();
  return 0;
}

}  // namespace payload
