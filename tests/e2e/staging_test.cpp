// An update that cannot land leaves the installed application exactly as it was: every way
// it can fail, through the real updater under Wine, each compared against a snapshot of the
// install folder (paths, sizes, hashes of the bytes, times; folders' times too).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "harness.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaStageE2E";
const char kTitle[] = "ステージ アップデータ";
const char kCopying[] = "ファイルのコピー中...";
const char kEnv[] =
    "TITLEBAR ステージ\nINSTTO STAGE_APP\nREG_GLOBAL KovelaStageE2E\nREG_LOCAL Game\n[EOF]\n"
    "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nlnk\\*.*\n-\nEOF\n";

// Release B: five files, the start-up files first; the third is large enough to keep the
// progress window up a while, and the last one goes into a folder of its own.
std::vector<Item> Start() {
  return {File("install.env", kEnv),
          File("insttscr.rct", RctFromPixels(8, 8, [](int, int) { return 0x336699u; }))};
}
std::vector<Item> ReleaseB(std::size_t big = 64 << 10) {
  std::vector<Item> b = Start();
  b.insert(b.end(), {Folder("data"), File("data\\a.dat", Noise(big, 1)), File("game.exe", "new game"),
                     Folder("data\\new"), File("data\\new\\c.dat", "new c")});
  return b;
}

// Release A installed in a folder on `drive` (C: unless another is given), recorded in HKLM.
struct Layout {
  std::string start, app;
};
Layout Install(const std::string& name, const std::string& drive = "") {
  Layout l{CaseFolder(name),
           drive.empty() ? CaseFolder(name + "-app") + "\\ゲーム" : drive + "\\" + name + "\\game"};
  if (!drive.empty()) RemoveTree(drive + "\\" + name);
  for (const char* f : {"game.exe", "data\\a.dat", "data\\b.dat", "save\\slot1.sav"})
    WriteFile(l.app + "\\" + f, std::string("old ") + f);
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, "Game", l.app);
  return l;
}

// The copy-progress window as soon as it shows, looked for every millisecond.
HWND WaitForCopying(const Process& p) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(1))
    for (HWND w : Dialogs(p.pi.dwProcessId, kCopying)) return w;
  return nullptr;
}

