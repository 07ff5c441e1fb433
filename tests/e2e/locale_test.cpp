// An update full of Japanese names on a Windows in any language: the same scenarios run under
// every system code page (tests/e2e/run-under-wine.sh runs them under several), and every
// result is compared as code page 932, with what a Japanese system gives.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

const char kGlobal[] = "KovelaLocaleE2E";
const char kLocal[] = "星の灯台";
const char kTitle[] = "星の灯台 アップデータ";
const char kReadme[] = "お読みください.txt";
const char kReadmeLabel[] = "説明を読む";
const char kCopying[] = "ファイルのコピー中...";
const char kSky[] = "データ\\背景\\空.bin";
constexpr std::uint64_t kTimes[] = {0x01D710B41567C980ull, 0x01D8A2B3C4D5E600ull, 0x01D5000011112200ull};
const char* const kTimed[] = {kReadme, "ゲーム.exe", kSky};

std::string Shot(const char* what) { return "locale-cp" + std::to_string(GetACP()) + "-" + what; }

// The start-up files: the menu offers the readme, the key file tells the typed folder.
std::vector<Item> StartFiles(const std::string& app) {
  const std::string env = std::string("TITLEBAR ") + kLocal + "\nINSTTO " + kLocal +
                          "\nKEYFILE ゲーム.exe\n" + "REG_GLOBAL " + kGlobal + "\nREG_LOCAL " + kLocal +
                          "\nINSTREADME " + kReadmeLabel + "\nINSTREADMEFL " + kReadme + "\nINI_FILE " + app +
                          "\\設定.ini\nINI_SECTION 画面\n" +
                          "[EOF]\n[ini]\n保存先=REP_INSTALL\\セーブ\n表示=ソフト表\n-\n[reg]\n"
                          "\"インストール先\"=\"REP_INSTALL\"\n\"題名\"=\"星の灯台 ソフト表\"\n-\n"
                          "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\n古いデータ\\*.tmp\n-\nEOF\n";
  return {
      File("install.env", env),
      File("insttscr.rct",
           RctFromPixels(90, 60, [](int x, int y) { return static_cast<std::uint32_t>(x * 2000 + y * 3); })),
      File(kReadme, "星の灯台の説明書", kTimes[0])};
}

// The old installation: the files the update replaces and leftovers it deletes.
std::string Install(const std::string& name) {
  const std::string app = CaseFolder(name + "-app") + "\\ゲーム\\星の灯台";
  for (const char* f : {"ゲーム.exe", kReadme, "古いデータ\\一.tmp", "古いデータ\\残す.sav"})
    WriteFile(app + "\\" + f, f);
  return app;
}

// Releases' big file keeps the progress window up long enough to be photographed.
std::string Updater(const std::string& start, const std::string& app) {
  std::vector<Item> items = StartFiles(app);
  items.insert(items.end(), {File(kTimed[1], "新しいゲーム", kTimes[1]), Folder("データ"),
                             Folder("データ\\背景"), File(kSky, Noise(12 << 20, 7), kTimes[2])});
  return MakeUpdater(start, items);
}

void ExpectUpdated(const std::string& app) {
  EXPECT_EQ(ListFolder(app),
            (std::vector<std::string>{kReadme, "ゲーム.exe", "データ", "古いデータ", "設定.ini"}));
  EXPECT_EQ(ListFolder(app + "\\古いデータ"), std::vector<std::string>{"残す.sav"});
  EXPECT_EQ(ReadFile(app + "\\ゲーム.exe"), "新しいゲーム");
  EXPECT_TRUE(ReadFile(app + "\\" + kSky) == Noise(12 << 20, 7));
  Snapshot s = Take(app);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s[app + "\\" + kTimed[i]].time, kTimes[i]) << kTimed[i];
  // The bytes a Japanese system writes, code page 932, which the game reads.
  EXPECT_EQ(ReadFile(app + "\\設定.ini"), "[画面]\r\n保存先=" + app + "\\セーブ\r\n表示=ソフト表\r\n");
  EXPECT_EQ(RegValues(HKEY_CURRENT_USER, std::string("Software\\") + kGlobal + "\\" + kLocal),
            (std::vector<RegValue>{{"インストール先", REG_SZ, app}, {"題名", REG_SZ, "星の灯台 ソフト表"}}));
}

