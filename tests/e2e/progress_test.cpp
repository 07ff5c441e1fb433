// The copy-progress window under Wine. progress_probe.exe runs full extractions with the
// real window and stops at every step of it (window opened, new file, bar update) until
// this process has read the bars and the path text and acknowledged the step.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <functional>

#include "harness.h"

using namespace e2e;

namespace {

constexpr char kProbeClass[] = "KovelaProgressProbe";
constexpr UINT kAckMessage = WM_APP + 1;
constexpr LONG_PTR kDoneStep = 1000;
const char kCaption[] = "ファイルのコピー中...";
constexpr int kFileBar = 1010, kPathText = 1012, kTotalBar = 1019, kAnimation = 1020;

// What the window showed at one step.
struct Step {
  HWND dialog = nullptr;
  int dialogs = 0;  // progress windows of the probe
  std::string path;
  int fileLow = -1, fileHigh = -1, filePos = -1;
  int totalLow = -1, totalHigh = -1, totalPos = -1;
};

struct Watched {
  std::vector<Step> steps;
  bool goneAtEnd = false;  // no progress window left once the extraction had returned
  DWORD exitCode = 0x7FFFFFFF;
};

std::string ProbePath() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string s = self;
  return s.substr(0, s.find_last_of('\\')) + "\\progress_probe.exe";
}

int Ask(HWND w, UINT message, WPARAM wParam) {
  DWORD_PTR r = static_cast<DWORD_PTR>(-1);
  if (!SendMessageTimeoutA(w, message, wParam, 0, SMTO_NORMAL, 5000, &r)) return -1;
  return static_cast<int>(r);
}

struct DialogSearch {
  DWORD pid;
  std::vector<HWND> found;
};
BOOL CALLBACK CollectDialog(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<DialogSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char cls[64] = {}, title[128] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  if (pid == s->pid && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(w) &&
      std::strcmp(title, kCaption) == 0)
    s->found.push_back(w);
  return TRUE;
}
std::vector<HWND> ProgressDialogs(DWORD pid) {
  DialogSearch s{pid, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

Step Sample(DWORD pid) {
  Step st;
  std::vector<HWND> d = ProgressDialogs(pid);
  st.dialogs = static_cast<int>(d.size());
  if (d.size() != 1) return st;
  st.dialog = d[0];
  char text[512] = {};
  GetWindowTextA(GetDlgItem(d[0], kPathText), text, sizeof text);
  st.path = text;
  HWND file = GetDlgItem(d[0], kFileBar), total = GetDlgItem(d[0], kTotalBar);
  st.fileLow = Ask(file, PBM_GETRANGE, TRUE);
  st.fileHigh = Ask(file, PBM_GETRANGE, FALSE);
  st.filePos = Ask(file, PBM_GETPOS, 0);
  st.totalLow = Ask(total, PBM_GETRANGE, TRUE);
  st.totalHigh = Ask(total, PBM_GETRANGE, FALSE);
  st.totalPos = Ask(total, PBM_GETPOS, 0);
  return st;
}

HWND FindProbeWindow(DWORD pid) {
  for (int i = 0; i < 200; ++i) {
    for (HWND w = FindWindowExA(nullptr, nullptr, kProbeClass, nullptr); w;
         w = FindWindowExA(nullptr, w, kProbeClass, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid) return w;
    }
    Sleep(50);
  }
  return nullptr;
}

// Runs the probe on the container and samples every step; onStep sees each step (by its
// index) while the probe waits.
Watched Watch(const std::string& container, const std::string& destination, int runs,
              const std::function<void(std::size_t, const Step&)>& onStep = nullptr) {
  Watched w;
  std::string exe = ProbePath();
  std::string cmd = "\"" + exe + "\" \"" + container + "\" \"" + destination + "\" " +
                    std::to_string(runs);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "cannot start " << exe << ": " << GetLastError();
    return w;
  }
  HWND probe = FindProbeWindow(pi.dwProcessId);
  EXPECT_TRUE(probe) << "the probe's window did not appear";
  LONG_PTR seen = 0;
  for (DWORD start = GetTickCount(); probe && GetTickCount() - start < 60000;) {
    LONG_PTR k = GetWindowLongPtrA(probe, GWLP_USERDATA);
    if (k == seen) {
      if (WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0) break;
      continue;
    }
    if (k == kDoneStep) {
      w.goneAtEnd = ProgressDialogs(pi.dwProcessId).empty();
      Ask(probe, kAckMessage, k);
      break;
    }
    w.steps.push_back(Sample(pi.dwProcessId));
    if (onStep) onStep(w.steps.size() - 1, w.steps.back());
    Ask(probe, kAckMessage, k);
    seen = k;
  }
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(pi.hProcess, &w.exitCode);
  } else {
    TerminateProcess(pi.hProcess, 0x7FFFFFFF);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return w;
}

// Bytes that deflate cannot shrink, so that the container is as long as its files.
std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

// The animation control's pixels as they are on the screen.
std::vector<COLORREF> Capture(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  std::vector<COLORREF> px;
  if (width <= 0 || height <= 0) return px;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    const DWORD* p = static_cast<const DWORD*>(bits);
    px.assign(p, p + width * height);  // 0x00RRGGBB
  }
  if (bmp) DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return px;
}

