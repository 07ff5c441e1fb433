// The copy-progress window: the modeless dialog COPYINGDELUX, owned by the main menu, that
// lives for one full extraction. A looping animation, the path of the file being written,
// a bar for that file and one for the whole payload. Cancel stops the animation and nothing
// else: the copy always runs to its end.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>

#include "base/boxes.h"
#include "base/pump.h"
#include "base/window_win32.h"
#include "payload/progress.h"
#include "platform/files_win32.h"
#include "resource.h"

namespace payload {
namespace {

namespace progress_text {
const wchar_t kTemplate[] = RESOURCE_WNAME(IDD_PROGRESS);
const wchar_t kClip[] = RESOURCE_WNAME(IDR_PROGRESS_CLIP);
const wchar_t kNoPath[] = L"";
}  // namespace progress_text

constexpr int kFileBar = IDC_PROGRESS_FILE_BAR;
constexpr int kPathText = IDC_PROGRESS_PATH;
constexpr int kTotalBar = IDC_PROGRESS_TOTAL_BAR;
constexpr int kAnimation = IDC_PROGRESS_ANIMATION;

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

// Repainting a bar or the path, and even telling a control that it changed, costs far more
// under Wine than the block of output behind it: each is a round trip to the window server.
// So each of the two bars and the path line keeps what it was last told in its subclass and
// answers from there at once (PBM_GETPOS, PBM_GETRANGE, WM_GETTEXT); the control itself is
// brought up to date once per frame of the animation beside it, by the dialog's timer. Every
// range, position and path is still sent to its control as it comes; what the user sees
// changes at most every 100 ms, and the last state always shows.
constexpr UINT kFrameMs = 100;
constexpr UINT_PTR kFrameTimer = 1;

struct Kept {
  HWND control;
  WNDPROC original;
  bool dirty;
  WORD low, high;  // a bar's range and position
  int pos;
  wchar_t text[2 * MAX_PATH];  // the path line's text
};
enum { kKeptFileBar, kKeptTotalBar, kKeptPath, kKeptCount };
Kept g_kept[kKeptCount] = {};
constexpr int kKeptIds[kKeptCount] = {kFileBar, kTotalBar, kPathText};

Kept* KeptOf(HWND control) {
  for (Kept& k : g_kept)
    if (k.control == control) return &k;
  return nullptr;
}

// Hands the kept state to the real control.
void Flush(Kept* k) {
  if (!k->control || !k->dirty) return;
  k->dirty = false;
  if (k == &g_kept[kKeptPath]) {
    CallWindowProcW(k->original, k->control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(k->text));
    return;
  }
  CallWindowProcW(k->original, k->control, PBM_SETRANGE, 0, MAKELPARAM(k->low, k->high));
  CallWindowProcW(k->original, k->control, PBM_SETPOS, static_cast<WPARAM>(k->pos), 0);
}

int Clamped(const Kept& k, int pos) { return pos < k.low ? k.low : pos > k.high ? k.high : pos; }

// A Unicode subclass of Unicode controls: texts come and go as UTF-16.
LRESULT CALLBACK KeptProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  Kept* k = KeptOf(control);
  if (!k) return DefWindowProcW(control, message, wParam, lParam);
  const WNDPROC original = k->original;
  switch (message) {
    case PBM_SETPOS: {  // as the control: the position within the range; the one before back
      const int before = k->pos;
      k->pos = Clamped(*k, static_cast<int>(wParam));
      k->dirty = true;
      return before;
    }
    case PBM_GETPOS:
      return k->pos;
    case PBM_SETRANGE: {
      const LRESULT before = MAKELRESULT(k->low, k->high);
      k->low = LOWORD(lParam);
      k->high = HIWORD(lParam);
      k->pos = Clamped(*k, k->pos);
      k->dirty = true;
      return before;
    }
    case PBM_GETRANGE:
      if (lParam) {
        reinterpret_cast<PBRANGE*>(lParam)->iLow = k->low;
        reinterpret_cast<PBRANGE*>(lParam)->iHigh = k->high;
      }
      return wParam ? k->low : k->high;
    case WM_SETTEXT: {
      const wchar_t* t = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
      std::size_t n = std::wcslen(t);
      if (n >= sizeof k->text / sizeof k->text[0]) n = sizeof k->text / sizeof k->text[0] - 1;
      std::wmemcpy(k->text, t, n);
      k->text[n] = L'\0';
      k->dirty = true;
      return TRUE;
    }
    case WM_GETTEXT: {
      if (wParam == 0) return 0;
      std::size_t n = std::wcslen(k->text);
      if (n > wParam - 1) n = wParam - 1;
      std::wmemcpy(reinterpret_cast<wchar_t*>(lParam), k->text, n);
      reinterpret_cast<wchar_t*>(lParam)[n] = L'\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(std::wcslen(k->text));
    case WM_NCDESTROY:
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      *k = Kept{};
      break;
    default:
      if (message >= PBM_SETRANGE && message <= PBM_SETRANGE + 0x20) Flush(k);  // what else a bar is told
      break;
  }
  return CallWindowProcW(original, control, message, wParam, lParam);
}

// Takes over the control, starting from what it holds now.
void Keep(HWND control, Kept* k) {
  *k = Kept{};
  k->control = control;
  k->high = 100;
  k->original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(KeptProc)));
  if (!k->original) *k = Kept{};
}