// The copy-progress window once it shows the big file, photographed with the updater held still.
void PhotographProgress(const Process& p, HWND menu) {
  HWND w = nullptr;
  for (DWORD start = GetTickCount(); !w && GetTickCount() - start < 20000; Sleep(1))
    for (HWND d : Dialogs(p.pi.dwProcessId)) w = d != menu ? d : w;
  ASSERT_TRUE(w) << "no progress window";
  EXPECT_EQ(Text(w), kCopying);
  for (DWORD t = GetTickCount(); Text(w, IDC_PROGRESS_PATH).find("空.bin") == std::string::npos;)
    if (GetTickCount() - t > 20000) break;
  EXPECT_NE(Text(w, IDC_PROGRESS_PATH).find("データ\\背景\\空.bin"), std::string::npos);
  SuspendThread(p.pi.hThread);
  Screenshot(Shot("progress"));
  ResumeThread(p.pi.hThread);
}

}  // namespace

// Each row: how the install folder is found (its record in the registry, or typed into SETUP
// after the record is missing) and whether a game file is held open, which stops the update
// with its message (on the clipboard too) and leaves the installation as it was.
TEST(Locale, JapaneseUpdateUnderAnyCodePage) {
  enum Route { kRecorded, kTyped, kHeld };
  const struct {
    const char* name;
    Route route;
  } rows[] = {{"locale-recorded", kRecorded}, {"locale-typed", kTyped}, {"locale-held", kHeld}};
  for (const auto& r : rows)
    [&] {  // a row that stops stops alone
      SCOPED_TRACE(r.name);
      const std::string start = CaseFolder(r.name), app = Install(r.name), held = app + "\\" + kReadme;
      DeleteSoftwareKey(kGlobal);
      if (r.route != kTyped) WriteInstallRecord(kGlobal, kLocal, app);
      HANDLE holder = r.route != kHeld ? INVALID_HANDLE_VALUE
                                       : CreateFileW(Wide(held).c_str(), GENERIC_READ, 0, nullptr,
                                                     OPEN_EXISTING, 0, nullptr);
      const Snapshot before = Take(app);
      RecordTxtOpens();
      Process p = Launch(Updater(start, app), start + "\\temp");
      const DWORD pid = p.pi.dwProcessId;
      const Box shown = WaitForBox(pid);  // found by its process: its title is checked
      const HWND menu = shown.hwnd;
      ASSERT_TRUE(menu);
      EXPECT_EQ(shown.caption, kTitle);
      EXPECT_EQ(
          Text(menu, IDC_MENU_SLOT0) + "|" + Text(menu, IDC_MENU_SLOT1) + "|" + Text(menu, IDC_MENU_SLOT2),
          std::string("終了|") + kReadmeLabel + "|アップデート");
      std::string opened, content;
      if (r.route == kRecorded) {  // the readme from the work folder
        Screenshot(Shot("menu"));
        Click(menu, IDC_MENU_SLOT1);
        ASSERT_TRUE(WaitForOpened(&opened, &content, 10000));
        EXPECT_EQ(opened.substr(opened.rfind('\\') + 1) + "|" + content,
                  std::string(kReadme) + "|星の灯台の説明書");
      }
      // The next window over the menu that has the item: past the progress window, which comes and goes.
      auto next = [&](int item, DWORD ms = 10000) {
        Box b = WaitForBox(pid, ms, nullptr, nullptr, menu);
        for (DWORD t = GetTickCount(); b.hwnd && !GetDlgItem(b.hwnd, item) && GetTickCount() - t < ms;)
          b = WaitForBox(pid, ms, nullptr, b.hwnd, menu);
        return b;
      };
      Click(menu, IDC_MENU_SLOT2);
      if (r.route == kTyped) {
        for (auto [text, button] :
             {std::make_pair("本体がインストールされていません", IDOK),
              std::make_pair("[ 星の灯台 ] 本体のインストール先を特定できませんでした。\n"
                             "インストール先を手動で指定しますか？",
                             IDYES)}) {
          Box b = next(0xFFFF);
          EXPECT_EQ(b.text, text);
          Click(b.hwnd, button);
          WaitGone(b.hwnd);
        }
        const Box b = next(IDC_SETUP_FOLDER);
        const HWND setup = b.hwnd;
        ASSERT_TRUE(setup);
        EXPECT_EQ(b.caption, "アップデート先のフォルダの指定");
        SetText(setup, IDC_SETUP_FOLDER, app);
        EXPECT_EQ(Text(setup, IDC_SETUP_FOLDER), app);
        Screenshot(Shot("setup"));
        Click(setup, IDOK);
        WaitGone(setup);
      }
      Box confirm = next(0xFFFF);
      EXPECT_EQ(confirm.text, "[" + app + "]をアップデートします");
      EXPECT_EQ(confirm.caption, kTitle);
      if (r.route == kRecorded) Screenshot(Shot("confirmation"));
      Click(confirm.hwnd, IDYES);
      WaitGone(confirm.hwnd);

      if (r.route == kHeld) {
        const std::string report = "ファイル[" + held +
                                   "]に書き込めませんでした。\nファイルが他のプログラムで使われています。"
                                   "ゲームなどを終了してから、もう一度実行してください。\n"
                                   "アップデートを取り消しました。インストール先は元のままです。";
        Box box = next(0xFFFF, 30000);
        EXPECT_EQ(box.caption, kTitle);
        EXPECT_EQ(std::make_pair(box.text, ClipboardText()), std::make_pair(report, report));
        Click(box.hwnd, IDOK);
        EXPECT_EQ(WaitExit(p, 30000), 0xFFFFFFFFu);
        EXPECT_EQ(Differences(before, Take(app)), std::vector<std::string>{});
        CloseHandle(holder);
        EXPECT_TRUE(
            RegValues(HKEY_CURRENT_USER, std::string("Software\\") + kGlobal + "\\" + kLocal).empty());
      } else {
        if (r.route == kRecorded) PhotographProgress(p, menu);
        const Box b = next(IDOK, 30000);
        const HWND finish = b.hwnd;
        ASSERT_TRUE(finish);
        EXPECT_EQ(b.caption, "インストール終了");
        if (r.route == kRecorded) Screenshot(Shot("finish"));
        ExpectUpdated(app);
        EXPECT_EQ(Text(finish, 0xFFFF) + "|" + Text(finish, IDC_FINISH_README),
                  std::string("インストールを終了しました。\n以下のメニューを選択してＯＫを押して下さい。|") +
                      kReadmeLabel);
        Click(finish, IDC_FINISH_README);  // the clicks arrive in order
        Click(finish, IDOK);
        EXPECT_EQ(WaitExit(p), 0u);
        ASSERT_TRUE(WaitForOpened(&opened, &content, 10000));  // the readme from the install folder
        EXPECT_EQ(opened + "|" + content, app + "\\" + kReadme + "|星の灯台の説明書");
      }
      EXPECT_EQ(ListFolder(start), (std::vector<std::string>{"temp", "updater.exe"}));
      EXPECT_EQ(ListFolder(start + "\\temp"), std::vector<std::string>{});
    }();
  DeleteSoftwareKey(kGlobal);
}

// A temporary-files folder whose name has no code page 932 form (a profile named in simplified
// Chinese): the updater starts, shows its menu and leaves nothing behind.
TEST(Locale, TempFolderWithoutACodePage932Name) {
  const std::string start = CaseFolder("locale-temp");
  const std::wstring temp = UnnamedInCp932(start);
  Process p = Launch(MakeUpdater(start, StartFiles(start + "\\app")), temp);
  const Box shown = WaitForBox(p.pi.dwProcessId);
  const HWND menu = shown.hwnd;
  ASSERT_TRUE(menu);
  EXPECT_EQ(shown.caption + "|" + shown.text, std::string(kTitle) + "|");  // the menu, not a message
  EXPECT_EQ(Text(menu, IDC_MENU_SLOT2), "アップデート");
  Click(menu, IDC_MENU_SLOT0);
  EXPECT_EQ(WaitExit(p), 0u);
  EXPECT_EQ(ListFolder(temp), std::vector<std::string>{});
  EXPECT_EQ(ListFolder(start).size(), 3u);  // temp, updater.exe and the unnamed folder
}
