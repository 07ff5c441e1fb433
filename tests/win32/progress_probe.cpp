// progress_probe.exe <destination> <container>...: extracts each container with the real
// copy-progress window, never closed in between (as ExtractPayload would), then closes it, for
// the end-to-end tests to watch from their own process. After the window opens, after every new
// file and after every update the probe publishes the step's number in its owner window's
// GWLP_USERDATA and waits, answering only sent messages (so that the test can read the bars),
// until the test acknowledges it with kAckMessage; after the close it stops at kDoneCheckpoint.
// Exit code: 0 when every extraction succeeded, the close found the window open and a second
// close found none; otherwise the sum of the failed items' bits (1, 2, 4).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>  // __argc, __argv

#include "base/boxes.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "resource.h"

namespace {

constexpr char kProbeClass[] = "KovelaProgressProbe";
constexpr UINT kAckMessage = WM_APP + 1;
constexpr LONG_PTR kDoneCheckpoint = 1000;
constexpr DWORD kAckTimeoutMs = 15000;

HWND g_owner = nullptr;
LONG_PTR g_checkpoint = 0, g_acked = 0;
UINT g_lastFileBarMessage = 0;

LRESULT CALLBACK OwnerProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kAckMessage) return DefWindowProcA(w, message, wParam, lParam);
  g_acked = static_cast<LONG_PTR>(wParam);
  return 1;
}

void Checkpoint(LONG_PTR number) {
  g_checkpoint = number;
  SetWindowLongPtrA(g_owner, GWLP_USERDATA, number);
  MSG m;
  for (DWORD start = GetTickCount(); g_acked < number && GetTickCount() - start < kAckTimeoutMs;
       PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE))
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
}

// Watched through a thread-local hook, never through the product code: a step ends with
// PBM_SETPOS on the overall bar (opening, every update) or right after PBM_SETRANGE on the file
// bar (a new file), once the dialog shows; painting and the test's reads are not counted.
LRESULT CALLBACK WatchBars(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPRETSTRUCT* m = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    const int id = GetDlgCtrlID(m->hwnd);
    const bool shown = IsWindowVisible(GetParent(m->hwnd)) != FALSE, setPos = m->message == PBM_SETPOS;
    bool stop = id == IDC_PROGRESS_TOTAL_BAR && shown && setPos;
    if (id == IDC_PROGRESS_FILE_BAR && (setPos || m->message == PBM_SETRANGE)) {
      stop = shown && setPos && g_lastFileBarMessage == PBM_SETRANGE;
      g_lastFileBarMessage = m->message;
    }
    if (stop) Checkpoint(g_checkpoint + 1);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 3) return 100;

  WNDCLASSA wc = {0,        OwnerProc,  0,       0,
                  instance, nullptr,    nullptr, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
                  nullptr,  kProbeClass};
  RegisterClassA(&wc);
  g_owner = CreateWindowA(kProbeClass, "progress probe", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 0, 0, 200,
                          60, nullptr, nullptr, instance, nullptr);
  base::SetOwnerWindow(g_owner);
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, WatchBars, nullptr, GetCurrentThreadId());
  if (!g_owner || !hook) return 101;

  int result = 0;
  for (int i = 2; i < __argc; ++i) {
    payload::Failure failure;
    std::FILE* f = std::fopen(__argv[i], "rb");
    result |= !f || payload::ExtractFrom(f, __argv[1], payload::Mode::Full, payload::CopyProgressWindow(),
                                         &failure);
    if (f) std::fclose(f);
  }
  result |= payload::CloseProgressWindow() != 0 ? 2 : 0;
  Checkpoint(kDoneCheckpoint);
  result |= payload::CloseProgressWindow() != 1 ? 4 : 0;
  UnhookWindowsHookEx(hook);
  DestroyWindow(g_owner);
  return result;
}
