// Checks of the stub and the title picture.
#include "checks.h"

#include <vector>

#include "envtext.h"
#include "host.h"
#include "rct_codec.h"
#include "stub.h"
#include "tool.h"
#include "tree.h"

namespace mkupdater {

int CheckStubFile(const std::string& path) {
  File f(host::Open(path, "rb"));
  if (!f) return Finding(true, path, "cannot open the stub: %s", host::LastError().c_str());
  if (std::fseek(f.get(), 0, SEEK_END) != 0 || std::ftell(f.get()) < 0)
    return Finding(true, path, "cannot read the stub");
  const StubInfo info = ExamineStub(f.get(), static_cast<std::uint64_t>(std::ftell(f.get())));
  return info.kind == StubKind::Ours ? 0 : Finding(true, path, "%s", StubProblem(info, false).c_str());
}

int CheckOutput(const std::string& path) {
  if (host::IsFolder(path))
    return Finding(true, path, "--out names a folder; give the updater's file name, such as %s/MyUpdate.exe",
                   path.c_str());
  const std::size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  if (!host::IsFolder(folder))
    return Finding(true, path,
                   "the folder '%s' does not exist; create it first, or write the updater elsewhere",
                   folder.c_str());
  return 0;
}

int CheckUpdaterProgram(std::FILE* f, std::uint64_t programLength, const std::string& path) {
  const StubInfo info = ExamineStub(f, programLength);
  return info.kind == StubKind::Ours ? 0 : Finding(true, path, "%s", StubProblem(info, true).c_str());
}

std::string TitleSizeAdvice(long width, long height) {
  if (width <= kMenuPictureWidth && height <= kMenuPictureHeight) return "";
  return Format(
      "the picture is %ld x %ld, but the menu shows at most %d x %d: the rest is cut off or lies "
      "under the buttons; make it %d x %d or smaller",
      width, height, kMenuPictureWidth, kMenuPictureHeight, kMenuPictureWidth, kMenuPictureHeight);
}

void StoreTextsAsCp932(const std::string& folder, std::vector<Entry>* entries) {
  for (Entry& e : *entries) {
    if (StartupRank(e) != 2 || e.size > (1u << 24)) continue;
    const std::string path = folder + "/" + e.rel;
    std::vector<std::uint8_t> raw;
    std::string text, error;
    EnvEncoding encoding = EnvEncoding::Ascii;
    int line = 0;
    if (ReadWholeFile(path, &raw) != 0) continue;  // packing reports it
    if (DecodeInstallEnv(raw, &encoding, &text, &line, &error) != 0) {
      Finding(false, Format("%s:%d", path.c_str(), line),
              "%s; stored as it is, and the player's text viewer may "
              "show it garbled",
              error.c_str());
      continue;
    }
    if (encoding != EnvEncoding::Utf8 && encoding != EnvEncoding::Utf8WithBom) continue;
    e.inMemory = true;
    e.data = text;
    e.size = text.size();
  }
}

int CheckTitlePicture(const std::string& path) {
  std::vector<std::uint8_t> file;
  if (ReadWholeFile(path, &file) != 0)
    return Finding(true, path, "cannot read the title picture: %s", host::LastError().c_str());
  // A header that announces more pixels than any screen shows is refused before decoding,
  // which would need memory for all of them.
  image::RctHeader header{};
  if (image::ParseRctHeader(file.data(), file.size(), &header) == 0 &&
      static_cast<std::int64_t>(header.width) * header.height > std::int64_t{8192} * 8192)
    return Finding(true, path,
                   "the title picture claims %ld x %ld pixels; make it %d x %d with mkupdater rct encode",
                   static_cast<long>(header.width), static_cast<long>(header.height), kMenuPictureWidth,
                   kMenuPictureHeight);
  BgrImage image;
  image::RctVariant variant{};
  std::string error;
  if (DecodeRctFile(file, &image, &variant, &error) != 0)
    return Finding(true, path,
                   "the updater cannot show this title picture (%s); make it again with mkupdater rct encode "
                   "<picture.png> %s",
                   error.c_str(), path.c_str());
  const std::string advice = TitleSizeAdvice(image.width, image.height);
  if (!advice.empty()) Finding(false, path, "%s", advice.c_str());
  return 0;
}

}  // namespace mkupdater
