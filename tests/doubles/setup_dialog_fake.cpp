// Stand-in for the SETUP dialog: tests script what the user types and whether the
// dialog is cancelled.
#include <cstring>
#include <deque>

#include "doubles.h"
#include "platform/platform.h"
#include "update/locate.h"

namespace update {

namespace {

struct SetupScript {
  std::deque<host_setup::Step> steps;
  std::vector<std::string> opened;
};

SetupScript& State() {
  static SetupScript s;
  return s;
}

}  // namespace

int RunSetupDialog() {
  SetupScript& s = State();
  s.opened.push_back(CandidateFolder());
  if (s.steps.empty()) return kSetupCancelled;
  host_setup::Step step = s.steps.front();
  s.steps.pop_front();
  if (!step.wander.empty()) plat::SetCurrentFolder(step.wander.c_str());
  if (!step.next) return kSetupCancelled;
  // The real dialog reads at most plat::kMaxPath - 1 bytes of the field.
  if (step.typed.size() + 1 > plat::kMaxPath) return kSetupTooLong;
  // 0xFF is no code page 932 byte: it stands for a character the field holds without one.
  if (step.typed.find('\xFF') != std::string::npos) return kSetupNotCp932;
  std::memcpy(CandidateFolder(), step.typed.c_str(), step.typed.size() + 1);
  return kSetupNext;
}

namespace host_setup {
void Script(std::vector<Step> steps) { State().steps.assign(steps.begin(), steps.end()); }
const std::vector<std::string>& OpenedWith() { return State().opened; }
void Reset() {
  State().steps.clear();
  State().opened.clear();
}
}  // namespace host_setup

}  // namespace update