bool Playing(HWND control) {
  std::vector<COLORREF> a = Capture(control);
  Sleep(350);
  std::vector<COLORREF> b = Capture(control);
  return !a.empty() && a != b;
}

std::size_t CountColour(const std::vector<COLORREF>& px, COLORREF rgb) {
  std::size_t n = 0;
  for (COLORREF c : px) n += (c & 0xFFFFFF) == rgb;
  return n;
}

std::string ProgressCase(const char* name, const std::vector<Item>& items, std::string* dest) {
  std::string dir = CaseFolder(name);
  *dest = dir + "\\dest";
  CreateDirectoryA(dest->c_str(), nullptr);
  return MakeUpdater(dir, items);
}

}  // namespace

// Ranges and positions in 128 KiB units, step by step: a 300000-byte file has the range 0
// to 2 and moves 1, 2, 2; a file under 128 KiB has 0 to 0; the overall bar never has less
// than 0 to 1 and ends at the bytes of every record. The path text is the whole destination
// path, double-byte names (trail bytes 0x5C included) byte for byte.
TEST(Progress, BarsAndPathFollowTheExtraction) {
  struct Expected {
    const char* path;  // relative to the destination; "" before the first file
    int fileHigh, filePos;
  };
  struct Case {
    const char* name;
    std::vector<Item> items;
    int totalHigh;
    std::vector<Expected> steps;
  };
  const std::string big = Noise(300000, 7);
  const Case cases[] = {
      {"progress-300000",
       {File("big.bin", big), Folder("sub"), File("sub\\small.txt", "small")},
       2,
       {{"", 1, 0},
        {"big.bin", 2, 0},
        {"big.bin", 2, 1},
        {"big.bin", 2, 2},
        {"big.bin", 2, 2},
        {"sub\\small.txt", 0, 0},
        {"sub\\small.txt", 0, 0}}},
      {"progress-small",
       {File("ソース表.txt", std::string(1000, 'a')), File("empty.txt", "")},
       1,
       {{"", 1, 0}, {"ソース表.txt", 0, 0}, {"ソース表.txt", 0, 0}, {"empty.txt", 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dest;
    std::string container = ProgressCase(c.name, c.items, &dest);
    const std::size_t payload = PayloadBytes(c.items).size();
    Watched w = Watch(container, dest, 1);
    ASSERT_EQ(w.steps.size(), c.steps.size());
    int lastTotal = 0;
    for (std::size_t i = 0; i < w.steps.size(); ++i) {
      SCOPED_TRACE(i);
      const Step& s = w.steps[i];
      const Expected& e = c.steps[i];
      EXPECT_EQ(s.dialogs, 1);
      EXPECT_EQ(s.path, e.path[0] ? dest + "\\" + e.path : std::string());
      EXPECT_EQ(s.fileLow, 0);
      EXPECT_EQ(s.fileHigh, e.fileHigh);
      EXPECT_EQ(s.filePos, e.filePos);
      EXPECT_EQ(s.totalLow, 0);
      EXPECT_EQ(s.totalHigh, c.totalHigh);
      EXPECT_GE(s.totalPos, lastTotal);
      lastTotal = s.totalPos;
    }
    EXPECT_EQ(w.steps.front().totalPos, 0);
    // The last update has consumed every record: the payload less its end marker and padding.
    EXPECT_EQ(w.steps.back().totalPos, static_cast<int>((payload - 4) / 131072));
    EXPECT_TRUE(w.goneAtEnd);
    EXPECT_EQ(w.exitCode, 0u);
    for (const Item& it : c.items) {
      if (!it.folder) {
        EXPECT_EQ(ReadFile(dest + "\\" + it.name), it.data) << it.name;
      }
    }
  }
}

// Cancel stops the animation and nothing else: the bars go on, every file is written, and
// the window closes when the extraction ends.
TEST(Progress, CancelStopsOnlyTheAnimation) {
  const std::string one = Noise(600000, 1), two = Noise(400000, 2);
  std::string dest;
  std::string container =
      ProgressCase("progress-cancel", {File("one.bin", one), File("two.bin", two)}, &dest);
  constexpr std::size_t kClickAt = 3;  // one.bin's second update
  constexpr std::size_t kCheckAt = 8;  // two.bin's first update, pumps after the click
  bool playedBefore = false, playedAfter = true;
  std::size_t magenta = 1, yellow = 0;
  COLORREF corner = 0, background = 1;
  Watched w = Watch(container, dest, 1, [&](std::size_t i, const Step& s) {
    if (i == kClickAt) {
      HWND clip = GetDlgItem(s.dialog, kAnimation);
      playedBefore = Playing(clip);
      std::vector<COLORREF> px = Capture(clip);
      magenta = CountColour(px, 0xFF00FF);
      yellow = CountColour(px, 0xFFFF00);
      if (!px.empty()) corner = px[0] & 0xFFFFFF;
      // The dialog's own background just above the animation.
      RECT r;
      GetWindowRect(clip, &r);
      HDC screen = GetDC(nullptr);
      background = GetPixel(screen, r.left, r.top - 2);
      background = RGB(GetBValue(background), GetGValue(background), GetRValue(background));
      ReleaseDC(nullptr, screen);
      Screenshot("progress-mid-copy");
      Click(s.dialog, IDCANCEL);
    }
    if (i == kCheckAt) playedAfter = Playing(GetDlgItem(s.dialog, kAnimation));
  });
  EXPECT_TRUE(playedBefore) << "the animation did not move before Cancel";
  EXPECT_FALSE(playedAfter) << "the animation still moves after Cancel";
  EXPECT_EQ(magenta, 0u) << "the clip's background is not transparent";
  EXPECT_GT(yellow, 300u) << "no folders in the animation";
  EXPECT_EQ(corner, background);

  // one.bin: open, begin, 5 updates; two.bin: begin, 4 updates. The bars went on moving.
  ASSERT_EQ(w.steps.size(), 12u);
  const int filePos[] = {0, 0, 1, 2, 3, 4, 4, 0, 1, 2, 3, 3};
  for (std::size_t i = 0; i < w.steps.size(); ++i) EXPECT_EQ(w.steps[i].filePos, filePos[i]) << i;
  EXPECT_GT(w.steps.back().totalPos, w.steps[kClickAt].totalPos);
  EXPECT_EQ(w.steps.back().path, dest + "\\two.bin");
  EXPECT_TRUE(w.goneAtEnd);
  EXPECT_EQ(w.exitCode, 0u);
  EXPECT_EQ(ReadFile(dest + "\\one.bin"), one);
  EXPECT_EQ(ReadFile(dest + "\\two.bin"), two);
}

// Two extractions without a close in between, as when the window is opened while one is
// open: the second window replaces the first, never two at once; the final close finds the
// window open (0), a further close finds none (1), which the probe's exit code reports.
TEST(Progress, OpeningASecondWindowDestroysTheFirst) {
  std::string dest;
  std::string container = ProgressCase("progress-twice", {File("a.txt", "alpha")}, &dest);
  bool firstAliveInSecondRun = true;
  HWND first = nullptr;
  Watched w = Watch(container, dest, 2, [&](std::size_t i, const Step& s) {
    if (i == 0) first = s.dialog;
    if (i == 3) firstAliveInSecondRun = IsWindow(first) != FALSE;
  });
  ASSERT_EQ(w.steps.size(), 6u);  // per run: open, begin, update
  for (const Step& s : w.steps) EXPECT_EQ(s.dialogs, 1);
  EXPECT_EQ(w.steps[1].dialog, first);
  EXPECT_NE(w.steps[3].dialog, first);
  EXPECT_FALSE(firstAliveInSecondRun);
  EXPECT_EQ(w.steps[3].path, "");  // a fresh window
  EXPECT_TRUE(w.goneAtEnd);
  EXPECT_EQ(w.exitCode, 0u);
}
