// Locating the installed application on the host: folder normalisation, version gate, registry
// readers, both routes and the update action's first step.
#include "update/locate.h"

#include <algorithm>
#include <cstring>

#include "base/files.h"
#include "config/config.h"
#include "fake.h"
#include "platform/posix.h"
#include "test_support.h"
#include "update/finish.h"
#include "update/messages.h"
#include "update/update.h"

namespace {

using plat::RegRoot;
using update::Normalised;
using Step = update::host_setup::Step;
namespace text = update::text;

constexpr char kKey[] = "Software\\Maker\\Game";

std::string Format(const char* format, const std::string& arg) {
  char out[1024];
  std::snprintf(out, sizeof out, format, arg.c_str());
  return out;
}
std::string Confirm(const std::string& folder) { return Format(text::kConfirm, folder); }

// Drive-letter paths map to folders below the current folder: C:\X is dir_/C:/X.
class LocateTest : public HostTest {
 protected:
  // A table row's start: a clean host, no C: or D: folders, install.env of the common keys
  // and more lines, and the installation record when isInst is given.
  void Fresh(const std::string& more, const std::string& isInst = "", const std::string& instTo = "",
             std::uint32_t isInstType = plat::kRegSz) {
    ResetHost();
    base::EnablePlainNameLookup();
    RemoveTree(dir_ + "/C:");
    RemoveTree(dir_ + "/D:");
    std::string env = "REG_GLOBAL Maker\nREG_LOCAL Game\nTITLEBAR テスト\n" + more + "[EOF]\n";
    ASSERT_EQ(config::LoadSetupConfigFromMemory(env.data(), env.size()), 0);
    if (!isInst.empty()) fake::RegPut(RegRoot::LocalMachine, kKey, "IsInst", isInstType, isInst);
    if (!instTo.empty()) fake::RegPut(RegRoot::LocalMachine, kKey, "InstTo", plat::kRegSz, instTo);
  }
};

TEST_F(LocateTest, NormalisationTable) {
  const std::string a246(246, 'a'), a245(245, 'a'), a256(256, 'a'), a257(257, 'a'), mk = "INSTMAKEFOL 1\n";
  using N = Normalised;
  // env: INSTMAKEFOL / INSTFOL / INSTTO lines; folder: the result when Ok.
  struct Case {
    std::string typed, env;
    N result;
    std::string folder = "";
    const char* windows = "C:\\WINDOWS";
  };
  const Case cases[] = {
      {"\\\\server\\share", "", N::Network},
      {"C:\\Games\\\\Sub", "", N::Network},
      {"//server/share", "", N::Network},
      // ソ and 表 end in 0x5C: their trail byte is neither a separator nor half a pair.
      {"C:\\ソ", "", N::Ok, "C:\\ソ"},
      {"C:\\ソ\\", "", N::Ok, "C:\\ソ"},
      {"C:\\表\\data", "", N::Ok, "C:\\表\\data"},
      {"C:\\ソ\\\\Sub", "", N::Network},  // a real pair right after one
      {"D:\\\x83"
       "KOVELA_APP",
       mk, N::Ok,
       "D:\\\x83"
       "KOVELA_APP\\KOVELA_APP"},  // no name from a trail byte on
      {"D:", "", N::Root},
      {"D:/", "", N::Root},
      {"", "", N::Root},
      {"D:", mk, N::Ok, "D:\\KOVELA_APP"},
      {"D:\\Games\\", mk + "INSTFOL Maker\n", N::Ok, "D:\\Games\\Maker\\KOVELA_APP"},
      {"D:\\MyKOVELA_APP2\\x", mk, N::Ok, "D:\\MyKOVELA_APP2\\x"},
      {"D:\\kovela_app", mk, N::Ok, "D:\\kovela_app\\KOVELA_APP"},
      {"Games", "", N::Ok, "C:\\Games"},
      {"\\Games", "", N::Ok, "E:\\Games", "E:\\WINNT"},
      {"C:/Games/", "", N::Ok, "C:\\Games"},
      {"C:Games", "", N::Ok, "C:\\Games"},
      // A Windows folder without a drive lends none.
      {"Games", "", N::Ok, "Games", "\\WINDOWS"},
      {"\\", "", N::Root, "", "WINDOWS"},  // nothing left: not a folder to write into
      // Compositions that would not fit 259 bytes are refused, never cut: a257 leaves room for
      // the drive but not for its separator, "\\" + a257 not even for the drive.
      {"D:\\" + a246, mk, N::TooLong},
      {"D:\\" + a245, mk, N::Ok, "D:\\" + a245 + "\\KOVELA_APP"},
      {a257, "", N::TooLong},
      {a256, "", N::Ok, "C:\\" + a256},
      {"\\" + a257, "", N::TooLong},
      {"D:" + a257, "", N::TooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("typed \"" + c.typed + "\" with " + c.env);
    Fresh(c.env);
    fake::SetWindowsFolder(c.windows);
    ASSERT_LT(c.typed.size(), plat::kMaxPath);
    std::memcpy(update::CandidateFolder(), c.typed.c_str(), c.typed.size() + 1);
    EXPECT_EQ(update::NormaliseCandidate(), c.result);
    if (c.result == N::Ok) { EXPECT_EQ(std::string(update::CandidateFolder()), c.folder); }
    EXPECT_LT(std::strlen(update::CandidateFolder()), plat::kMaxPath);
  }
}

TEST_F(LocateTest, DefaultFolderComposition) {
  const std::string f120(120, 'f'), t120(120, 't'), f127(127, 'f'), t127(127, 't');
  const struct {
    const char* windows;
    std::string env, folder;
  } cases[] = {
      // folder "": refused
      {"D:\\WINNT\\System", "INSTFOL Maker\n", "D:\\Program Files\\Maker\\KOVELA_APP"},
      {"WINDOWS", "", "Program Files\\KOVELA_APP"},
      {"", "", "Program Files\\KOVELA_APP"},
      {"C:\\WINDOWS", "INSTFOL " + f120 + "\nINSTTO " + t120 + "\n",
       "C:\\Program Files\\" + f120 + "\\" + t120},
      {"C:\\WINDOWS", "INSTFOL " + f127 + "\nINSTTO " + t127 + "\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.windows) + " " + c.env);
    Fresh(c.env);
    fake::SetWindowsFolder(c.windows);
    EXPECT_EQ(update::ComposeDefaultFolder(), c.folder.empty() ? -1 : 0);
    EXPECT_EQ(std::string(update::CandidateFolder()), c.folder);
  }
}

TEST_F(LocateTest, VersionGateTable) {
  auto gate = [](int lo, int hi) {
    return "CHKREG Ver\nCHKREGVER " + std::to_string(lo) + "\nCHKREGVERHIGH " + std::to_string(hi) + "\n";
  };
  const std::string kAbsent = "<absent>";
  // message nullptr: the gate passes; denyFull: the key may be read but not written.
  struct Case {
    const char* what;
    std::string env, data;
    const char* message;
    std::uint32_t type = plat::kRegSz;
    bool denyFull = false;
  };
  const Case cases[] = {
      {"no CHKREG", "CHKREGVER 5\nCHKREGVERHIGH 9\n", "1", nullptr},
      {"absent value passes 0..0", "CHKREG Ver\n", kAbsent, nullptr},
      {"absent value below 1", gate(1, 5), kAbsent, text::kVersionTooOld},
      {"no upper bound", "CHKREG Ver\n", "1", text::kAlreadyApplied},
      {"REG_DWORD is absent", gate(1, 9), std::string("\x05\0\0\0", 4), text::kVersionTooOld,
       plat::kRegDword},
      {"equal to the lower bound", gate(3, 5), "3", nullptr},
      {"equal to the upper bound", gate(3, 5), "5", nullptr},
      {"atoi: blanks, sign, trailing text", gate(-4, -4), " \t-4.9beta", nullptr},
      {"atoi: no digits", gate(1, 5), "v3", text::kVersionTooOld},
      {"readable, not writable", gate(3, 5), "4", text::kVersionTooOld, plat::kRegSz, true},
      {"data beyond 512 bytes", gate(3, 5), "4" + std::string(511, ' '), text::kVersionTooOld},
      {"data of 511 bytes", gate(3, 5), "4" + std::string(510, ' '), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh(c.env);
    if (c.data != kAbsent) fake::RegPut(RegRoot::CurrentUser, kKey, "Ver", c.type, c.data);
    fake::RegDenyFullAccess(RegRoot::CurrentUser, kKey, c.denyFull);
    EXPECT_EQ(update::CheckVersionGate(), c.message ? -1 : 0);
    EXPECT_EQ(BoxTexts(), c.message ? Names{c.message} : Names{});
    for (const auto& b : fake::Boxes()) EXPECT_EQ(b.style, plat::kMbOk | plat::kMbIconError);
  }
}

TEST_F(LocateTest, MachineReadersUseReadAccessAndRefuseWhatDoesNotFit) {
  fake::RegDenyFullAccess(RegRoot::LocalMachine, kKey, true);
  fake::RegPut(RegRoot::LocalMachine, kKey, "N", plat::kRegSz, "42");
  fake::RegPut(RegRoot::LocalMachine, kKey, "D", plat::kRegDword, std::string("\x07\0\0\0", 4));
  fake::RegPut(RegRoot::LocalMachine, kKey, "Fits", plat::kRegSz, std::string(259, 'y'));
  EXPECT_EQ(update::ReadMachineRegNumber("Maker", "Game", "N", 7), 42);
  EXPECT_EQ(update::ReadMachineRegNumber("Maker", "Other", "N", -3), -3);
  // result and text; a REG_DWORD, an absent value and a cut one give the default, cut too.
  auto text = [](const char* name, const char* def, std::size_t size) {
    std::vector<char> out(size);
    int r = update::ReadMachineRegString("Maker", "Game", name, def, out.data(), size);
    return std::make_pair(r, std::string(out.data()));
  };
  EXPECT_EQ(text("D", "def", plat::kMaxPath), std::make_pair(-1, std::string("def")));
  EXPECT_EQ(text("Fits", "", plat::kMaxPath), std::make_pair(0, std::string(259, 'y')));
  EXPECT_EQ(text("None", "default", 4), std::make_pair(-1, std::string("def")));
  // A key path beyond 512 bytes is never opened, not even cut short.
  std::string global(300, 'g'), local(300, 'l');
  fake::RegPut(RegRoot::LocalMachine, ("Software\\" + global + "\\" + local).substr(0, 511), "N",
               plat::kRegSz, "5");
  EXPECT_EQ(update::ReadMachineRegNumber(global.c_str(), local.c_str(), "N", 1), 1);
}

// asked: the folder the confirmation names (answered Yes when the route succeeds, else No);
// error: the one box otherwise. The caller's buffer receives the folder only on success.
TEST_F(LocateTest, AutomaticRouteDecisions) {
  const std::string def = "C:\\Program Files\\KOVELA_APP", maker = "C:\\Program Files\\Maker\\KOVELA_APP";
  const std::string kf = "KEYFILE game.exe\n", dword("\1\0\0\0", 4), x300 = "D:\\" + std::string(300, 'x');
  const std::string longDefault =
      kf + "INSTFOL " + std::string(127, 'f') + "\nINSTTO " + std::string(127, 't') + "\n";
  const char *none = text::kNotInstalled, *unknown = text::kFolderUnknown;
  auto at = [](std::string folder, const char* file = "game.exe") {  // as a host path
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder + "/" + file;
  };
  struct Case {
    const char* what;
    std::string env;
    Names files;
    std::string isInst, instTo;
    int result;
    std::string asked;
    const char* error = nullptr;
    std::uint32_t isInstType = plat::kRegSz;
  };
  const Case cases[] = {
      {"key file at the default folder", kf, {at(def)}, "", "", 0, def},
      {"key file under INSTFOL", kf + "INSTFOL Maker\n", {at(maker)}, "", "", 0, maker},
      {"declined", kf, {at(def)}, "", "", -2, def},
      {"no KEYFILE: the default folder is not enough", "", {at(def)}, "", "", -1, "", none},
      {"record without KEYFILE is taken as stored", "", {}, "1", "D:\\Nowhere\\", 0, "D:\\Nowhere\\"},
      {"IsInst 0", "", {}, "0", "D:\\Game", -1, "", none},
      {"IsInst as REG_DWORD", "", {}, dword, "D:\\Game", -1, "", none, plat::kRegDword},
      {"IsInst without InstTo", "", {}, "1", "", -1, "", unknown},
      {"key file missing under the record", kf, {}, "1", "D:\\Game", -1, "", unknown},
      {"key file under the record", kf, {"D:/Game/game.exe"}, "1", "D:\\Game", 0, "D:\\Game"},
      {"sound key file never found", "KEYFILE bgm.ogg\n", {at(def, "bgm.ogg")}, "1", def, -1, "", unknown},
      {"over-long record counts as absent", "", {}, "1", x300, -1, "", unknown},
      {"record without a code page 932 form", "", {}, "1", "D:\\\xFF", -1, "", text::kFolderNotCp932},
      // "game.exe" alone is what an emptied default folder would wrongly find.
      {"long default, record", longDefault, {"D:/Game/game.exe", "game.exe"}, "1", "D:\\Game", 0, "D:\\Game"},
      {"gate first", kf + "CHKREG Ver\nCHKREGVER 2\n", {at(def)}, "", "", -2, "", text::kVersionTooOld},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh(c.env, c.isInst, c.instTo, c.isInstType);
    MakeTree(dir_, c.files, "key");
    if (!c.error) fake::ScriptAnswers({c.result == 0 ? plat::kIdYes : plat::kIdNo});
    char out[plat::kMaxPath] = "untouched";
    using update::Located;
    EXPECT_EQ(update::LocateInstallFolder(out, sizeof out), c.result == 0    ? Located::Found
                                                            : c.result == -1 ? Located::NotFound
                                                                             : Located::Refused);
    EXPECT_EQ(BoxTexts(), Names{c.error ? c.error : Confirm(c.asked)});
    EXPECT_EQ(std::string(out), c.result == 0 ? c.asked : "untouched");
    EXPECT_EQ(CurrentFolder(), dir_);
  }
}

// Every end of the manual route; the dialog may leave another folder current (the shell's
// browser does), the route gives the caller's back. The dialog opens on the recorded folder
// when there is one (IsInst set and InstTo given), else on the default.
TEST_F(LocateTest, ManualRouteDecisions) {
  MakeTree(dir_, {"elsewhere/"});
  struct Case {  // result: returned, or the exit code when the route ends the process
    const char* what;
    std::string env;
    Step step;
    std::vector<int> answers;
    int result;
    Names boxes;
    std::string folder = "", isInst = "", instTo = "";  // folder: the caller's on success
    bool exits = false;
  };
  const std::string rec = "E:\\Games\\App", kf = "KEYFILE game.exe\n", gate = "CHKREG Ver\n",
                    mk = "INSTMAKEFOL 1\n", app = "D:\\Games\\KOVELA_APP";
  const int yes = plat::kIdYes;
  const char *root = text::kRootFolder, *tooLong = text::kPathTooLong;
  const Case cases[] = {
      {"cancelled", "", {false, "D:\\Game"}, {}, -1, {}},
      {"cancelled, opened on the record", "", {false, ""}, {}, -1, {}, "", "1", rec},
      {"cancelled, record without InstTo", "", {false, ""}, {}, -1, {}, "", "1"},
      {"cancelled, IsInst 0", "", {false, ""}, {}, -1, {}, "", "0", rec},
      {"confirmed", "", {true, "D:/Game/"}, {yes}, 0, {Confirm("D:\\Game")}, "D:\\Game"},
      {"declined", "", {true, "D:\\Game"}, {plat::kIdNo}, -1, {Confirm("D:\\Game")}},
      {"network path", "", {true, "\\\\server\\share"}, {}, -1, {text::kNetworkDrive}},
      {"root, Retry", "", {true, "D:"}, {plat::kIdRetry}, -1, {root}},
      {"root, Cancel ends the run", "", {true, "D:\\"}, {plat::kIdCancel}, -1, {root}, "", "", "", true},
      {"too long", "", {true, "D:\\" + std::string(300, 'x')}, {}, -1, {tooLong}},
      {"typed without a code page 932 form", "", {true, "D:\\\xFF"}, {}, -1, {text::kFolderNotCp932}},
      {"subfolder too long", mk, {true, "D:\\" + std::string(250, 'x')}, {}, -1, {tooLong}},
      {"key file missing", kf, {true, "D:\\Game"}, {}, -1, {Format(text::kKeyFileMissing, "テスト")}},
      {"key file present", kf + mk, {true, "D:\\Games"}, {yes}, 0, {Confirm(app)}, app},
      {"gate after the key file", kf + gate + "CHKREGVER 1\n", {true, app}, {}, -1, {text::kVersionTooOld}},
      {"gate first", gate + "CHKREGVERHIGH -1\n", {true, "D:\\Game"}, {}, -1, {text::kAlreadyApplied}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh(c.env, c.isInst, c.instTo);
    MakeTree(dir_, {"D:/Games/KOVELA_APP/game.exe"});
    Step step = c.step;
    step.wander = posix::FromHostPath(dir_ + "/elsewhere");
    update::host_setup::Script({step});
    fake::ScriptAnswers(c.answers);
    char out[plat::kMaxPath] = "untouched";
    bool chosen = false;
    int code = ExitCodeOf([&] { chosen = update::SelectInstallFolder(out, sizeof out); });
    EXPECT_EQ(code != kReturned, c.exits);
    EXPECT_EQ(code != kReturned ? code : chosen ? 0 : -1, c.result);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(std::string(out), c.result == 0 ? c.folder : "untouched");
    EXPECT_EQ(CurrentFolder(), dir_);
    EXPECT_EQ(update::host_setup::OpenedWith(),
              Names{c.isInst == "1" && !c.instTo.empty() ? c.instTo : "C:\\Program Files\\KOVELA_APP"});
  }
}

// Every end of the update action's first step. A refusal closes with the "abandoned" box and
// no finish dialog; nothing scripted for SETUP cancels it. A folder chosen by hand is where
// the payload goes: the action carries on with it.
TEST_F(LocateTest, RunUpdateFirstStep) {
  const std::string ask = Format(text::kAskManualRoute, "テスト"), none = text::kNotInstalled,
                    gone = update::text::kAbandoned;
  const std::string chosen = Confirm("D:\\Game\\KOVELA_APP");
  const int ok = plat::kIdOk, yes = plat::kIdYes;
  const struct {
    const char* what;
    std::string env, isInst;
    std::vector<int> answers;
    Names boxes;
    std::vector<Step> setup = {};
  } cases[] = {
      {"gate refuses", "CHKREG Ver\nCHKREGVER 1\n", "1", {}, {text::kVersionTooOld, gone}},
      {"automatic route declined", "", "1", {plat::kIdNo}, {Confirm("D:\\Game"), gone}},
      {"manual route not wanted", "", "", {ok, plat::kIdNo}, {none, ask, gone}},
      {"SETUP cancelled", "", "", {ok, yes}, {none, ask, gone}},
      {"applied to the folder chosen by hand",
       "KEYFILE game.exe\nINSTMAKEFOL 1\n",
       "",
       {ok, yes, yes},
       {none, ask, chosen},
       {{true, "D:\\Game\\"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh(c.env, c.isInst, c.isInst.empty() ? "" : "D:\\Game");
    InstallUpdater(dir_ + "/updater.exe", Payload({{"probe.txt", "ok"}}));
    MakeTree(dir_, {"D:/Game/KOVELA_APP/game.exe"});
    update::host_setup::Script(c.setup);
    fake::ScriptAnswers(c.answers);
    const bool applied = !c.setup.empty();
    EXPECT_EQ(update::RunUpdate(), applied ? 0 : -1);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(update::LastFinishDialog().count, applied ? 1 : 0);
    EXPECT_EQ(ReadWholeFile(dir_ + "/D:/Game/KOVELA_APP/probe.txt"), applied ? "ok" : "");
  }
}

}  // namespace