// Fills what is left of the drive with one file.
void FillDrive(const std::string& file) {
  HANDLE h = CreateFileW(Wide(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  std::string block(64 << 10, 'f');
  DWORD done = 0;
  for (std::size_t n = block.size(); n >= 512; n /= 2)
    while (WriteFile(h, block.data(), static_cast<DWORD>(n), &done, nullptr) && done == n) {}
  CloseHandle(h);
}

// Each row: a fault, made before the run or once the progress window shows, and the report
// (<app> stands for the install folder; none for the quit message, which ends the run with 7).
TEST(Staging, AFailedUpdateLeavesTheInstallationAsItWas) {
  // A damaged payload and a missing install folder end as the native tests show; here what
  // only the real system does.
  enum Fault { kNoRoom, kDiskFills, kReadOnly, kHeld, kHeldOnFat, kQuit };
  const std::string small = Env("KOVELA_SMALL_DRIVE"), fat = Env("KOVELA_FAT_DRIVE"),
                    kept = "インストール先は元のままです。", full = "ディスクの空き容量が足りません。",
                    cannot = "]に書き込めませんでした。\n",
                    undone = "\nアップデートを取り消しました。" + kept,
                    inUse = "ファイル[<app>\\game.exe" + cannot +
                            "ファイルが他のプログラムで使われています。ゲームなどを終了してから、もう一度実行"
                            "してください。" +
                            undone;
  const struct {
    const char* name;
    Fault fault;
    std::string box;
  } rows[] = {
      {"no room, known in advance", kNoRoom,
       full +
           "\nアップデートには 13 MB の空きが必要ですが、4 MB "
           "しかありません。\n空き容量を増やしてから、もう一度実行してください。" +
           kept},
      {"the disk fills up during the copy", kDiskFills,
       "ファイル[<app>\\data\\a.dat" + cannot + full + undone},
      {"a read-only file", kReadOnly,
       "ファイル[<app>\\game.exe" + cannot + "ファイルが読み取り専用か、書き込む権限がありません。" + undone},
      {"a file held open without sharing", kHeld, inUse},
      // A drive that keeps times to 2 seconds, and a new file swapped in before the held one.
      {"a file held open on a FAT drive", kHeldOnFat, inUse},
      {"a quit message during the copy", kQuit, ""}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const bool onSmall = r.fault == kNoRoom || r.fault == kDiskFills, big = onSmall || r.fault == kQuit,
               onFat = r.fault == kHeldOnFat;
    if ((onSmall && small.empty()) || (onFat && fat.empty())) {
      std::printf("skipped without its drive (root makes one): %s\n", r.name);
      continue;
    }
    Layout l = Install(std::string("stage-") + std::to_string(r.fault), onSmall ? small : onFat ? fat : "");
    std::vector<Item> items = ReleaseB(big ? 12 << 20 : 64 << 10);
    if (onFat) items.insert(items.begin() + 2, File("new.txt", "new"));
    MakeUpdater(l.start, PayloadBytes(items));
    if (r.fault == kNoRoom) {  // 4 MiB left, 12 needed
      WriteFile(small + "\\room", std::string(4 << 20, 'r'));
      FillDrive(small + "\\filler");
      DeleteFileW(Wide(small + "\\room").c_str());
    }
    const std::string game = l.app + "\\game.exe";
    if (r.fault == kReadOnly) SetFileAttributesW(Wide(game).c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE held = r.fault != kHeld && !onFat
                      ? INVALID_HANDLE_VALUE
                      : CreateFileW(Wide(game).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string box = r.box;
    if (box.find("<app>") != std::string::npos) box.replace(box.find("<app>"), 5, l.app);
    Snapshot before = Take(l.app);
    Process p = Launch(l.start + "\\updater.exe", l.start + "\\temp");
    HWND confirm = nullptr, menu = StartUpdate(p, kTitle, l.app, IDC_MENU_SLOT1, &confirm);
    ASSERT_TRUE(menu);
    if (r.fault == kDiskFills) {  // the drive filled while the large file is on its way
      HWND w = WaitForCopying(p);
      for (DWORD t = GetTickCount(); Text(w, IDC_PROGRESS_PATH).find("a.dat") == std::string::npos;)
        if (GetTickCount() - t > 20000) break;
      SuspendThread(p.pi.hThread);
      FillDrive(small + "\\filler");
      ResumeThread(p.pi.hThread);
    }
    if (r.fault == kQuit && WaitForCopying(p)) PostThreadMessageA(p.pi.dwThreadId, WM_QUIT, 7, 0);
    if (!box.empty()) {
      WaitGone(confirm);
      Box report = WaitForBox(p.pi.dwProcessId, 30000, kTitle, menu);
      EXPECT_EQ(std::make_pair(report.text, ClipboardText()), std::make_pair(box, box));
      if (r.fault == kHeld) Screenshot("staging-in-use-report");
      Click(report.hwnd, IDOK);
    }
    EXPECT_EQ(WaitExit(p, 30000), r.fault == kQuit ? 7u : 0xFFFFFFFFu);
    Snapshot after = Take(l.app);
    // The FUSE driver of the FAT drive stamps a renamed file with the time of the rename, as FAT
    // itself does not: there, names and bytes.
    for (Snapshot* shot : {&before, &after})
      for (auto& entry : *shot) entry.second.time *= !onFat;
    EXPECT_EQ(Differences(before, after), std::vector<std::string>{});
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    SetFileAttributesW(Wide(game).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (onSmall) DeleteFileW(Wide(small + "\\filler").c_str()), RemoveTree(l.app);
    if (onFat) RemoveTree(fat + "\\stage-" + std::to_string(r.fault));
  }
  DeleteSoftwareKey(kGlobal);
}

// Killed in the middle of the swap, the next run finds the journal, carries the swap to its
// end and then applies its own update: release B, whole, and nothing of the staging left.
TEST(Staging, AKilledSwapIsFinishedByTheNextRun) {
  Layout l = Install("stage-killed");
  // 400 files into a folder that exists are swapped one by one: the swap takes a while.
  WriteFile(l.app + "\\data\\many\\old.dat", "old");
  std::vector<Item> items = ReleaseB();
  items.push_back(Folder("data\\many"));
  for (int i = 0; i < 400; ++i)
    items.push_back(File("data\\many\\" + std::to_string(i) + ".dat", Noise(512, i)));
  MakeUpdater(l.start, items);

  Process p = Launch(l.start + "\\updater.exe", l.start + "\\temp");
  ASSERT_TRUE(StartUpdate(p, kTitle, l.app));
  const std::string commit = l.app + "\\kovela-update.commit";
  for (DWORD start = GetTickCount(); !Exists(commit) && GetTickCount() - start < 30000;) {}
  TerminateProcess(p.pi.hProcess, 9);
  EXPECT_EQ(WaitExit(p), 9u);
  ASSERT_TRUE(Exists(commit)) << "the run was not cut off in the swap";
  std::vector<std::string> staged = ListFolder(l.app + "\\data\\many");
  EXPECT_TRUE(std::any_of(staged.begin(), staged.end(),
                          [](const std::string& n) { return n.find(".kovela-new") != std::string::npos; }));

  EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
  std::size_t files = 0;
  for (const auto& [path, e] : Take(l.app)) {
    EXPECT_EQ(path.find("kovela-"), std::string::npos) << path;
    files += !e.folder;
  }
  EXPECT_EQ(files, 3u + 400u + 3u);  // a, game.exe, c, the 400; release A's b.dat, slot1.sav, old.dat
  for (const Item& i : items) {
    if (i.folder || i.name == "install.env" || i.name == "insttscr.rct") continue;  // deleted after it
    EXPECT_EQ(ReadFile(l.app + "\\" + i.name), i.data) << i.name;
  }
  DeleteSoftwareKey(kGlobal);
}

// The update's report, once the confirmation has gone; the run ends with it.
std::string RunToReport(const Layout& l) {
  Process p = Launch(l.start + "\\updater.exe", l.start + "\\temp");
  HWND confirm = nullptr, menu = StartUpdate(p, kTitle, l.app, IDC_MENU_SLOT1, &confirm);
  if (!menu) return "no menu";
  WaitGone(confirm);
  Box report = WaitForBox(p.pi.dwProcessId, 30000, kTitle, menu);
  static int shots = 0;
  Screenshot("staging-report-" + std::to_string(++shots));
  Click(report.hwnd, IDOK);
  return WaitExit(p, 30000) == 0xFFFFFFFFu ? report.text : "did not end as a failure: " + report.text;
}

// A game started from the folder keeps its program file: the update renames it aside and lands,
// but cannot delete it. The next run, the game still running, finishes nothing and undoes
// nothing: it says so and leaves release B. Once the game is closed, a run clears it.
TEST(Staging, AGameLeftRunningAcrossTwoRuns) {
  Layout l = Install("stage-running");
  const std::string game = l.app + "\\game.exe", old = game + ".kovela-old";
  ASSERT_TRUE(CopyFileW(Wide(Env("KOVELA_STUB")).c_str(), Wide(game).c_str(), FALSE));
  CreateDirectoryW(Wide(l.start + "\\game-temp").c_str(), nullptr);
  Process running = Launch(game, l.start + "\\game-temp");  // a bare stub: it waits on its report
  ASSERT_TRUE(WaitForBox(running.pi.dwProcessId, 20000).hwnd);
  MakeUpdater(l.start, ReleaseB());

  EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
  EXPECT_EQ(ReadFile(game), "new game");
  if (!Exists(old)) GTEST_SKIP() << "this system deletes a running program's file";
  EXPECT_EQ(RunToReport(l),
            "前回のアップデートは完了していますが、置き換えた古いファイル[" + old +
                "]をまだ削除できません。\n"
                "ゲームなど、このファイルから起動したプログラムを終了してから、もう一度実行してください。\n"
                "今回のアップデートは行われませんでした。");
  EXPECT_EQ(ReadFile(game), "new game");
  EXPECT_EQ(ReadFile(l.app + "\\data\\new\\c.dat"), "new c");

  WaitExit(running, 0);
  EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
  for (const auto& [path, e] : Take(l.app)) EXPECT_EQ(path.find("kovela-"), std::string::npos) << path;
  DeleteSoftwareKey(kGlobal);
}

// What others leave in the folder: a name the updater keeps for itself, a link, a journal it did
// not write. Each run ends in release A or B, says which, and changes nothing outside the folder.
TEST(Staging, WhatOthersLeaveInTheFolder) {
  const std::string kept = "\nアップデートは行われませんでした。インストール先は元のままです。";
  auto stray = [&](const std::string& name) {
    return "インストール先に、アップデータが作業用に使う名前のファイル[<app>\\" + name +
           "]があります。\nこのアップデータが作ったものではないため、手を付けていません。別の場所に移すか削除"
           "してから、もう一度実行してください。" +
           kept;
  };
  struct Row {
    const char* name;
    std::function<void(const Layout&, const std::string&)> arrange;  // the layout, the outside folder
    std::string box;  // <app> for the install folder; none: the update lands
  };
  const Row rows[] = {
      {"a stray backup", [](const Layout& l, auto&) { WriteFile(l.app + "\\game.exe.kovela-old", "stray"); },
       stray("game.exe.kovela-old")},
      {"a data folder that is a link",
       [](const Layout& l, const std::string& out) {
         RemoveTree(l.app + "\\data");
         WriteFile(out + "\\data\\a.dat", "outside");
         MakeLink(out + "\\data", l.app + "\\data");
       },
       "インストール先の[<app>\\data]は、別の場所を指すリンク（ジャンクションやシンボリックリンク）です。\n"
       "アップデータはリンクを通して書き込みません。リンクを通常のフォルダやファイルに置き換えてから、もう一"
       "度実行してください。" +
           kept},
      {"an unreadable journal",
       [](const Layout& l, auto&) { WriteFile(l.app + "\\kovela-update.journal", "KVU2 damaged"); },
       "前回中断したアップデートの記録[<app>\\kovela-update.journal]"
       "は、読み取れないか信頼できない内容のため、従わずに"
       "[<app>\\kovela-update.unreadable-1]"
       "へ移しました。\nインストール先のほかのファイルには手を付けていません。"
       "もう一度アップデータを実行してください。"},
      {"a link at the journal's first name",
       [](const Layout& l, const std::string& out) { MakeLink(out, l.app + "\\kovela-update.writing"); },
       stray("kovela-update.writing")},
      {"a leftover pattern through a link",
       [](const Layout& l, const std::string& out) {
         WriteFile(out + "\\lnk\\keep.dat", "outside");
         MakeLink(out + "\\lnk", l.app + "\\lnk");
       },
       ""},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Layout l = Install("others-" + std::to_string(++n));
    const std::string out = CaseFolder("stage-others-outside");
    WriteFile(out + "\\target", "not the updater's");
    MakeUpdater(l.start, ReleaseB());
    r.arrange(l, out);
    const Snapshot before = Take(l.app);
    const Snapshot outside = Take(out);
    std::string box = r.box;
    for (std::size_t at; (at = box.find("<app>")) != std::string::npos;) box.replace(at, 5, l.app);
    if (box.empty()) {
      EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
      EXPECT_EQ(ReadFile(l.app + "\\game.exe"), "new game");
    } else {
      EXPECT_EQ(RunToReport(l), box);
      Snapshot after = Take(l.app);
      if (after.erase(l.app + "\\kovela-update.unreadable-1"))  // set aside, bytes and all
        after[l.app + "\\kovela-update.journal"] = before.at(l.app + "\\kovela-update.journal");
      EXPECT_EQ(Differences(before, after), std::vector<std::string>{});
    }
    EXPECT_EQ(Differences(outside, Take(out)), std::vector<std::string>{});
    if (r.box.find("unreadable") != std::string::npos)  // set aside once: the next run lands
      EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
    RemoveTree(out);
  }
  DeleteSoftwareKey(kGlobal);
}

}  // namespace

// Near the longest path the updater takes: the staged names run past MAX_PATH, which the
// staging's calls take through the \\?\ prefix, and the update lands all the same.
TEST(Staging, StagedNamesBeyondMaxPath) {
  Layout l{CaseFolder("stage-long"), CaseFolder("stage-long-app")};
  while (l.app.size() < 232) l.app += "\\ssssssssss";  // a new folder here: ...\d\n.dat stays under 260
  l.app = l.app.substr(0, 232);
  RemoveTree(l.app);
  WriteFile(l.app + "\\game.exe", "old");
  DeleteSoftwareKey(kGlobal);
  WriteInstallRecord(kGlobal, "Game", l.app);
  std::vector<Item> items = Start();
  items.insert(items.end(), {File("game.exe", "new game"), Folder("dddddddddd"),
                             File("dddddddddd\\nnnnnnnnnn.dat", "new data")});
  MakeUpdater(l.start, items);
  ASSERT_GT((l.app + "\\dddddddddd\\nnnnnnnnnn.dat.kovela-new").size(), 259u);
  EXPECT_EQ(UpdateWithOk(l.start, kTitle, l.app), 0u);
  EXPECT_EQ(ReadFile(l.app + "\\game.exe"), "new game");
  EXPECT_EQ(ReadFile(l.app + "\\dddddddddd\\nnnnnnnnnn.dat"), "new data");
  DeleteSoftwareKey(kGlobal);
}
