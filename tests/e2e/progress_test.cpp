// The copy-progress window under Wine. progress_probe.exe runs full extractions with the
// real window and stops at every step of it (window opened, new file, bar update) until
// this process has read the bars and the path text and acknowledged the step.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>

#include "harness.h"
#include "resource.h"

using namespace e2e;

namespace {

constexpr UINT kAckMessage = WM_APP + 1;  // as progress_probe.cpp has them
constexpr LONG_PTR kDoneStep = 1000;
const char kCaption[] = "ファイルのコピー中...";
constexpr int kFileBar = IDC_PROGRESS_FILE_BAR, kPathText = IDC_PROGRESS_PATH,
              kTotalBar = IDC_PROGRESS_TOTAL_BAR, kAnimation = IDC_PROGRESS_ANIMATION;

// What the window showed at one step: the progress windows of the probe (one expected), the
// path text, and low, high and position of the file bar and of the overall bar.
struct Step {
  HWND dialog = nullptr;
  int dialogs = 0;
  std::string path;
  int file[3] = {-1, -1, -1}, total[3] = {-1, -1, -1};
};

struct Watched {
  std::string dest;  // the extraction's destination
  std::vector<Step> steps;
  bool goneAtEnd = false;  // no progress window left once the extraction had returned
  DWORD exitCode = 0x7FFFFFFF;
};

int Ask(HWND w, UINT message, WPARAM wParam) {
  DWORD_PTR r = static_cast<DWORD_PTR>(-1);
  if (!SendMessageTimeoutA(w, message, wParam, 0, SMTO_NORMAL, 5000, &r)) return -1;
  return static_cast<int>(r);
}

Step Sample(DWORD pid) {
  Step st;
  std::vector<HWND> d = Dialogs(pid, kCaption);
  st.dialogs = static_cast<int>(d.size());
  if (d.size() != 1) return st;
  st.dialog = d[0];
  st.path = Text(d[0], kPathText);
  for (auto bar : {std::make_pair(kFileBar, st.file), std::make_pair(kTotalBar, st.total)}) {
    HWND w = GetDlgItem(d[0], bar.first);
    bar.second[0] = Ask(w, PBM_GETRANGE, TRUE);
    bar.second[1] = Ask(w, PBM_GETRANGE, FALSE);
    bar.second[2] = Ask(w, PBM_GETPOS, 0);
  }
  return st;
}

// Extracts a container of these items `runs` times with the probe and samples every step;
// onStep sees each step (by its index) while the probe waits.
Watched Watch(const char* name, const std::vector<Item>& items, int runs,
              const std::function<void(std::size_t, const Step&)>& onStep = nullptr) {
  Watched w;
  std::string dir = CaseFolder(name);
  w.dest = dir + "\\temp";
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  Process p = Launch(std::string(self, std::strrchr(self, '\\')) + "\\progress_probe.exe", w.dest,
                     "\"" + MakeUpdater(dir, items) + "\" \"" + w.dest + "\" " + std::to_string(runs));
  HWND probe = nullptr;
  LONG_PTR seen = 0;
  for (int i = 0; i < 200 && !(probe = FindWindowA("KovelaProgressProbe", nullptr)); ++i) Sleep(50);
  EXPECT_TRUE(probe) << "the probe's window did not appear";
  for (DWORD start = GetTickCount();
       probe && seen != kDoneStep && Running(p) && GetTickCount() - start < 60000; Sleep(5)) {
    const LONG_PTR k = GetWindowLongPtrA(probe, GWLP_USERDATA);
    if (k == seen) continue;
    if (k == kDoneStep) {
      w.goneAtEnd = Dialogs(p.pi.dwProcessId, kCaption).empty();
    } else {
      w.steps.push_back(Sample(p.pi.dwProcessId));
      if (onStep) onStep(w.steps.size() - 1, w.steps.back());
    }
    Ask(probe, kAckMessage, seen = k);
  }
  w.exitCode = WaitExit(p);
  return w;
}

// Bytes that deflate cannot shrink, so that the container is as long as its files.
std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
  return s;
}

bool Playing(HWND control) {
  Pixels a = Capture(control);
  Sleep(350);
  return !a.pixels.empty() && a.pixels != Capture(control).pixels;
}

