// Every text that the update action shows, in one place.
#pragma once

namespace update::text {

// Locating the installed application.
extern const char kVersionTooOld[];
extern const char kAlreadyApplied[];
extern const char kNotInstalled[];
extern const char kFolderUnknown[];
extern const char kNetworkDrive[];
extern const char kRootFolder[];
extern const char kKeyFileMissing[];  // %s: TITLEBAR
extern const char kPathTooLong[];
extern const char kFolderNotCp932[];  // a folder whose path has no code page 932 form
extern const char kConfirm[];         // %s: the folder
extern const char kAskManualRoute[];  // %s: TITLEBAR
extern const char kBrowseTitle[];
extern const char kAbandoned[];

// A staged update that could not land, and what an earlier run left. Each says what became of
// the installation.
extern const char kNoRoom[];          // %lu, %lu: megabytes needed and free
extern const char kNoFolder[];        // %s: the install folder
extern const char kCannotWrite[];     // %s: the file, %s: the cause
extern const char kStrayName[];       // %s: a name the updater keeps for itself, found there
extern const char kLinkInside[];      // %s: a link inside the install folder
extern const char kWrongBase[];       // %s: the installed file a patch does not fit
extern const char kUndoFailed[];      // %s: the file, %s: the cause
extern const char kFinishFailed[];    // %s: the file, %s: the cause
extern const char kCleanupPending[];  // %s: the replaced file that stays
extern const char kBadJournal[];      // %s: the journal, %s: where it was set aside
extern const char kBadJournalKept[];  // %s: the journal, which could not be moved
// The likely causes, by what the system said.
extern const char kCauseDiskFull[];
extern const char kCauseDenied[];
extern const char kCauseInUse[];
extern const char kCauseNotFound[];
extern const char kCauseOther[];

}  // namespace update::text