// Bars take 16-bit ranges; 4 GiB in 128 KiB units is 32768, so a count always fits.
WORD Units(std::uint32_t bytes) { return static_cast<WORD>(bytes / kProgressUnit); }

void SetRange(int kept, WORD high) {
  SendMessageW(g_kept[kept].control, PBM_SETRANGE, 0, MAKELPARAM(0, high));
}

void SetPos(int kept, WORD pos) { SendMessageW(g_kept[kept].control, PBM_SETPOS, pos, 0); }

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      base::CenterOnScreen(dialog);
      // A path wider than the line loses its middle rather than both ends; the text itself
      // stays the whole path.
      HWND pathText = GetDlgItem(dialog, kPathText);
      SetWindowLongW(pathText, GWL_STYLE, GetWindowLongW(pathText, GWL_STYLE) | SS_PATHELLIPSIS);
      for (int i = 0; i < kKeptCount; ++i) Keep(GetDlgItem(dialog, kKeptIds[i]), &g_kept[i]);
      SendMessageW(pathText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(progress_text::kNoPath));
      for (int bar : {kKeptFileBar, kKeptTotalBar}) {
        SetRange(bar, 1);
        SetPos(bar, 0);
      }
      for (Kept& k : g_kept) Flush(&k);
      SetTimer(dialog, kFrameTimer, kFrameMs, nullptr);
      HWND clip = GetDlgItem(dialog, kAnimation);
      g_progress.animation = clip;
      SendMessageW(clip, ACM_OPENW, 0, reinterpret_cast<LPARAM>(progress_text::kClip));
      SendMessageW(clip, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
      ShowWindow(clip, SW_SHOW);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kFrameTimer)
        for (Kept& k : g_kept) Flush(&k);
      return FALSE;
    case WM_COMMAND:
      // Exactly the Cancel button's click: the extraction is not told and goes on.
      if (wParam == IDCANCEL && g_progress.animation) SendMessageW(g_progress.animation, ACM_STOP, 0, 0);
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
  HWND w = CreateDialogParamW(base::DialogInstance(), progress_text::kTemplate, owner, ProgressProc, 0);
  if (!w) {
    g_progress.animation = nullptr;
    return nullptr;
  }
  g_progress.window = w;
  Pump();

  WORD units = Units(g_progress.total);
  SetRange(kKeptTotalBar, units ? units : 1);
  SetPos(kKeptTotalBar, 0);
  Flush(&g_kept[kKeptTotalBar]);
  Pump();
  return w;
}

void BeginProgressFile(Progress*, const char* path, std::uint32_t size) {
  if (!g_progress.window) return;
  std::wstring wide;
  if (path) plat::win32::ToWide(path, &wide);
  SendMessageW(g_kept[kKeptPath].control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  SetRange(kKeptFileBar, Units(size));  // no minimum: a small file shows 0 to 0
  SetPos(kKeptFileBar, 0);
}

bool UpdateProgress(Progress*, std::uint32_t written, std::uint32_t consumed) {
  if (g_progress.window) {
    SetPos(kKeptFileBar, Units(written));
    SetPos(kKeptTotalBar, Units(consumed));
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
