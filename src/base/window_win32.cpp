#include "base/window_win32.h"

#include "base/boxes.h"

namespace base {

void CenterOnScreen(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  HDC dc = GetDC(w);
  int sw = GetDeviceCaps(dc, HORZRES), sh = GetDeviceCaps(dc, VERTRES);
  ReleaseDC(w, dc);
  SetWindowPos(w, nullptr, (sw - width) / 2, (sh - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

HINSTANCE DialogInstance() {
  HWND owner = static_cast<HWND>(GetOwnerWindow());
  if (owner) return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
  return GetModuleHandleA(nullptr);
}

}  // namespace base
