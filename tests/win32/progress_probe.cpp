// progress_probe.exe: runs full extractions of a container with the real copy-progress
// window, for the end-to-end tests to watch from their own process.
//
//   progress_probe.exe <container> <destination> [runs]
//
// It makes an owner window (class kProbeClass) standing in for the main menu and extracts
// the container `runs` times (default 1) without closing the window in between, as
// ExtractPayload would, then closes it. The window is watched through a thread-local
// message hook, never through the product code: after the window has been opened, after
// every new file and after every update (the last bar move of each) the probe stops at a
// checkpoint. It publishes the checkpoint's number in the owner's GWLP_USERDATA and waits,
// answering only sent messages (so that the test can read the bars), until the test
// acknowledges it with kAckMessage. After the window is closed it stops at kDoneCheckpoint.
//
// Exit code: 0 when every extraction succeeded, the close found the window open and a
// second close found none; otherwise the sum of the failed items' bits (1, 2, 4).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

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
  if (message == kAckMessage) {
    g_acked = static_cast<LONG_PTR>(wParam);
    return 1;
  }
  return DefWindowProcA(w, message, wParam, lParam);
}

void Checkpoint(LONG_PTR number) {
  g_checkpoint = number;
  SetWindowLongPtrA(g_owner, GWLP_USERDATA, number);
  DWORD start = GetTickCount();
  while (g_acked < number && GetTickCount() - start < kAckTimeoutMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

// Stops after the last bar move of each window step: PBM_SETPOS on the overall bar (end of
// opening and of every update) and PBM_SETPOS right after PBM_SETRANGE on the file bar (end
// of a new file). Moves made while the dialog is still hidden (its initialisation) pass;
// the bars' painting and the test's reads come through here too and are not counted.
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
  const char* container = __argv[1];
  const char* destination = __argv[2];
  int runs = __argc > 3 ? std::atoi(__argv[3]) : 1;

  WNDCLASSA wc = {};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kProbeClass;
  RegisterClassA(&wc);
  g_owner = CreateWindowA(kProbeClass, "progress probe", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 0, 0, 200,
                          60, nullptr, nullptr, instance, nullptr);
  if (!g_owner) return 101;
  base::SetOwnerWindow(g_owner);
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, WatchBars, nullptr, GetCurrentThreadId());
  if (!hook) return 102;

  int result = 0;
  for (int run = 0; run < runs; ++run) {
    std::FILE* f = std::fopen(container, "rb");
    payload::Failure failure;
    if (!f || payload::ExtractFrom(f, destination, payload::Mode::Full, payload::CopyProgressWindow(),
                                   &failure) != 0)
      result |= 1;
    if (f) std::fclose(f);
  }
  if (payload::CloseProgressWindow() != 0) result |= 2;
  Checkpoint(kDoneCheckpoint);
  if (payload::CloseProgressWindow() != 1) result |= 4;
  UnhookWindowsHookEx(hook);
  DestroyWindow(g_owner);
  return result;
}
