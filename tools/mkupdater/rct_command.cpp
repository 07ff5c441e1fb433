// `mkupdater rct decode <in.rct> <out.png>` and
// `mkupdater rct encode [--variant V] [--name TEXT] <in.png> <out.rct>`.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checks.h"
#include "rct_codec.h"
#include "tool.h"

namespace mkupdater {
namespace {

constexpr const char* kVariantNames[4] = {"TC00", "TS00", "TC01", "TS01"};

int Fail(int code, const std::string& message) { return mkupdater::Fail(code, "rct: %s", message.c_str()); }

int Usage() {
  std::fputs(text::kUsage, stderr);
  return kUsageError;
}

void PrintSize(const char* format, const char* path, const BgrImage& image, image::RctVariant variant,
               std::size_t fileSize) {
  const std::size_t raw = image.pixels.size();
  std::printf(format, path, static_cast<long>(image.width), static_cast<long>(image.height),
              kVariantNames[static_cast<int>(variant)], static_cast<unsigned long>(fileSize),
              static_cast<unsigned long>(raw), raw ? 100.0 * fileSize / raw : 0.0);
}

int Decode(const char* in, const char* out) {
  std::vector<std::uint8_t> file;
  if (ReadWholeFile(in, &file) != 0) return Fail(kUsageError, Format(text::kCannotRead, in));
  BgrImage image;
  image::RctVariant variant{};
  std::string error;
  if (DecodeRctFile(file, &image, &variant, &error) != 0) {
    return Fail(kDataError, std::string(in) + ": " + error);
  }
  if (WritePng(out, image, &error) != 0) return Fail(kUsageError, error);
  PrintSize(text::kDecoded, in, image, variant, file.size());
  return kExitOk;
}

int Encode(const char* in, const char* out, image::RctVariant variant, const std::string& name) {
  BgrImage image;
  std::string error;
  if (ReadPng(in, &image, &error) != 0) return Fail(kDataError, error);
  std::vector<std::uint8_t> file;
  if (BuildRctFile(image, variant, name, &file) != 0) {
    return Fail(kDataError, Format(text::kPngTooLarge, in));
  }
  if (WriteWholeFile(out, file) != 0) return Fail(kUsageError, Format(text::kCannotWrite, out));
  PrintSize(text::kEncoded, out, image, variant, file.size());
  const std::string advice = TitleSizeAdvice(image.width, image.height);
  if (!advice.empty()) Finding(false, in, "%s", advice.c_str());
  return kExitOk;
}

}  // namespace

int RunRctCommand(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string verb = argv[1];
  if (verb == "decode") {
    if (argc != 4) return Usage();
    return Decode(argv[2], argv[3]);
  }
  if (verb != "encode") return Usage();

  image::RctVariant variant = image::RctVariant::TC00;
  std::string name;
  bool nameGiven = false;
  int i = 2;
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--variant") == 0) {
      if (ParseRctVariantName(argv[i + 1], &variant) != 0) {
        return Fail(kUsageError, Format(text::kUnknownVariant, argv[i + 1]));
      }
    } else if (std::strcmp(argv[i], "--name") == 0) {
      name = argv[i + 1];
      nameGiven = true;
    } else {
      return Usage();
    }
  }
  if (argc - i != 2) return Usage();
  if (nameGiven && !image::RctHasName(variant)) return Fail(kUsageError, text::kNameWithout01);
  if (name.size() > 0xFFFF) {
    return Fail(kUsageError, Format(text::kNameTooLong, static_cast<unsigned long>(name.size())));
  }
  return Encode(argv[i], argv[i + 1], variant, name);
}

}  // namespace mkupdater
