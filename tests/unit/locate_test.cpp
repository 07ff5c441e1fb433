// Locating the installed application on the host platform: the folder normalisation, the
// version gate, the registry readers and the decisions of both routes and of the update
// action's first step.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "config/config.h"
#include "container_writer.h"
#include "platform/host_control.h"
#include "shell/shell.h"
#include "test_support.h"
#include "update/finish.h"
#include "update/locate.h"
#include "update/update.h"

namespace {

using plat::RegRoot;
using update::Normalised;
namespace text = update::text;

constexpr char kKey[] = "Software\\Maker\\Game";
constexpr char kBase[] = "REG_GLOBAL Maker\nREG_LOCAL Game\nTITLEBAR テスト\n";

std::string Format(const char* format, const std::string& arg) {
  char out[1024];
  std::snprintf(out, sizeof out, format, arg.c_str());
  return out;
}

std::vector<std::string> BoxTexts() {
  std::vector<std::string> t;
  for (const host::BoxRecord& b : host::Boxes()) t.push_back(b.text);
  return t;
}

int ExitCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const host::ProcessExit& e) {
    return e.code;
  }
  return INT32_MIN;
}

class LocateTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    update::host_setup::Reset();
    update::ResetFinishForTests();
    shell::EnablePlainNameLookup();
    // Drive-letter paths map to folders below the current folder: C:\X is dir_/C:/X.
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    update::host_setup::Reset();
    update::ResetFinishForTests();
    HostTest::TearDown();
  }

 public:
  // install.env made of the common keys and more lines.
  void Configure(const std::string& more) {
    config::ResetForTests();
    std::string env = kBase + more + "[EOF]\n";
    ASSERT_EQ(config::LoadSetupConfigFromMemory(env.data(), env.size()), 0);
  }
  void MakeFile(const std::string& path) {
    std::string p;
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (path[i] == '/' && i > 0) mkdir((dir_ + "/" + p).c_str(), 0777);
      p += path[i];
    }
    WriteWholeFile(dir_ + "/" + p, "key");
  }
  void Record(const std::string& instTo, const std::string& isInst = "1") {
    host::RegPut(RegRoot::LocalMachine, kKey, "IsInst", plat::kRegSz, isInst);
    if (!instTo.empty()) host::RegPut(RegRoot::LocalMachine, kKey, "InstTo", plat::kRegSz, instTo);
  }
  std::string Cwd() {
    char b[4096];
    return getcwd(b, sizeof b) ? b : "";
  }
};

// ---- Normalisation --------------------------------------------------------------------------

