// Message boxes and their owner window.
#include "base/boxes.h"

#include <cstdarg>
#include <cstdio>

namespace base {
namespace {

plat::Window g_owner = nullptr;
char g_caption[plat::kMaxPath] = {};

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

bool AskYesNo(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  int r = ShowBox(BoxKind::Question, format, args);
  va_end(args);
  return r == plat::kIdYes;
}

void SetOwnerWindow(plat::Window w) { g_owner = w; }
plat::Window GetOwnerWindow() { return g_owner; }

const char* GetOwnerTitle() {
  g_caption[0] = '\0';
  if (g_owner) plat::GetWindowTitle(g_owner, g_caption, sizeof g_caption);
  return g_caption;
}

void OpenDocument(const char* path) { plat::OpenWithShell(g_owner, path); }

// Forgets the owner window (native tests).
void ResetBoxesForTests() {
  g_owner = nullptr;
  g_caption[0] = '\0';
}

}  // namespace base
