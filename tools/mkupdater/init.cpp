// mkupdater init <folder> [title.png]: a folder to start an update in, with a commented
// install.env (UTF-8, CRLF as Windows editors save it) and the title picture (from the PNG, or
// a plain one to replace later), so that it builds at once.
#include <string>
#include <vector>

#include "checks.h"
#include "commands.h"
#include "host.h"
#include "rct_codec.h"
#include "tool.h"

namespace mkupdater {
namespace {

// Every line either a comment or what the updater reads; %s: the title (blanks as '|').
constexpr char kTemplate[] =
    u8"// install.env: what the updater needs to know about your application. Saved as UTF-8;\n"
    u8"// mkupdater build stores it as code page 932 (Shift-JIS), the only text the updater reads.\n"
    u8"// One setting per line: KEY value. A value cannot hold a blank: write | for one.\n"
    u8"// Check it with: mkupdater lint install.env\n"
    u8"\n"
    u8"// The registry key your installer writes: HKEY_LOCAL_MACHINE\\Software\\REG_GLOBAL\\REG_LOCAL\n"
    u8"// with the values IsInst and InstTo (the install folder).\n"
    u8"REG_GLOBAL MyCompany\n"
    u8"REG_LOCAL MyGame\n"
    u8"// The application's name in the window title and in every message.\n"
    u8"TITLEBAR %s\n"
    u8"// Where it is installed by default: <Program Files>\\INSTFOL\\INSTTO (INSTFOL may go).\n"
    u8"INSTFOL MyCompany\n"
    u8"INSTTO MyGame\n"
    u8"// 1: add INSTFOL\\INSTTO to a folder the user picks by hand.\n"
    u8"INSTMAKEFOL 0\n"
    u8"// A file that proves a folder holds the application (relative to it). Without KEYFILE no\n"
    u8"// folder is proven: the default folder is never taken by itself, and the install folder\n"
    u8"// that the registry records (InstTo) is taken without a check.\n"
    u8"KEYFILE game.exe\n"
    u8"// Only installed versions from CHKREGVER to CHKREGVERHIGH take this update: the number in\n"
    u8"// HKEY_CURRENT_USER\\Software\\REG_GLOBAL\\REG_LOCAL, value CHKREG. Remove the // to use it.\n"
    u8"// CHKREG Version\n"
    u8"// CHKREGVER 100\n"
    u8"// CHKREGVERHIGH 109\n"
    u8"// The readme offered in the menu and after the update: its caption (- for none) and file.\n"
    u8"INSTREADME -\n"
    u8"INSTREADMEFL readme.txt\n"
    u8"// The INI file that [ini] writes (- for none) and its section. Give a full path: Windows\n"
    u8"// puts a bare name into the Windows folder, not into the install folder.\n"
    u8"INI_FILE -\n"
    u8"INI_SECTION -\n"
    u8"\n"
    u8"// Lines written into INI_FILE after the update: key=value (REP_INSTALL: the install folder).\n"
    u8"[ini]\n"
    u8"-\n"
    u8"// Registry values set under HKEY_CURRENT_USER\\Software\\REG_GLOBAL\\REG_LOCAL after the\n"
    u8"// update, as regedit writes them: \"Name\"=\"value\".\n"
    u8"[reg]\n"
    u8"-\n"
    u8"// Files deleted from the install folder after the update (wildcards allowed). The first two\n"
    u8"// are the updater's own, which it unpacks there too.\n"
    u8"[delfiles_afterinst]\n"
    u8"install.env\n"
    u8"insttscr.rct\n"
    u8"-\n"
    u8"[EOF]\n";

constexpr char kUsage[] = "usage: mkupdater init <folder> [title.png]\n";

// The folder's own name as a title: blanks as '|', "My|Game" when it has no code page 932 form.
std::string TitleFrom(std::string folder) {
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  std::size_t cut = folder.find_last_of("/\\");
  std::string name = cut == std::string::npos ? folder : folder.substr(cut + 1), cp;
  for (char& c : name)
    if (static_cast<unsigned char>(c) <= 0x20) c = '|';
  return name.empty() || name.size() > 60 || !Utf8ToCp932(name, &cp) ? "My|Game" : name;
}

}  // namespace

int RunInitCommand(int argc, char** argv) {
  if (argc < 2 || argc > 3 || argv[1][0] == '-')
    return WrongCall(argc, argv, 2, "the folder to start", kUsage);
  const std::string folder = argv[1], env = folder + "/install.env", rct = folder + "/insttscr.rct";
  if (host::Exists(env))
    return Fail(kUsageError, "'%s' exists already; nothing was changed (remove it to start again)",
                env.c_str());
  // The title picture: the PNG, or a plain dark one to replace later.
  BgrImage image;
  std::vector<std::uint8_t> picture;
  std::string error;
  if (argc == 3 && ReadPng(argv[2], &image, &error) != 0) return Fail(kDataError, "%s", error.c_str());
  if (argc == 3 && !TitleSizeAdvice(image.width, image.height).empty())
    Finding(false, argv[2], "%s", TitleSizeAdvice(image.width, image.height).c_str());
  if (argc == 2) {
    image.width = 256;
    image.height = 128;
    for (int i = 0; i < image.width * image.height; ++i)
      image.pixels.insert(image.pixels.end(), {0x60, 0x30, 0x20});
  }
  if (BuildRctFile(image, image::RctVariant::TC00, "", &picture) != 0)
    return Fail(kDataError, "'%s' is too large for a title picture", argv[2]);
  const bool keepPicture = argc == 2 && host::Exists(rct);
  if (argc == 3 && host::Exists(rct))
    return Fail(kUsageError, "'%s' exists already; nothing was changed (remove it, or leave out the PNG)",
                rct.c_str());
  if (host::MakeFolder(folder) != 0)
    return Fail(kDataError, "cannot create '%s': %s", folder.c_str(), host::LastError().c_str());
  std::string text = kTemplate;
  text.replace(text.find("%s"), 2, TitleFrom(folder));
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, 1, '\r');
  if (WriteWholeFile(env, std::vector<std::uint8_t>(text.begin(), text.end())) != 0)
    return Fail(kDataError, "cannot write '%s'", env.c_str());
  if (!picture.empty() && WriteWholeFile(rct, picture) != 0)
    return Fail(kDataError, "cannot write '%s'", rct.c_str());
  std::printf(
      "%s: install.env%s written; fill in install.env, add the files to install, then run\n"
      "  mkupdater build --stub updater.exe --out MyUpdate.exe %s\n",
      folder.c_str(),
      keepPicture ? ""
      : argc == 3 ? " and insttscr.rct"
                  : " and a plain insttscr.rct",
      folder.c_str());
  return kExitOk;
}

}  // namespace mkupdater