TEST_F(LocateTest, NormalisationTable) {
  const std::string a247(247, 'a'), a256(256, 'a'), a257(257, 'a');
  struct Case {
    std::string typed;
    std::string env;  // INSTMAKEFOL / INSTFOL / INSTTO lines
    const char* windows;
    Normalised result;
    std::string folder;  // when Ok
  } cases[] = {
      {"\\\\server\\share", "", "C:\\WINDOWS", Normalised::Network, ""},
      {"C:\\Games\\\\Sub", "", "C:\\WINDOWS", Normalised::Network, ""},
      {"//server/share", "", "C:\\WINDOWS", Normalised::Network, ""},
      {"C:/Games//", "", "C:\\WINDOWS", Normalised::Network, ""},
      // ソ and 表 end in 0x5C: their trail byte is neither a separator nor half a pair.
      {"C:\\ソ", "", "C:\\WINDOWS", Normalised::Ok, "C:\\ソ"},
      {"C:\\表", "", "C:\\WINDOWS", Normalised::Ok, "C:\\表"},
      {"C:\\ソ\\", "", "C:\\WINDOWS", Normalised::Ok, "C:\\ソ"},
      {"C:\\表\\data", "", "C:\\WINDOWS", Normalised::Ok, "C:\\表\\data"},
      {"D:", "", "C:\\WINDOWS", Normalised::Root, ""},
      {"D:\\", "", "C:\\WINDOWS", Normalised::Root, ""},
      {"D:/", "", "C:\\WINDOWS", Normalised::Root, ""},
      {"", "", "C:\\WINDOWS", Normalised::Root, ""},
      {"D:", "INSTMAKEFOL 1\n", "C:\\WINDOWS", Normalised::Ok, "D:\\KOVELA_APP"},
      {"D:\\", "INSTMAKEFOL 1\n", "C:\\WINDOWS", Normalised::Ok, "D:\\KOVELA_APP"},
      {"D:\\Games\\", "INSTMAKEFOL 1\nINSTFOL Maker\n", "C:\\WINDOWS", Normalised::Ok,
       "D:\\Games\\Maker\\KOVELA_APP"},
      {"D:\\MyKOVELA_APP2\\x", "INSTMAKEFOL 1\n", "C:\\WINDOWS", Normalised::Ok, "D:\\MyKOVELA_APP2\\x"},
      {"D:\\kovela_app", "INSTMAKEFOL 1\n", "C:\\WINDOWS", Normalised::Ok, "D:\\kovela_app\\KOVELA_APP"},
      {"Games", "", "C:\\WINDOWS", Normalised::Ok, "C:\\Games"},
      {"\\Games", "", "E:\\WINNT", Normalised::Ok, "E:\\Games"},
      {"C:/Games/", "", "C:\\WINDOWS", Normalised::Ok, "C:\\Games"},
      {"C:Games", "", "C:\\WINDOWS", Normalised::Ok, "C:\\Games"},
      // A Windows folder without a drive lends none.
      {"Games", "", "\\WINDOWS", Normalised::Ok, "Games"},
      {"\\", "", "WINDOWS", Normalised::Root, ""},  // nothing left: not a folder to write into
      // Compositions that would not fit 259 bytes are refused, never cut.
      {"D:\\" + a247, "INSTMAKEFOL 1\n", "C:\\WINDOWS", Normalised::TooLong, ""},
      {"D:\\" + a247.substr(0, 245), "INSTMAKEFOL 1\n", "C:\\WINDOWS", Normalised::Ok,
       "D:\\" + a247.substr(0, 245) + "\\KOVELA_APP"},
      {a257, "", "C:\\WINDOWS", Normalised::TooLong, ""},     // drive fits, separator not
      {a256, "", "C:\\WINDOWS", Normalised::Ok, "C:\\" + a256},
      {"\\" + a257, "", "C:\\WINDOWS", Normalised::TooLong, ""},  // drive does not fit
      {"D:" + a257, "", "C:\\WINDOWS", Normalised::TooLong, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("typed \"" + c.typed + "\" with " + c.env);
    Configure(c.env);
    host::SetWindowsFolder(c.windows);
    ASSERT_LT(c.typed.size(), update::kFolderSize);
    std::memcpy(update::CandidateFolder(), c.typed.c_str(), c.typed.size() + 1);
    EXPECT_EQ(update::NormaliseCandidate(), c.result);
    if (c.result == Normalised::Ok) {
      EXPECT_EQ(std::string(update::CandidateFolder()), c.folder);
    }
    EXPECT_LT(std::strlen(update::CandidateFolder()), update::kFolderSize);
  }
}

TEST_F(LocateTest, DefaultFolderComposition) {
  struct Case {
    const char* windows;
    std::string env;
    int result;
    std::string folder;
  } cases[] = {
      {"C:\\WINDOWS", "", 0, "C:\\Program Files\\KOVELA_APP"},
      {"D:\\WINNT\\System", "INSTFOL Maker\n", 0, "D:\\Program Files\\Maker\\KOVELA_APP"},
      {"WINDOWS", "", 0, "Program Files\\KOVELA_APP"},
      {"", "", 0, "Program Files\\KOVELA_APP"},
      {"C:\\WINDOWS", "INSTFOL " + std::string(120, 'f') + "\nINSTTO " + std::string(120, 't') + "\n",
       0, "C:\\Program Files\\" + std::string(120, 'f') + "\\" + std::string(120, 't')},
      {"C:\\WINDOWS", "INSTFOL " + std::string(127, 'f') + "\nINSTTO " + std::string(127, 't') + "\n",
       -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.windows) + " " + c.env);
    Configure(c.env);
    host::SetWindowsFolder(c.windows);
    EXPECT_EQ(update::ComposeDefaultFolder(), c.result);
    EXPECT_EQ(std::string(update::CandidateFolder()), c.folder);
  }
}