void ExpectFilesWritten(const Watched& w, const std::vector<Item>& items) {
  EXPECT_TRUE(w.goneAtEnd);
  EXPECT_EQ(w.exitCode, 0u);
  for (const Item& it : items)
    EXPECT_TRUE(it.folder || ReadFile(w.dest + "\\" + it.name) == it.data) << it.name;
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
  const struct {
    const char* name;
    std::vector<Item> items;
    int totalHigh;
    std::vector<Expected> steps;
  } cases[] = {
      {"progress-300000",
       {File("big.bin", Noise(300000, 7)), Folder("sub"), File("sub\\small.txt", "small")},
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Watched w = Watch(c.name, c.items, 1);
    ASSERT_EQ(w.steps.size(), c.steps.size());
    for (std::size_t i = 0; i < w.steps.size(); ++i) {
      const Step& s = w.steps[i];
      const Expected& e = c.steps[i];
      EXPECT_EQ(std::make_tuple(s.dialogs, s.path, s.file[0], s.file[1], s.file[2], s.total[0], s.total[1]),
                std::make_tuple(1, e.path[0] ? w.dest + "\\" + e.path : "", 0, e.fileHigh, e.filePos, 0,
                                c.totalHigh))
          << "step " << i;
      EXPECT_GE(s.total[2], i ? w.steps[i - 1].total[2] : 0) << "step " << i;
    }
    EXPECT_EQ(w.steps.front().total[2], 0);
    // The last update has consumed every record: the payload less its end marker and padding.
    EXPECT_EQ(w.steps.back().total[2], static_cast<int>((PayloadBytes(c.items).size() - 4) / 131072));
    ExpectFilesWritten(w, c.items);
  }
}

// Cancel stops the animation and nothing else: the bars go on, every file is written, and
// the window closes when the extraction ends.
TEST(Progress, CancelStopsOnlyTheAnimation) {
  const std::vector<Item> items = {File("one.bin", Noise(600000, 1)), File("two.bin", Noise(400000, 2))};
  constexpr std::size_t kClickAt = 3;  // one.bin's second update
  constexpr std::size_t kCheckAt = 8;  // two.bin's first update, pumps after the click
  bool playedBefore = false, playedAfter = true;
  Pixels clip;
  Watched w = Watch("progress-cancel", items, 1, [&](std::size_t i, const Step& s) {
    if (i == kClickAt) {
      playedBefore = Playing(GetDlgItem(s.dialog, kAnimation));
      clip = Capture(GetDlgItem(s.dialog, kAnimation));
      Screenshot("progress-mid-copy");
      Click(s.dialog, IDCANCEL);
    }
    if (i == kCheckAt) playedAfter = Playing(GetDlgItem(s.dialog, kAnimation));
  });
  EXPECT_TRUE(playedBefore) << "the animation did not move before Cancel";
  EXPECT_FALSE(playedAfter) << "the animation still moves after Cancel";
  ASSERT_FALSE(clip.pixels.empty());
  EXPECT_EQ(std::count(clip.pixels.begin(), clip.pixels.end(), 0xFF00FFu), 0)
      << "the clip's background shows";
  EXPECT_GT(std::count(clip.pixels.begin(), clip.pixels.end(), 0xFFFF00u), 300)
      << "no folders in the animation";
  EXPECT_EQ(clip.pixels[0], DialogBackground());

  // one.bin: open, begin, 5 updates; two.bin: begin, 4 updates. The bars went on moving.
  ASSERT_EQ(w.steps.size(), 12u);
  const int filePos[] = {0, 0, 1, 2, 3, 4, 4, 0, 1, 2, 3, 3};
  for (std::size_t i = 0; i < w.steps.size(); ++i) EXPECT_EQ(w.steps[i].file[2], filePos[i]) << i;
  EXPECT_GT(w.steps.back().total[2], w.steps[kClickAt].total[2]);
  EXPECT_EQ(w.steps.back().path, w.dest + "\\two.bin");
  ExpectFilesWritten(w, items);
}

// Two extractions without a close in between, as when the window is opened while one is
// open: the second window replaces the first, never two at once; the final close finds the
// window open (0), a further close finds none (1), which the probe's exit code reports.
TEST(Progress, OpeningASecondWindowDestroysTheFirst) {
  bool firstAliveInSecondRun = true;
  HWND first = nullptr;
  Watched w = Watch("progress-twice", {File("a.txt", "alpha")}, 2, [&](std::size_t i, const Step& s) {
    if (i == 0) first = s.dialog;
    if (i == 3) firstAliveInSecondRun = IsWindow(first) != FALSE;
  });
  ASSERT_EQ(w.steps.size(), 6u);  // per run: open, begin, update
  for (const Step& s : w.steps) EXPECT_EQ(s.dialogs, 1);
  EXPECT_EQ(w.steps[1].dialog, first);
  EXPECT_NE(w.steps[3].dialog, first);
  EXPECT_FALSE(firstAliveInSecondRun);
  EXPECT_EQ(w.steps[3].path, "");  // a fresh window
  ExpectFilesWritten(w, {File("a.txt", "alpha")});
}
