// Message boxes, owner window, message pump, memory blocks, file helpers, work folder.
#include "shell/shell.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "payload/progress.h"
#include "shell/paths.h"

namespace shell {

namespace text {
const char kMissingStartupFiles[] =
    "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。";
const char kDamagedFile[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kOutOfMemory[] = "メモリ容量が不足しています。処理を中断します。";
const char kOutOfMemoryCaption[] = "malloc";
const char kFfopenFailed[] = "Ffopen : ファイル[%s]の読み込みで失敗しました";
const char kAlreadyRunning[] = "[ %s ] は既に起動中です";
}  // namespace text

namespace {

plat::Window g_owner = nullptr;
char g_caption[plat::kMaxPath] = {};

char g_savedFolder[plat::kMaxPath] = {};
char g_workFolder[plat::kMaxPath] = {};
bool g_workFolderMade = false;

bool g_plainNameLookup = false;
bool g_lockCreated = false;

void ReleaseLookupLock() { g_lockCreated = false; }

// The lookup lock guards a name's examination until its result is known. The program has
// one thread, so the lock itself is a formality; what matters is its exit action, which
// keeps the order of the process's exit actions.
void EnsureLookupLock() {
  if (g_lockCreated) return;
  g_lockCreated = true;
  plat::AtExit(ReleaseLookupLock);
}

enum class BoxKind { Fatal, Error, Question };

int ShowBox(BoxKind kind, const char* format, std::va_list args) {
  char message[kMessageSize];
  std::vsnprintf(message, sizeof message, format, args);
  plat::BringToFront(g_owner);
  if (kind != BoxKind::Question) plat::CopyTextToClipboard(message);
  unsigned style = kind == BoxKind::Fatal   ? plat::kMbRetryCancel | plat::kMbIconError
                   : kind == BoxKind::Error ? plat::kMbOk | plat::kMbIconError
                                            : plat::kMbYesNo | plat::kMbIconQuestion;
  return plat::ShowMessageBox(g_owner, message, GetOwnerTitle(), style);
}

}  // namespace

void ReportFatal(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  int r = ShowBox(BoxKind::Fatal, format, args);
  va_end(args);
  if (r == plat::kIdCancel) plat::Exit(-1);
}

void ReportError(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  ShowBox(BoxKind::Error, format, args);
  va_end(args);
}

int AskYesNo(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  int r = ShowBox(BoxKind::Question, format, args);
  va_end(args);
  return r == plat::kIdYes ? 1 : 0;
}

void SetOwnerWindow(plat::Window w) { g_owner = w; }
plat::Window GetOwnerWindow() { return g_owner; }

const char* GetOwnerTitle() {
  g_caption[0] = '\0';
  if (g_owner) plat::GetWindowTitle(g_owner, g_caption, sizeof g_caption);
  return g_caption;
}

void PumpMessages() {
  int code = 0;
  for (;;) {
    plat::Pumped r = plat::PumpOne(&code);
    if (r == plat::Pumped::Empty) return;
    if (r == plat::Pumped::Quit) plat::Exit(code);
  }
}

void* AllocBlock(std::size_t n) {
  void* p = n <= SIZE_MAX - 32 ? std::malloc(n + 32) : nullptr;
  if (p) return p;
  // The box says that processing stops; it does, cleanly: the work folder goes with it.
  plat::ShowMessageBox(nullptr, text::kOutOfMemory, text::kOutOfMemoryCaption,
                   plat::kMbOk | plat::kMbIconError);
  RemoveWorkFolder();
  plat::Exit(-1);
}

void EnablePlainNameLookup() { g_plainNameLookup = true; }

std::FILE* Ffopen(const char* name, const char* mode) {
  EnsureLookupLock();
  for (;;) {
    std::FILE* f = g_plainNameLookup ? plat::OpenFile(name, mode) : nullptr;
    if (f) return f;
    ReportFatal(text::kFfopenFailed, name);
  }
}

namespace {

// A .ogg or .wav extension on the last path component, compared without ASCII case.
bool IsSoundFile(const char* name) {
  const char* dot = nullptr;
  for (std::size_t i = 0; name[i];) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (paths::IsLeadByte(c) && name[i + 1]) {
      i += 2;
      continue;
    }
    if (c == '\\' || c == '/') dot = nullptr;
    if (c == '.') dot = name + i;
    ++i;
  }
  auto same = [](const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
      char x = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
      if (x != *b) return false;
    }
    return *a == *b;
  };
  return dot && (same(dot, ".ogg") || same(dot, ".wav"));
}

}  // namespace

int FileExists(const char* name) {
  EnsureLookupLock();
  if (IsSoundFile(name) && paths::FindChar(name, '\\')) return 0;
  if (!g_plainNameLookup) return 0;
  char copy[plat::kMaxPath];
  std::size_t len = std::strlen(name);
  if (len >= sizeof copy) return 0;  // no file of such a name can be opened
  std::memcpy(copy, name, len + 1);
  std::FILE* f = plat::OpenFile(copy, "rb");
  if (!f) return 0;
  std::fclose(f);
  return 1;
}

void FormatWorkFolderName(std::uint32_t ticks, char* out, std::size_t size) {
  std::snprintf(out, size, "TempGPInstallFolder_%09d", static_cast<std::int32_t>(ticks));
}

void CreateWorkFolder() {
  plat::GetCurrentFolder(g_savedFolder, plat::kMaxPath - 1);
  char name[128];
  FormatWorkFolderName(plat::MillisecondsSinceStart(), name, sizeof name);
  char path[plat::kMaxPath] = {};
  if (plat::GetTempFolder(path, plat::kMaxPath - 1) == 0) return;
  paths::AppendTrailingBackslash(path, sizeof path);
  std::size_t len = std::strlen(path), n = std::strlen(name);
  // A temporary-files path that leaves no room for the folder name gives no work folder:
  // the bootstrap extraction then cannot write and reports the damaged-file message.
  if (len + n + 1 > sizeof g_workFolder) return;
  std::memcpy(g_workFolder, path, len);
  std::memcpy(g_workFolder + len, name, n + 1);
  g_workFolderMade = true;
  plat::MakeFolder(g_workFolder);
  plat::SetCurrentFolder(g_workFolder);
}

void RemoveWorkFolder() {
  if (g_savedFolder[0]) plat::SetCurrentFolder(g_savedFolder);
  if (!g_workFolderMade) return;
  paths::DeleteMatchingFiles(g_workFolder, "*.*");
  plat::RemoveFolder(g_workFolder);
}

const char* WorkFolderPath() { return g_workFolder; }

void ResetForTests() {
  g_owner = nullptr;
  g_caption[0] = g_savedFolder[0] = g_workFolder[0] = '\0';
  g_workFolderMade = false;
  g_plainNameLookup = false;
  g_lockCreated = false;
}

void OpenDocument(const char* path) { plat::OpenWithShell(g_owner, path); }

void FailDamagedFile() {
  payload::CloseProgressWindow();
  ReportError(text::kDamagedFile);
  RemoveWorkFolder();
  plat::Exit(-1);
}

}  // namespace shell