// ---- Version gate and registry readers ------------------------------------------------------

TEST_F(LocateTest, VersionGateTable) {
  struct Case {
    const char* what;
    std::string env;
    bool stored;
    std::uint32_t type;
    std::string data;
    bool denyFull;  // the key may be read but not written
    const char* message;  // nullptr: the gate passes
  } cases[] = {
      {"no CHKREG", "CHKREGVER 5\nCHKREGVERHIGH 9\n", true, plat::kRegSz, "1", false, nullptr},
      {"absent value passes 0..0", "CHKREG Ver\n", false, 0, "", false, nullptr},
      {"absent value below 1", "CHKREG Ver\nCHKREGVER 1\nCHKREGVERHIGH 5\n", false, 0, "", false,
       text::kVersionTooOld},
      {"no upper bound", "CHKREG Ver\n", true, plat::kRegSz, "1", false, text::kAlreadyApplied},
      {"REG_DWORD is absent", "CHKREG Ver\nCHKREGVER 1\nCHKREGVERHIGH 9\n", true, plat::kRegDword,
       std::string("\x05\0\0\0", 4), false, text::kVersionTooOld},
      {"equal to the lower bound", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz,
       "3", false, nullptr},
      {"equal to the upper bound", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz,
       "5", false, nullptr},
      {"above", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz, "6", false,
       text::kAlreadyApplied},
      {"below", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz, "2", false,
       text::kVersionTooOld},
      {"atoi: blanks, sign, trailing text", "CHKREG Ver\nCHKREGVER -4\nCHKREGVERHIGH -4\n", true,
       plat::kRegSz, " \t-4.9beta", false, nullptr},
      {"atoi: no digits", "CHKREG Ver\nCHKREGVER 1\nCHKREGVERHIGH 5\n", true, plat::kRegSz, "v3",
       false, text::kVersionTooOld},
      {"readable, not writable", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz,
       "4", true, text::kVersionTooOld},
      {"data beyond 512 bytes", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz,
       "4" + std::string(511, ' '), false, text::kVersionTooOld},
      {"data of 511 bytes", "CHKREG Ver\nCHKREGVER 3\nCHKREGVERHIGH 5\n", true, plat::kRegSz,
       "4" + std::string(510, ' '), false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Reset();
    Configure(c.env);
    if (c.stored) host::RegPut(RegRoot::CurrentUser, kKey, "Ver", c.type, c.data);
    host::RegDenyFullAccess(RegRoot::CurrentUser, kKey, c.denyFull);
    EXPECT_EQ(update::CheckVersionGate(), c.message ? -1 : 0);
    if (c.message) {
      ASSERT_EQ(host::Boxes().size(), 1u);
      EXPECT_EQ(host::Boxes()[0].text, c.message);
      EXPECT_EQ(host::Boxes()[0].style, plat::kMbOk | plat::kMbIconError);
    } else {
      EXPECT_TRUE(host::Boxes().empty());
    }
  }
}

TEST_F(LocateTest, MachineReadersUseReadAccessAndRefuseWhatDoesNotFit) {
  host::RegDenyFullAccess(RegRoot::LocalMachine, kKey, true);
  host::RegPut(RegRoot::LocalMachine, kKey, "N", plat::kRegSz, "42");
  host::RegPut(RegRoot::LocalMachine, kKey, "D", plat::kRegDword, std::string("\x07\0\0\0", 4));
  host::RegPut(RegRoot::LocalMachine, kKey, "Path", plat::kRegSz, "D:\\表");
  host::RegPut(RegRoot::LocalMachine, kKey, "Long", plat::kRegSz, std::string(300, 'x'));
  host::RegPut(RegRoot::LocalMachine, kKey, "Fits", plat::kRegSz, std::string(259, 'y'));
  EXPECT_EQ(update::ReadMachineRegNumber("Maker", "Game", "N", 7), 42);
  EXPECT_EQ(update::ReadMachineRegNumber("Maker", "Game", "D", 7), 7);
  EXPECT_EQ(update::ReadMachineRegNumber("Maker", "Other", "N", -3), -3);
  // The user's reader asks for full access: a key that may only be read gives the default.
  host::RegPut(RegRoot::CurrentUser, kKey, "N", plat::kRegSz, "42");
  host::RegDenyFullAccess(RegRoot::CurrentUser, kKey, true);
  EXPECT_EQ(update::ReadUserRegNumber("Maker", "Game", "N", 9), 9);

  char out[update::kFolderSize];
  EXPECT_EQ(update::ReadMachineRegString("Maker", "Game", "Path", "def", out, sizeof out), 0);
  EXPECT_STREQ(out, "D:\\表");
  EXPECT_EQ(update::ReadMachineRegString("Maker", "Game", "D", "def", out, sizeof out), -1);
  EXPECT_STREQ(out, "def");
  // A record longer than the buffer would be cut into another folder's name: the default.
  EXPECT_EQ(update::ReadMachineRegString("Maker", "Game", "Long", "def", out, sizeof out), -1);
  EXPECT_STREQ(out, "def");
  EXPECT_EQ(update::ReadMachineRegString("Maker", "Game", "Fits", "", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), std::string(259, 'y'));
  char small[4];
  EXPECT_EQ(update::ReadMachineRegString("Maker", "Game", "None", "default", small, sizeof small), -1);
  EXPECT_STREQ(small, "def");
  // A key path beyond 512 bytes is never opened.
  std::string global(300, 'g'), local(300, 'l');
  host::RegPut(RegRoot::LocalMachine, "Software\\" + global + "\\" + local, "N", plat::kRegSz, "5");
  EXPECT_EQ(update::ReadMachineRegNumber(global.c_str(), local.c_str(), "N", 1), 1);
}

// ---- Automatic route ------------------------------------------------------------------------

TEST_F(LocateTest, AutomaticRouteDecisions) {
  struct Case {
    const char* what;
    std::string env;
    std::function<void(LocateTest*)> prepare;
    std::vector<int> answers;
    int result;
    std::vector<std::string> boxes;
    std::string folder;  // the caller's buffer afterwards
  } cases[] = {
      {"key file at the default folder", "KEYFILE game.exe\n",
       [](LocateTest* t) { t->MakeFile("C:/Program Files/KOVELA_APP/game.exe"); }, {plat::kIdYes}, 0,
       {Format(text::kConfirm, "C:\\Program Files\\KOVELA_APP")}, "C:\\Program Files\\KOVELA_APP"},
      {"key file under INSTFOL", "KEYFILE game.exe\nINSTFOL Maker\n",
       [](LocateTest* t) { t->MakeFile("C:/Program Files/Maker/KOVELA_APP/game.exe"); }, {plat::kIdYes},
       0, {Format(text::kConfirm, "C:\\Program Files\\Maker\\KOVELA_APP")},
       "C:\\Program Files\\Maker\\KOVELA_APP"},
      {"declined", "KEYFILE game.exe\n",
       [](LocateTest* t) { t->MakeFile("C:/Program Files/KOVELA_APP/game.exe"); }, {plat::kIdNo}, -2,
       {Format(text::kConfirm, "C:\\Program Files\\KOVELA_APP")}, "untouched"},
      {"no key file: the default folder alone is not enough", "",
       [](LocateTest* t) { t->MakeFile("C:/Program Files/KOVELA_APP/game.exe"); }, {}, -1,
       {text::kNotInstalled}, "untouched"},
      {"record without key file is taken as stored", "",
       [](LocateTest* t) { t->Record("D:\\Nowhere\\"); }, {plat::kIdYes}, 0,
       {Format(text::kConfirm, "D:\\Nowhere\\")}, "D:\\Nowhere\\"},
      {"IsInst 0", "", [](LocateTest* t) { t->Record("D:\\Game", "0"); }, {}, -1,
       {text::kNotInstalled}, "untouched"},
      {"IsInst as REG_DWORD", "",
       [](LocateTest*) {
         host::RegPut(RegRoot::LocalMachine, kKey, "IsInst", plat::kRegDword, std::string("\1\0\0\0", 4));
         host::RegPut(RegRoot::LocalMachine, kKey, "InstTo", plat::kRegSz, "D:\\Game");
       },
       {}, -1, {text::kNotInstalled}, "untouched"},
      {"IsInst without InstTo", "", [](LocateTest* t) { t->Record(""); }, {}, -1,
       {text::kFolderUnknown}, "untouched"},
      {"key file missing under the record", "KEYFILE game.exe\n",
       [](LocateTest* t) { t->Record("D:\\Game"); }, {}, -1, {text::kFolderUnknown}, "untouched"},
      {"key file under the record", "KEYFILE game.exe\n",
       [](LocateTest* t) {
         t->Record("D:\\Game");
         t->MakeFile("D:/Game/game.exe");
       },
       {plat::kIdYes}, 0, {Format(text::kConfirm, "D:\\Game")}, "D:\\Game"},
      {"a sound key file is never found", "KEYFILE bgm.ogg\n",
       [](LocateTest* t) {
         t->MakeFile("C:/Program Files/KOVELA_APP/bgm.ogg");
         t->Record("C:\\Program Files\\KOVELA_APP");
       },
       {}, -1, {text::kFolderUnknown}, "untouched"},
      {"over-long record counts as absent", "",
       [](LocateTest* t) { t->Record("D:\\" + std::string(300, 'x')); }, {}, -1,
       {text::kFolderUnknown}, "untouched"},
      {"over-long default folder is skipped for the record",
       "KEYFILE game.exe\nINSTFOL " + std::string(127, 'f') + "\nINSTTO " + std::string(127, 't') + "\n",
       [](LocateTest* t) {
         t->Record("D:\\Game");
         t->MakeFile("D:/Game/game.exe");
         t->MakeFile("game.exe");  // what an emptied default folder would wrongly find
       },
       {plat::kIdYes}, 0, {Format(text::kConfirm, "D:\\Game")}, "D:\\Game"},
      {"gate first: nothing else is read", "KEYFILE game.exe\nCHKREG Ver\nCHKREGVER 2\n",
       [](LocateTest* t) { t->MakeFile("C:/Program Files/KOVELA_APP/game.exe"); }, {}, -2,
       {text::kVersionTooOld}, "untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Reset();
    Configure(c.env);
    RemoveTree(dir_ + "/C:");
    RemoveTree(dir_ + "/D:");
    c.prepare(this);
    host::ScriptAnswers(c.answers);
    std::string before = Cwd();
    char out[update::kFolderSize] = "untouched";
    EXPECT_EQ(update::LocateInstallFolder(out, sizeof out), c.result);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(std::string(out), c.folder);
    EXPECT_EQ(Cwd(), before);
  }
}

// ---- Manual route ---------------------------------------------------------------------------

TEST_F(LocateTest, ManualRoutePrefill) {
  struct Case {
    const char* what;
    std::function<void(LocateTest*)> prepare;
    std::string opened;
  } cases[] = {
      {"no record: the default folder", [](LocateTest*) {}, "C:\\Program Files\\KOVELA_APP"},
      {"the record", [](LocateTest* t) { t->Record("E:\\Games\\App"); }, "E:\\Games\\App"},
      {"IsInst without InstTo", [](LocateTest* t) { t->Record(""); }, "C:\\Program Files\\KOVELA_APP"},
      {"IsInst 0", [](LocateTest* t) { t->Record("E:\\Games\\App", "0"); },
       "C:\\Program Files\\KOVELA_APP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Reset();
    update::host_setup::Reset();
    Configure("");
    c.prepare(this);
    char out[update::kFolderSize] = "untouched";
    EXPECT_EQ(update::SelectInstallFolder(out, sizeof out), -1);  // nothing scripted: cancelled
    ASSERT_EQ(update::host_setup::OpenedWith().size(), 1u);
    EXPECT_EQ(update::host_setup::OpenedWith()[0], c.opened);
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_STREQ(out, "untouched");
  }
}

TEST_F(LocateTest, ManualRouteDecisions) {
  using Step = update::host_setup::Step;
  mkdir((dir_ + "/elsewhere").c_str(), 0777);
  const std::string elsewhere = host::FromHostPath(dir_ + "/elsewhere");
  struct Case {
    const char* what;
    std::string env;
    Step step;
    std::vector<int> answers;
    int result;
    std::vector<std::string> boxes;
    std::string folder;
  } cases[] = {
      {"cancelled", "", {false, "D:\\Game"}, {}, -1, {}, "untouched"},
      {"confirmed", "", {true, "D:/Game/"}, {plat::kIdYes}, 0, {Format(text::kConfirm, "D:\\Game")},
       "D:\\Game"},
      {"declined", "", {true, "D:\\Game"}, {plat::kIdNo}, -1, {Format(text::kConfirm, "D:\\Game")},
       "untouched"},
      {"network path", "", {true, "\\\\server\\share"}, {}, -1, {text::kNetworkDrive}, "untouched"},
      {"root, Retry", "", {true, "D:"}, {plat::kIdRetry}, -1, {text::kRootFolder}, "untouched"},
      {"too long", "", {true, "D:\\" + std::string(300, 'x')}, {}, -1, {text::kPathTooLong},
       "untouched"},
      {"subfolder too long", "INSTMAKEFOL 1\n", {true, "D:\\" + std::string(250, 'x')}, {}, -1,
       {text::kPathTooLong}, "untouched"},
      {"key file missing", "KEYFILE game.exe\n", {true, "D:\\Game"}, {}, -1,
       {Format(text::kKeyFileMissing, "テスト")}, "untouched"},
      {"key file present", "KEYFILE game.exe\nINSTMAKEFOL 1\n", {true, "D:\\Games"}, {plat::kIdYes},
       0, {Format(text::kConfirm, "D:\\Games\\KOVELA_APP")}, "D:\\Games\\KOVELA_APP"},
      {"gate after the key file", "KEYFILE game.exe\nCHKREG Ver\nCHKREGVER 1\n",
       {true, "D:\\Games\\KOVELA_APP"}, {}, -1, {text::kVersionTooOld}, "untouched"},
      {"gate before confirmation", "CHKREG Ver\nCHKREGVERHIGH -1\n", {true, "D:\\Game"}, {}, -1,
       {text::kAlreadyApplied}, "untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Reset();
    update::host_setup::Reset();
    Configure(c.env);
    RemoveTree(dir_ + "/D:");
    MakeFile("D:/Games/KOVELA_APP/game.exe");
    Step step = c.step;
    step.wander = elsewhere;
    update::host_setup::Script({step});
    host::ScriptAnswers(c.answers);
    std::string before = Cwd();
    char out[update::kFolderSize] = "untouched";
    EXPECT_EQ(update::SelectInstallFolder(out, sizeof out), c.result);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(std::string(out), c.folder);
    EXPECT_EQ(Cwd(), before);
  }
}

TEST_F(LocateTest, RootRefusalIsFatalOnCancel) {
  Configure("");
  update::host_setup::Script({{true, "D:\\", host::FromHostPath(dir_ + "/tmp")}});
  std::string before = Cwd();
  char out[update::kFolderSize] = "untouched";
  EXPECT_EQ(ExitCodeOf([&] { update::SelectInstallFolder(out, sizeof out); }), -1);
  ASSERT_EQ(host::Boxes().size(), 1u);
  EXPECT_EQ(host::Boxes()[0].text, text::kRootFolder);
  EXPECT_EQ(host::Boxes()[0].style, plat::kMbRetryCancel | plat::kMbIconError);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(Cwd(), before);
}

// ---- The update action's first step ---------------------------------------------------------

TEST_F(LocateTest, RunUpdateAbandonsWhenNothingIsLocated) {
  using Step = update::host_setup::Step;
  const std::string ask = Format(text::kAskManualRoute, "テスト");
  struct Case {
    const char* what;
    std::string env;
    bool record;
    std::vector<Step> steps;
    std::vector<int> answers;
    std::vector<std::string> boxes;
  } cases[] = {
      {"gate refuses", "CHKREG Ver\nCHKREGVER 1\n", true, {}, {}, {text::kVersionTooOld, update::text::kAbandoned}},
      {"automatic route declined", "", true, {}, {plat::kIdNo},
       {Format(text::kConfirm, "D:\\Game"), update::text::kAbandoned}},
      {"manual route not wanted", "", false, {}, {plat::kIdOk, plat::kIdNo},
       {text::kNotInstalled, ask, update::text::kAbandoned}},
      {"SETUP cancelled", "", false, {{false, ""}}, {plat::kIdOk, plat::kIdYes},
       {text::kNotInstalled, ask, update::text::kAbandoned}},
      {"manual route declined", "", false, {{true, "D:\\Game"}}, {plat::kIdOk, plat::kIdYes, plat::kIdNo},
       {text::kNotInstalled, ask, Format(text::kConfirm, "D:\\Game"), update::text::kAbandoned}},
      {"manual route rejected", "", false, {{true, "\\\\pc\\d"}}, {plat::kIdOk, plat::kIdYes},
       {text::kNotInstalled, ask, text::kNetworkDrive, update::text::kAbandoned}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Reset();
    update::host_setup::Reset();
    Configure(c.env);
    if (c.record) Record("D:\\Game");
    update::host_setup::Script(c.steps);
    host::ScriptAnswers(c.answers);
    EXPECT_EQ(update::RunUpdate(), -1);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(update::LastFinishDialog().count, 0);
  }
}

// A folder chosen by hand is where the payload goes: the action carries on with it.
TEST_F(LocateTest, RunUpdateAppliesToTheChosenFolder) {
  std::FILE* t = std::tmpfile();
  mkupdater::WriteFileRecord(t, "probe.txt", {'o', 'k'}, 0x01D7116EA6B4B600ull, 9);
  std::fwrite("\0\0\0\0", 1, 4, t);
  std::string payload(static_cast<std::size_t>(std::ftell(t)), '\0');
  std::rewind(t);
  ASSERT_EQ(std::fread(&payload[0], 1, payload.size(), t), payload.size());
  std::fclose(t);
  WriteWholeFile(dir_ + "/updater.exe", "MZ" + payload + std::string("\x02\0\0\0", 4));
  host::SetModulePath(host::FromHostPath(dir_ + "/updater.exe"));
  MakeFile("D:/Game/KOVELA_APP/game.exe");

  Configure("KEYFILE game.exe\nINSTMAKEFOL 1\n");
  update::host_setup::Script({{true, "D:\\Game\\"}});
  host::ScriptAnswers({plat::kIdOk, plat::kIdYes, plat::kIdYes});
  EXPECT_EQ(update::RunUpdate(), 0);
  std::vector<std::string> boxes = BoxTexts();
  ASSERT_GE(boxes.size(), 3u);
  EXPECT_EQ(boxes[2], Format(text::kConfirm, "D:\\Game\\KOVELA_APP"));
  for (const std::string& b : boxes) EXPECT_NE(b, update::text::kAbandoned);
  EXPECT_EQ(ReadWholeFile(dir_ + "/D:/Game/KOVELA_APP/probe.txt"), "ok");
}

}  // namespace
