// Stand-in for the finish dialog: the same choice of template and flag, with the
// user's answer scripted by the test.
#include <cstring>

#include "config/config.h"
#include "doubles.h"
#include "update/finish.h"

namespace update {
namespace {

char g_text[config::kLineSize];
bool g_readme = false;
FinishAnswer g_answer = FinishAnswer::Ok;
FinishShown g_shown = {nullptr, "", 0};

}  // namespace

void ShowFinishDialog() {
  config::InstReadme(g_text, sizeof g_text);
  ++g_shown.count;
  if (g_text[0] == '-') {
    g_shown.templateName = "ENDINSTALL_SHORT";
    g_shown.label = "";
    g_readme = false;
    return;
  }
  g_shown.templateName = "ENDINSTALL";
  g_shown.label = g_text;
  g_readme = g_answer == FinishAnswer::OkTicked;
}

bool ReadmeAfterFinish() { return g_readme; }

void ScriptFinishAnswer(FinishAnswer answer) { g_answer = answer; }
FinishShown LastFinishDialog() { return g_shown; }

void ResetFinishForTests() {
  g_text[0] = '\0';
  g_readme = false;
  g_answer = FinishAnswer::Ok;
  g_shown = {nullptr, "", 0};
}

}  // namespace update
