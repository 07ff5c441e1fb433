// The copy-progress window under Wine. progress_probe.exe extracts containers one after the
// other with the real window, never closed in between, and stops at every step (window opened,
// new file, bar update) until this process has read the bars and the path text.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include "harness.h"

using namespace e2e;

namespace {

constexpr UINT kAckMessage = WM_APP + 1;  // as progress_probe.cpp has them
constexpr LONG_PTR kDoneStep = 1000;
const char kCaption[] = "ファイルのコピー中...";

// One step: the probe's progress windows (one expected), the path text, and low, high and
// position of the file bar and of the overall bar.
struct Step {
  HWND dialog = nullptr;
  int dialogs = 0;
  std::string path;
  int file[3] = {-1, -1, -1}, total[3] = {-1, -1, -1};
};

int Ask(HWND w, UINT message, WPARAM wParam) {
  DWORD_PTR r = static_cast<DWORD_PTR>(-1);
  return SendMessageTimeoutA(w, message, wParam, 0, SMTO_NORMAL, 5000, &r) ? static_cast<int>(r) : -1;
}

Step Sample(DWORD pid) {
  Step st;
  std::vector<HWND> d = Dialogs(pid, kCaption);
  if ((st.dialogs = static_cast<int>(d.size())) != 1) return st;
  st.path = Text(st.dialog = d[0], IDC_PROGRESS_PATH);
  for (auto [id, v] :
       {std::make_pair(IDC_PROGRESS_FILE_BAR, st.file), std::make_pair(IDC_PROGRESS_TOTAL_BAR, st.total)})
    for (int k = 0; k < 3; ++k) v[k] = Ask(GetDlgItem(d[0], id), k < 2 ? PBM_GETRANGE : PBM_GETPOS, k == 0);
  return st;
}

bool Playing(HWND control) {
  Pixels a = Capture(control);
  Sleep(350);
  return !a.pixels.empty() && a.pixels != Capture(control).pixels;
}

}  // namespace

// Two containers, each step against the table. Ranges and positions are in 128 KiB units: a
// 300000-byte file has 0 to 2 and moves 1, 2, 2; a smaller one 0 to 0; the overall bar has at
// least 0 to 1 and ends at the bytes of every record. The path is the whole destination path,
// double-byte names (trail bytes 0x5C) byte for byte. Cancel stops the animation and nothing
// else; the second container's window replaces the first; the final close finds the window
// open, a further one none (the probe's exit code says so).
TEST(Progress, BarsPathCancelAndASecondWindow) {
  const std::vector<std::vector<Item>> runs = {
      {File("big.bin", Noise(300000, 7)), Folder("sub"), File("sub\\small.txt", "small")},
      {File("ソース表.txt", std::string(1000, 'a')), File("empty.txt", "")}};
  const struct {
    const char* path;  // relative to the destination; "" before the first file
    int fileHigh, filePos, totalHigh;
  } expected[] = {{"", 1, 0, 2},
                  {"big.bin", 2, 0, 2},
                  {"big.bin", 2, 1, 2},
                  {"big.bin", 2, 2, 2},
                  {"big.bin", 2, 2, 2},
                  {"sub\\small.txt", 0, 0, 2},
                  {"sub\\small.txt", 0, 0, 2},
                  {"", 1, 0, 1},
                  {"ソース表.txt", 0, 0, 1},
                  {"ソース表.txt", 0, 0, 1},
                  {"empty.txt", 0, 0, 1}};
  constexpr std::size_t kSecond = 7, kClickAt = 3, kCheckAt = 6;  // a step of big.bin; after the click

  const std::string dir = CaseFolder("progress"), dest = dir + "\\temp";
  std::string args = "\"" + dest + "\"";
  for (std::size_t k = 0; k < runs.size(); ++k)
    args += " \"" + MakeUpdater(dir + "\\" + std::to_string(k), runs[k]) + "\"";
  Process p = Launch(Beside("progress_probe.exe"), dest, args);
  HWND probe = nullptr;
  for (int i = 0; i < 200 && !(probe = FindWindowW(L"KovelaProgressProbe", nullptr)); ++i) Sleep(50);
  ASSERT_TRUE(probe) << "the probe's window did not appear";
  std::vector<Step> steps;
  bool goneAtEnd = false, playedBefore = false, playedAfter = true, firstAlive = true;
  Pixels clip;
  const DWORD start = GetTickCount();
  for (LONG_PTR seen = 0; seen != kDoneStep && Running(p) && GetTickCount() - start < 60000; Sleep(5)) {
    const LONG_PTR k = GetWindowLongPtrA(probe, GWLP_USERDATA);
    if (k == seen) continue;
    if (k == kDoneStep) {
      goneAtEnd = Dialogs(p.pi.dwProcessId, kCaption).empty();
    } else {
      steps.push_back(Sample(p.pi.dwProcessId));
      const std::size_t i = steps.size() - 1;
      HWND animation = GetDlgItem(steps[i].dialog, IDC_PROGRESS_ANIMATION);
      if (i == kClickAt) {
        playedBefore = Playing(animation);
        clip = Capture(animation);
        Screenshot("progress-mid-copy");
        Click(steps[i].dialog, IDCANCEL);
      }
      if (i == kCheckAt) playedAfter = Playing(animation);
      if (i == kSecond) firstAlive = IsWindow(steps[0].dialog) != FALSE;
    }
    Ask(probe, kAckMessage, seen = k);
  }
  EXPECT_EQ(WaitExit(p), 0u);
  EXPECT_TRUE(goneAtEnd);
  for (const auto& items : runs)
    for (const Item& it : items)
      EXPECT_TRUE(it.folder || ReadFile(dest + "\\" + it.name) == it.data) << it.name;

  ASSERT_EQ(steps.size(), std::size(expected));
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    const auto& e = expected[i];
    EXPECT_EQ(
        std::make_tuple(s.dialogs, s.path, s.file[0], s.file[1], s.file[2], s.total[0], s.total[1]),
        std::make_tuple(1, e.path[0] ? dest + "\\" + e.path : "", 0, e.fileHigh, e.filePos, 0, e.totalHigh))
        << "step " << i;
    EXPECT_EQ(s.dialog == steps[0].dialog, i < kSecond) << "step " << i;
    EXPECT_GE(s.total[2], i == 0 || i == kSecond ? 0 : steps[i - 1].total[2]) << "step " << i;
    if (i == 0 || i == kSecond) { EXPECT_EQ(s.total[2], 0) << "step " << i; }
  }
  // The last update of each has consumed every record: the payload less its end marker.
  EXPECT_EQ(steps[kSecond - 1].total[2], static_cast<int>((PayloadBytes(runs[0]).size() - 4) / 131072));
  EXPECT_EQ(steps.back().total[2], static_cast<int>((PayloadBytes(runs[1]).size() - 4) / 131072));
  EXPECT_FALSE(firstAlive);
  EXPECT_TRUE(playedBefore) << "the animation did not move before Cancel";
  EXPECT_FALSE(playedAfter) << "the animation still moves after Cancel";
  ASSERT_FALSE(clip.pixels.empty());
  EXPECT_EQ(std::count(clip.pixels.begin(), clip.pixels.end(), 0xFF00FFu), 0)
      << "the clip's background shows";
  EXPECT_GT(std::count(clip.pixels.begin(), clip.pixels.end(), 0xFFFF00u), 300)
      << "no folders in the animation";
  EXPECT_EQ(clip.pixels[0], DialogBackground());
}
