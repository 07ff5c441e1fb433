// Locating the installed application: version gate, default folder, installation record and
// the folder chosen in the SETUP dialog.
#include "update/locate.h"

#include <cstdio>
#include <cstring>

#include "base/boxes.h"
#include "base/files.h"
#include "base/paths.h"
#include "config/config.h"
#include "platform/platform.h"
#include "update/messages.h"

namespace update {

namespace {

constexpr char kIsInst[] = "IsInst";
constexpr char kInstTo[] = "InstTo";
constexpr char kProgramFiles[] = "Program Files\\";

char g_candidate[plat::kMaxPath] = {};

// Remembers the current folder and gives it back once: when asked, or at the latest when the
// route returns (also when a fatal box ends the run).
struct SavedFolder {
  char path[2 * plat::kMaxPath] = {};
  bool pending = false;
  SavedFolder() { pending = plat::GetCurrentFolder(path, sizeof path) > 0; }
  ~SavedFolder() { Restore(); }
  SavedFolder(const SavedFolder&) = delete;
  SavedFolder& operator=(const SavedFolder&) = delete;
  void Restore() {
    if (pending) plat::SetCurrentFolder(path);
    pending = false;
  }
};

// Appends text to the NUL-terminated buf of size bytes; false (buf unchanged) when it would
// not fit.
bool Append(char* buf, std::size_t size, const char* text) {
  std::size_t a = std::strlen(buf), b = std::strlen(text);
  if (a + b + 1 > size) return false;
  std::memcpy(buf + a, text, b + 1);
  return true;
}

// Inserts text at offset at of buf; false (buf unchanged) when it would not fit.
bool Insert(char* buf, std::size_t size, std::size_t at, const char* text, std::size_t n) {
  std::size_t len = std::strlen(buf);
  if (len + n + 1 > size) return false;
  std::memmove(buf + at + n, buf + at, len - at + 1);
  std::memcpy(buf + at, text, n);
  return true;
}

// The value's text when it is a REG_SZ within config::kLineSize bytes, cut to 511 bytes: Ok,
// Missing (also a value of another type), or NotCp932.
plat::RegRead ReadRegText(plat::RegRoot root, std::uint32_t access, const char* global, const char* local,
                          const char* name, char (&text)[config::kLineSize]) {
  char key[config::kLineSize];
  int n = std::snprintf(key, sizeof key, "Software\\%s\\%s", global, local);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof key) return plat::RegRead::Missing;
  char data[config::kLineSize];
  std::uint32_t type = 0, length = 0;
  const plat::RegRead r = plat::RegQuery(root, key, access, name, data, sizeof data, &type, &length);
  if (r != plat::RegRead::Ok) return r;
  if (type != plat::kRegSz) return plat::RegRead::Missing;
  data[length < sizeof data ? length : sizeof data - 1] = '\0';
  std::memcpy(text, data, std::strlen(data) + 1);
  return plat::RegRead::Ok;
}

int ReadRegNumber(plat::RegRoot root, std::uint32_t access, const char* global, const char* local,
                  const char* name, int def) {
  char text[config::kLineSize];
  std::snprintf(text, sizeof text, "%d", def);
  char value[config::kLineSize];
  if (ReadRegText(root, access, global, local, name, value) == plat::RegRead::Ok)
    std::memcpy(text, value, std::strlen(value) + 1);
  return config::ConvertDecimal(text, nullptr, nullptr);
}

void CopyCut(char* out, std::size_t size, const char* text) {
  if (size == 0) return;
  std::size_t n = std::strlen(text);
  if (n > size - 1) n = size - 1;
  std::memmove(out, text, n);
  out[n] = '\0';
}

// True when KEYFILE, named inside folder, can be opened. A path that cannot be formed names
// no file.
bool KeyFileIn(const char* folder) {
  char path[plat::kMaxPath];
  if (paths::JoinPath(path, sizeof path, folder, config::KeyFile()) != 0) return false;
  return base::FileExists(path);
}

bool HasKeyFile() { return config::KeyFile()[0] != '\0'; }

// Hands the confirmed candidate to the caller.
int CopyCandidate(char* out, std::size_t size) {
  std::size_t n = std::strlen(g_candidate);
  if (n + 1 > size) {
    base::ReportError(text::kPathTooLong);
    return -1;
  }
  std::memcpy(out, g_candidate, n + 1);
  return 0;
}

}  // namespace

