// The main menu: the modal dialog MAINDIALOG that the user sees for the whole run. It shows
// the title picture on the left and, on the right, a column of two or three buttons chosen
// at start: "終了" at the bottom, the readme button when the configuration names one, and
// "アップデート" above them. It is the owner of every later dialog and message box.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>

#include "base/boxes.h"
#include "base/window_win32.h"
#include "base/workfolder.h"
#include "config/config.h"
#include "image/rct.h"
#include "image/surface.h"
#include "resource.h"
#include "shell/startup.h"
#include "update/update.h"

namespace shell {
namespace {

// What a button does. Codes not listed here do nothing.
enum MenuAction : std::int32_t {
  kActionNone = 0,    // the button was destroyed
  kActionUpdate = 1,  // "アップデート": run the update
  kActionExit = 3,    // "終了": the exit action
  kActionReadme = 5,  // the INSTREADME caption: open INSTREADMEFL
};

// Slots 0 to 7 are the column from the bottom button upwards; slot 8 is the small button at
// the top right. The template holds all nine; the ones not needed are destroyed at start.
constexpr int kSlotCount = 9;
constexpr int kSlotControl[kSlotCount] = {IDC_MENU_SLOT0, IDC_MENU_SLOT1, IDC_MENU_SLOT2,
                                          IDC_MENU_SLOT3, IDC_MENU_SLOT4, IDC_MENU_SLOT5,
                                          IDC_MENU_SLOT6, IDC_MENU_SLOT7, IDC_MENU_SLOT8};

namespace menu_text {
const char kExit[] = "終了";
const char kUpdate[] = "アップデート";
const char kTitleImage[] = "insttscr.rct";
const wchar_t kTemplate[] = RESOURCE_WNAME(IDD_MENU);
}  // namespace menu_text

constexpr std::size_t kTextSize = 128;

// The menu's state; there is one menu per process.
struct MenuState {
  std::int32_t actions[kSlotCount];
  image::BitmapSurface* title;  // none when insttscr.rct could not be decoded
  std::int32_t originX, originY;
  std::int32_t busy;     // nonzero while a command runs: clicks and close requests are ignored
  char text[kTextSize];  // INSTREADME at start, INSTREADMEFL when the readme is opened
};
MenuState g_menu;

struct PaintGuard {
  HWND window;
  PAINTSTRUCT ps;
  HDC dc;
  explicit PaintGuard(HWND w) : window(w), dc(BeginPaint(w, &ps)) {}
  ~PaintGuard() { EndPaint(window, &ps); }
  PaintGuard(const PaintGuard&) = delete;
  PaintGuard& operator=(const PaintGuard&) = delete;
};

// Gives the next free slot a text and an action; returns the slot after it.
int FillSlot(HWND menu, int slot, const char* caption, std::int32_t action) {
  base::SetItemText(menu, kSlotControl[slot], caption);
  g_menu.actions[slot] = action;
  return slot + 1;
}

void InitMenu(HWND menu) {
  base::SetOwnerWindow(menu);
  base::CenterOnScreen(menu);
  g_menu.busy = 0;
  base::SetText(menu, config::UpdaterTitle());

  int next = FillSlot(menu, 0, menu_text::kExit, kActionExit);
  // A value that starts with "-" means "no readme", whatever follows.
  config::InstReadme(g_menu.text, sizeof g_menu.text);
  if (g_menu.text[0] != '-') next = FillSlot(menu, next, g_menu.text, kActionReadme);
  next = FillSlot(menu, next, menu_text::kUpdate, kActionUpdate);
  for (int slot = next; slot < kSlotCount; ++slot) {
    DestroyWindow(GetDlgItem(menu, kSlotControl[slot]));
    g_menu.actions[slot] = kActionNone;
  }

  // The menu sets no initial focus itself; a Down and an Up key, taken by the dialog
  // manager, put the keyboard focus on the top button of the column.
  keybd_event(VK_DOWN, 0, 0, 0);
  keybd_event(VK_DOWN, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_UP, 0, 0, 0);
  keybd_event(VK_UP, 0, KEYEVENTF_KEYUP, 0);

  // The picture is centred vertically, and its left margin equals its top margin: both are
  // taken from the client height, so a square picture sits in a square on the left. A
  // picture taller than the window gets a negative origin (truncated toward zero). Without
  // a decodable picture nothing is placed and nothing is painted.
  g_menu.title = image::LoadRctImage(menu_text::kTitleImage);
  g_menu.originX = g_menu.originY = 0;
  if (g_menu.title != nullptr) {
    RECT client;
    GetClientRect(menu, &client);
    const std::int32_t height = client.bottom - client.top;
    g_menu.originX = (height - g_menu.title->width) / 2;
    g_menu.originY = (height - g_menu.title->height) / 2;
  }
}

void PaintMenu(HWND menu) {
  PaintGuard paint(menu);
  const image::BitmapSurface* s = g_menu.title;
  if (s == nullptr) return;
  StretchDIBits(paint.dc, g_menu.originX, g_menu.originY, s->width, s->height, 0, 0, s->width, s->height,
                s->bits, reinterpret_cast<const BITMAPINFO*>(s->info), DIB_RGB_COLORS, SRCCOPY);
}

// The only way out of the menu: picture freed, work folder removed, dialog ended with 0.
void ExitMenu(HWND menu) {
  image::FreeSurface(g_menu.title);
  g_menu.title = nullptr;
  base::RemoveWorkFolder();
  EndDialog(menu, 0);
}

void RunCommand(HWND menu, WPARAM command) {
  // The update pumps messages while it runs, so clicks can arrive in the middle of it.
  if (g_menu.busy) return;
  g_menu.busy = 1;
  int slot = 0;
  // Only a plain click matches: the control id in the low word and BN_CLICKED (0) above.
  while (slot < kSlotCount && command != static_cast<WPARAM>(kSlotControl[slot])) ++slot;
  if (slot < kSlotCount) {
    switch (g_menu.actions[slot]) {
      case kActionUpdate:
        if (update::RunUpdate() == 0) ExitMenu(menu);
        break;
      case kActionExit:
        ExitMenu(menu);
        break;
      case kActionReadme:
        // A relative name: the readme was extracted into the work folder, the current one.
        config::InstReadmeFl(g_menu.text, sizeof g_menu.text);
        base::OpenDocument(g_menu.text);
        break;
      default:
        break;
    }
  }
  g_menu.busy = 0;
}

// Every message answers FALSE, WM_INITDIALOG included, so the dialog manager sets no focus
// of its own. After WM_CLOSE the dialog manager also sends IDCANCEL, which matches no
// button and so does nothing.
INT_PTR CALLBACK MainMenuProc(HWND menu, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitMenu(menu);
      break;
    case WM_PAINT:
      PaintMenu(menu);
      break;
    case WM_CLOSE:
      if (!g_menu.busy) ExitMenu(menu);
      break;
    case WM_COMMAND:
      RunCommand(menu, wParam);
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

// The menu ends only with 0, after it has removed the work folder itself. A template that
// cannot be made into a window (DialogBoxParamW answers -1 without ever initialising the
// menu) would fail the same way on every attempt: the run ends with -1 instead, and the
// work folder is removed here since the menu never was.
int RunMainMenu() {
  // Real Windows registers the common control classes (the copy window's progress bars and
  // animation) only on request.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS;
  InitCommonControlsEx(&controls);

  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (;;) {
    const INT_PTR result = DialogBoxParamW(instance, menu_text::kTemplate, nullptr, MainMenuProc, 0);
    if (result == 0) return 0;
    if (result == -1) {
      image::FreeSurface(g_menu.title);
      g_menu.title = nullptr;
      base::RemoveWorkFolder();
      return -1;
    }
  }
}

}  // namespace shell
