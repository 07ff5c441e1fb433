// Start-up of the updater.
#include "shell/startup.h"

#include <cstdio>
#include <cstring>

#include "base/blocks.h"
#include "base/boxes.h"
#include "base/files.h"
#include "base/pump.h"
#include "base/workfolder.h"
#include "config/config.h"
#include "payload/extract.h"
#include "platform/platform.h"

namespace shell {

namespace text {
const char kMissingStartupFiles[] =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してくださ"
    "い。";
const char kAlreadyRunning[] = "[ %s ] は既に起動中です";
const char kNoWorkFolder[] =
    "一時フォルダに作業用のフォルダを作成できませんでした。\n"
    "環境変数 TEMP の示すフォルダがあり、書き込めることを確認してください。";
}  // namespace text

namespace {

// The start-up pass has no window to show, but it still lets the queue run after every block.
bool PumpAfterBlock(payload::Progress*, std::uint32_t, std::uint32_t) {
  base::PumpMessages();
  return true;
}
payload::Progress g_pumpOnly = {nullptr, nullptr, PumpAfterBlock};

// Into the work folder, the current one: by plain names, which reach it whatever its path is.
void ExtractStartupFiles() {
  payload::Failure failure;
  if (payload::ExtractPayload(".", payload::Mode::Bootstrap, &g_pumpOnly, &failure) == 0) return;
  if (failure.fault == payload::Fault::Memory) base::EndOutOfMemory();
  base::EndWithError(payload::text::kDamagedFile);
}

// Both readers over install.env; a section left open, or a file that the section reader
// cannot open, is fatal whichever button is pressed, and the work folder stays.
void LoadConfiguration(const char* name) {
  config::LoadSetupConfig(name);
  config::SectionFailure failure;
  if (config::LoadSetupSections(name, &failure) == 0) return;
  if (failure.kind == config::SectionFailure::CannotOpen)
    base::ReportFatal(config::text::kCannotOpen, name);
  else
    base::ReportFatal(config::text::kSectionNotClosed, config::kSections[failure.section].name);
  plat::Exit(-1);
}

}  // namespace

int RunUpdater() {
  plat::CoInit();
  plat::AtExit(plat::CoUninit);
  base::EnablePlainNameLookup();
  // Without a work folder the start-up files would land wherever the updater was started.
  if (!base::CreateWorkFolder()) base::EndWithError(text::kNoWorkFolder);
  ExtractStartupFiles();

  char configName[128] = {};
  std::strcpy(configName, "install.env");
  if (!base::FileExists(configName)) base::EndWithError(text::kMissingStartupFiles);
  LoadConfiguration(configName);

  // One updater per title: the mutex is held, never released, until the process ends.
  switch (plat::CreateOwnedMutex(config::UpdaterTitle())) {
    case plat::MutexResult::Failed:
      base::RemoveWorkFolder();
      plat::Exit(0);
    case plat::MutexResult::AlreadyExists: {
      char message[base::kMessageSize];
      std::snprintf(message, sizeof message, text::kAlreadyRunning, config::UpdaterTitle());
      plat::ShowMessageBox(nullptr, message, config::TitleBar(), plat::kMbOk | plat::kMbIconError);
      base::RemoveWorkFolder();
      plat::Exit(0);
    }
    case plat::MutexResult::Created:
      break;
  }

  return RunMainMenu();
}

}  // namespace shell
