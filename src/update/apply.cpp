// Applying the update once the install folder is known.
#include "update/apply.h"

#include <cstdio>

#include "base/blocks.h"
#include "base/boxes.h"
#include "base/workfolder.h"
#include "config/config.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "platform/platform.h"
#include "update/finish.h"
#include "update/messages.h"
#include "update/stage.h"
#include "update/transfers.h"

namespace update {
namespace {

const char* Cause(plat::IoError io) {
  switch (io) {
    case plat::IoError::DiskFull:
      return text::kCauseDiskFull;
    case plat::IoError::Denied:
      return text::kCauseDenied;
    case plat::IoError::InUse:
      return text::kCauseInUse;
    case plat::IoError::NotFound:
      return text::kCauseNotFound;
    default:
      return text::kCauseOther;
  }
}

// The end of a staged update that did not land: the window goes, then the message that says
// what happened, then the process ends as the failure path does (a quit message with its own
// code).
[[noreturn]] void EndAfter(const StageFailure& failure) {
  if (failure.kind == StageFailure::Memory) base::EndOutOfMemory();
  payload::CloseProgressWindow();
  int quit = 0;
  if (failure.kind == StageFailure::Stopped && payload::QuitTaken(&quit)) plat::Exit(quit);
  char message[base::kMessageSize];
  constexpr std::uint64_t kMiB = 1 << 20;
  switch (failure.kind) {
    case StageFailure::NoRoom:
      std::snprintf(message, sizeof message, text::kNoRoom,
                    static_cast<unsigned long>((failure.needed + kMiB - 1) / kMiB),
                    static_cast<unsigned long>(failure.free / kMiB));
      break;
    case StageFailure::NoFolder:
      std::snprintf(message, sizeof message, text::kNoFolder, failure.path);
      break;
    case StageFailure::Blocked:
    case StageFailure::Write:
      std::snprintf(message, sizeof message, text::kCannotWrite, failure.path, Cause(failure.io));
      break;
    case StageFailure::Stray:
      std::snprintf(message, sizeof message, text::kStrayName, failure.path);
      break;
    case StageFailure::Link:
      std::snprintf(message, sizeof message, text::kLinkInside, failure.path);
      break;
    case StageFailure::UndoFailed:
      std::snprintf(message, sizeof message, text::kUndoFailed, failure.path, Cause(failure.io));
      break;
    case StageFailure::FinishFailed:
      std::snprintf(message, sizeof message, text::kFinishFailed, failure.path, Cause(failure.io));
      break;
    case StageFailure::CleanupPending:
      std::snprintf(message, sizeof message, text::kCleanupPending, failure.path);
      break;
    case StageFailure::WrongBase:
      std::snprintf(message, sizeof message, text::kWrongBase, failure.path);
      break;
    case StageFailure::BadJournal:
      if (failure.aside[0])
        std::snprintf(message, sizeof message, text::kBadJournal, failure.path, failure.aside);
      else
        std::snprintf(message, sizeof message, text::kBadJournalKept, failure.path);
      break;
    default:  // damage in the payload, and a stop without a quit message
      std::snprintf(message, sizeof message, "%s", payload::text::kDamagedFile);
      break;
  }
  base::EndWithError(message);
}

}  // namespace

int ApplyUpdate(const char* installFolder) {
  StageFailure failure;
  // An update of this folder that was cut off is finished or undone before anything else.
  if (!RecoverInterruptedUpdate(installFolder, &failure)) EndAfter(failure);
  std::FILE* f = payload::OpenPayload();
  if (!f) base::EndWithError(payload::text::kDamagedFile);
  const bool staged = StageUpdate(f, installFolder, payload::CopyProgressWindow(), &failure);
  std::fclose(f);
  if (!staged) EndAfter(failure);
  payload::CloseProgressWindow();

  RecordInstallFolder(installFolder);
  TransferIniLines();
  TransferRegLines();
  DeleteAfterInstallFiles(installFolder);
  ShowFinishDialog();
  // A bare readme name is opened from the install folder; the folder stays current until
  // the menu removes the work folder.
  plat::SetCurrentFolder(installFolder);
  if (ReadmeAfterFinish()) {
    char readme[config::kLineSize];
    base::OpenDocument(config::InstReadmeFl(readme, sizeof readme));
  }
  return 0;
}

}  // namespace update