char* CandidateFolder() { return g_candidate; }

int ReadUserRegNumber(const char* global, const char* local, const char* name, int def) {
  return ReadRegNumber(plat::RegRoot::CurrentUser, plat::kKeyAllAccess, global, local, name, def);
}

int ReadMachineRegNumber(const char* global, const char* local, const char* name, int def) {
  return ReadRegNumber(plat::RegRoot::LocalMachine, plat::kKeyRead, global, local, name, def);
}

int ReadMachineRegString(const char* global, const char* local, const char* name, const char* def, char* out,
                         std::size_t size) {
  CopyCut(out, size, def);
  char value[config::kLineSize];
  const plat::RegRead r =
      ReadRegText(plat::RegRoot::LocalMachine, plat::kKeyRead, global, local, name, value);
  if (r != plat::RegRead::Ok) return r == plat::RegRead::NotCp932 ? kNotCp932 : -1;
  // A cut path would name another folder: a record that does not fit counts as absent.
  if (std::strlen(value) + 1 > size) return -1;
  std::memcpy(out, value, std::strlen(value) + 1);
  return 0;
}

int ComposeDefaultFolder() {
  char* c = g_candidate;
  if (plat::GetWindowsFolder(c, plat::kMaxPath) == 0) c[0] = '\0';
  const char* sep = paths::FindChar(c, '\\');
  c[sep ? sep - c + 1 : 0] = '\0';
  bool fits = Append(c, plat::kMaxPath, kProgramFiles);
  if (config::InstFol()[0] != '\0')
    fits = fits && Append(c, plat::kMaxPath, config::InstFol()) && Append(c, plat::kMaxPath, "\\");
  fits = fits && Append(c, plat::kMaxPath, config::InstTo());
  if (!fits) {
    c[0] = '\0';
    return -1;
  }
  return 0;
}

int CheckVersionGate() {
  if (config::ChkReg()[0] == '\0') return 0;
  int v = ReadUserRegNumber(config::RegGlobal(), config::RegLocal(), config::ChkReg(), 0);
  if (v < config::ChkRegVer()) {
    base::ReportError(text::kVersionTooOld);
    return -1;
  }
  if (v > config::ChkRegVerHigh()) {
    base::ReportError(text::kAlreadyApplied);
    return -1;
  }
  return 0;
}

Normalised NormaliseCandidate() {
  char* c = g_candidate;
  c[plat::kMaxPath - 1] = '\0';

  // a. Forward slashes are separators too.
  for (char* p = c; *p; ++p)
    if (*p == '/') *p = '\\';

  // b. Two separators in a row: a UNC path or a doubled separator. A double-byte character's
  // trail byte 0x5C is not a separator.
  if (paths::FindText(c, "\\\\")) return Normalised::Network;

  // c.
  paths::StripTrailingBackslash(c);

  // d. The application's own subfolder, unless its name is there already.
  const char* instTo = config::InstTo();
  if (config::InstMakeFol() != 0 && paths::FindText(c, instTo) == nullptr) {
    char sub[plat::kMaxPath] = "\\";
    bool fits = true;
    if (config::InstFol()[0] != '\0')
      fits = Append(sub, sizeof sub, config::InstFol()) && Append(sub, sizeof sub, "\\");
    fits = fits && Append(sub, sizeof sub, instTo) && Append(c, plat::kMaxPath, sub);
    if (!fits) return Normalised::TooLong;
  }

  // e. No drive: the Windows folder's.
  if (paths::FindChar(c, ':') == nullptr) {
    char windows[plat::kMaxPath];
    if (plat::GetWindowsFolder(windows, sizeof windows) == 0) windows[0] = '\0';
    if (const char* colon = paths::FindChar(windows, ':')) {
      if (!Insert(c, plat::kMaxPath, 0, windows, static_cast<std::size_t>(colon - windows) + 1))
        return Normalised::TooLong;
    }
  }

  // f. A separator right after the drive.
  if (const char* colon = paths::FindChar(c, ':')) {
    std::size_t at = static_cast<std::size_t>(colon - c) + 1;
    if (c[at] != '\\' && !Insert(c, plat::kMaxPath, at, "\\", 1)) return Normalised::TooLong;
  }

  // g. Only a drive root still ends in a separator here. Nothing at all would stand for the
  // current drive's root as well.
  std::size_t len = std::strlen(c);
  if (len == 0) return Normalised::Root;
  if (cp932::EndsWithNoCase(c, "\\")) return Normalised::Root;
  return Normalised::Ok;
}

