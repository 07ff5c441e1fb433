#include "base/window_win32.h"

#include <cwchar>
#include <string>

#include "base/boxes.h"
#include "platform/files_win32.h"

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
  if (owner) return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
  return GetModuleHandleW(nullptr);
}

void SetText(HWND w, const char* text) {
  std::wstring wide;
  plat::win32::ToWide(text, &wide);
  SetWindowTextW(w, wide.c_str());
}

void SetItemText(HWND dialog, int item, const char* text) { SetText(GetDlgItem(dialog, item), text); }

ItemText GetItemText(HWND dialog, int item, char* buf, std::size_t size) {
  if (size == 0) return ItemText::TooLong;
  buf[0] = '\0';
  HWND control = GetDlgItem(dialog, item);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, &text[0], length + 1);
  if (plat::win32::ToCp932(text.c_str(), buf, size)) return ItemText::Ok;
  // Told apart: a character without a code page 932 form, or a text longer than buf.
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &usedDefault);
  return usedDefault ? ItemText::NotCp932 : ItemText::TooLong;
}

}  // namespace base
