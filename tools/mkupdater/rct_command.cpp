// `mkupdater rct decode <in.rct> <out.png>` and
// `mkupdater rct encode [--variant V] [--name TEXT] <in.png> <out.rct>`.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rct_codec.h"

namespace mkupdater {
namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitBadInput = 2;
constexpr const char* kVariantNames[4] = {"TC00", "TS00", "TC01", "TS01"};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, text::kErrorLine, message.c_str());
  return code;
}

int Usage() {
  std::fputs(text::kUsage, stderr);
  return kExitUsage;
}

int ReadWholeFile(const char* path, std::vector<std::uint8_t>* out) {
  FilePtr f(std::fopen(path, "rb"));
  if (!f) return -1;
  out->clear();
  std::uint8_t buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) out->insert(out->end(), buf, buf + got);
  return std::ferror(f.get()) ? -1 : 0;
}

int WriteWholeFile(const char* path, const std::vector<std::uint8_t>& data) {
  FilePtr f(std::fopen(path, "wb"));
  if (!f) return -1;
  if (std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) return -1;
  return std::fclose(f.release()) == 0 ? 0 : -1;
}

void PrintSize(const char* format, const char* path, const BgrImage& image,
               image::RctVariant variant, std::size_t fileSize) {
  const std::size_t raw = image.pixels.size();
  std::printf(format, path, static_cast<long>(image.width), static_cast<long>(image.height),
              kVariantNames[static_cast<int>(variant)], static_cast<unsigned long>(fileSize),
              static_cast<unsigned long>(raw), raw ? 100.0 * fileSize / raw : 0.0);
}

int Decode(const char* in, const char* out) {
  std::vector<std::uint8_t> file;
  if (ReadWholeFile(in, &file) != 0) return Fail(kExitUsage, Format(text::kCannotRead, in));
  BgrImage image;
  image::RctVariant variant{};
  std::string error;
  if (DecodeRctFile(file, &image, &variant, &error) != 0) {
    return Fail(kExitBadInput, std::string(in) + ": " + error);
  }
  if (WritePng(out, image, &error) != 0) return Fail(kExitUsage, error);
  PrintSize(text::kDecoded, in, image, variant, file.size());
  return kExitOk;
}

int Encode(const char* in, const char* out, image::RctVariant variant, const std::string& name) {
  BgrImage image;
  std::string error;
  if (ReadPng(in, &image, &error) != 0) return Fail(kExitBadInput, error);
  std::vector<std::uint8_t> file;
  if (BuildRctFile(image, variant, name, &file) != 0) {
    return Fail(kExitBadInput, Format(text::kPngTooLarge, in));
  }
  if (WriteWholeFile(out, file) != 0) return Fail(kExitUsage, Format(text::kCannotWrite, out));
  PrintSize(text::kEncoded, out, image, variant, file.size());
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
        return Fail(kExitUsage, Format(text::kUnknownVariant, argv[i + 1]));
      }
    } else if (std::strcmp(argv[i], "--name") == 0) {
      name = argv[i + 1];
      nameGiven = true;
    } else {
      return Usage();
    }
  }
  if (argc - i != 2) return Usage();
  if (nameGiven && !image::RctHasName(variant)) return Fail(kExitUsage, text::kNameWithout01);
  if (name.size() > 0xFFFF) {
    return Fail(kExitUsage, Format(text::kNameTooLong, static_cast<unsigned long>(name.size())));
  }
  return Encode(argv[i], argv[i + 1], variant, name);
}

}  // namespace mkupdater