Located LocateInstallFolder(char* out, std::size_t size) {
  if (CheckVersionGate() != 0) return Located::Refused;
  SavedFolder saved;

  // Without a key file the default folder is never taken on its own.
  bool composed = ComposeDefaultFolder() == 0;
  if (!(composed && HasKeyFile() && KeyFileIn(g_candidate))) {
    const char* global = config::RegGlobal();
    const char* local = config::RegLocal();
    if (ReadMachineRegNumber(global, local, kIsInst, 0) == 0) {
      base::ReportError(text::kNotInstalled);
      return Located::NotFound;
    }
    if (ReadMachineRegString(global, local, kInstTo, "", g_candidate, plat::kMaxPath) == kNotCp932) {
      base::ReportError(text::kFolderNotCp932);
      return Located::NotFound;
    }
    if (g_candidate[0] == '\0' || (HasKeyFile() && !KeyFileIn(g_candidate))) {
      base::ReportError(text::kFolderUnknown);
      return Located::NotFound;
    }
  }

  saved.Restore();
  if (!base::AskYesNo(text::kConfirm, g_candidate)) return Located::Refused;
  return CopyCandidate(out, size) == 0 ? Located::Found : Located::NotFound;
}

bool SelectInstallFolder(char* out, std::size_t size) {
  SavedFolder saved;

  // The dialog opens on the recorded folder when there is one, else on the default folder.
  ComposeDefaultFolder();
  char composed[plat::kMaxPath];
  std::memcpy(composed, g_candidate, sizeof composed);
  const char* global = config::RegGlobal();
  const char* local = config::RegLocal();
  if (ReadMachineRegNumber(global, local, kIsInst, 0) != 0)
    ReadMachineRegString(global, local, kInstTo, composed, g_candidate, plat::kMaxPath);

  switch (RunSetupDialog()) {
    case kSetupNext:
      break;
    case kSetupTooLong:
      saved.Restore();
      base::ReportError(text::kPathTooLong);
      return false;
    case kSetupNotCp932:
      saved.Restore();
      base::ReportError(text::kFolderNotCp932);
      return false;
    default:
      return false;
  }

  switch (NormaliseCandidate()) {
    case Normalised::Ok:
      break;
    case Normalised::Network:
      saved.Restore();
      base::ReportError(text::kNetworkDrive);
      return false;
    case Normalised::TooLong:
      saved.Restore();
      base::ReportError(text::kPathTooLong);
      return false;
    case Normalised::Root:
      // Retry does not reopen the dialog; Cancel ends the run.
      base::ReportFatal(text::kRootFolder);
      return false;
  }
  saved.Restore();

  if (HasKeyFile() && !KeyFileIn(g_candidate)) {
    base::ReportError(text::kKeyFileMissing, config::TitleBar());
    return false;
  }
  if (CheckVersionGate() != 0) return false;
  if (!base::AskYesNo(text::kConfirm, g_candidate)) return false;
  return CopyCandidate(out, size) == 0;
}

}  // namespace update
