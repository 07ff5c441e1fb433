#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/blocks.h"
#include "base/boxes.h"
#include "base/files.h"
#include "base/messages.h"
#include "base/workfolder.h"
#include "config/config.h"
#include "container_writer.h"
#include "doubles.h"
#include "fake.h"
#include "platform/posix.h"
#include "update/finish.h"
#include "update/locate.h"

std::string MakeTempFolder() {
  char tmpl[] = "/tmp/kovela-test-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "";
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  if (path.rfind("/tmp/", 0) == 0 && path.size() > 5) std::filesystem::remove_all(path, ec);
}

// Test paths are CP932 like the updater's own; the host platform's mapping names the files.
std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(posix::ToHostPath(path.c_str()), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& data) {
  std::ofstream(posix::ToHostPath(path.c_str()), std::ios::binary) << data;
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(posix::ToHostPath(path.c_str()), ec);
}

Names ListTree(const std::string& root) {
  namespace fs = std::filesystem;
  const fs::path base = posix::ToHostPath(root.c_str());
  Names out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(base, ec), end; it != end; it.increment(ec)) {
    std::string rel = posix::FromHostPath(it->path().lexically_relative(base).string());
    out.push_back(it->is_directory() ? rel + "/" : rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void MakeFolders(const std::string& base, const Names& relative) {
  for (const std::string& r : relative) mkdir(posix::ToHostPath((base + r).c_str()).c_str(), 0777);
}

void MakeTree(const std::string& base, const Names& relative, const std::string& data) {
  MakeFolders(base, {""});
  for (const std::string& r : relative) {
    for (std::size_t i = r.find('/'); i != std::string::npos; i = r.find('/', i + 1))
      MakeFolders(base + "/", {r.substr(0, i)});
    if (!r.empty() && r.back() != '/') WriteWholeFile(base + "/" + r, data);
  }
}

std::uint64_t WriteTime(const std::string& path) {
  std::uint64_t t = 0;
  return plat::GetFileWriteTime(path.c_str(), &t) == 0 ? t : 0;
}

void SetWriteTime(const std::string& path, std::uint64_t filetime) {
  struct timespec ts[2] = {{0, UTIME_OMIT}, posix::UnixFromFiletime(filetime)};
  utimensat(AT_FDCWD, posix::ToHostPath(path.c_str()).c_str(), ts, 0);
}

std::string Snapshot(const std::string& root) {
  std::string s;
  for (const std::string& name : ListTree(root)) {
    const std::string path = root + "/" + name;
    std::error_code ec;
    if (std::filesystem::is_symlink(posix::ToHostPath(path.c_str()), ec)) {
      s += name + " link\n";
      continue;
    }
    const bool folder = name.back() == '/';  // a folder's own time follows what happens inside it
    const std::string bytes = folder ? "" : ReadWholeFile(path);
    s += name + " " + std::to_string(bytes.size()) + " " + std::to_string(folder ? 0 : WriteTime(path)) +
         " " + std::to_string(std::hash<std::string>()(bytes)) + "\n";
  }
  return s;
}

std::string CurrentFolder() {
  char b[4096];
  return getcwd(b, sizeof b) ? b : "";
}

std::string Rnd(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

Names BoxTexts() {
  Names t;
  for (const fake::BoxRecord& b : fake::Boxes()) t.push_back(b.text);
  return t;
}

int ExitCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const fake::ProcessExit& e) { return e.code; }
  return kReturned;
}

std::string Payload(const std::vector<Entry>& entries, bool end) {
  std::FILE* t = std::tmpfile();
  for (const Entry& e : entries) {
    if (e.folder)
      mkupdater::WriteFolderRecord(t, e.name);
    else
      mkupdater::WriteFileRecord(t, e.name, std::vector<std::uint8_t>(e.data.begin(), e.data.end()),
                                 kFileTime, 9);
  }
  if (end) std::fwrite("\0\0\0\0", 1, 4, t);
  std::string b(static_cast<std::size_t>(std::ftell(t)), '\0');
  std::rewind(t);
  EXPECT_EQ(std::fread(&b[0], 1, b.size(), t), b.size());
  std::fclose(t);
  return b;
}

void InstallUpdater(const std::string& exe, const std::string& payload, std::int64_t trailer) {
  const std::uint32_t off = static_cast<std::uint32_t>(trailer < 0 ? 2 : trailer);
  std::string all = "MZ" + payload;
  for (int i = 0; i < 4; ++i) all.push_back(static_cast<char>(off >> (8 * i)));
  WriteWholeFile(exe, all);
  fake::SetModulePath(exe);
}

// n bytes of v, least significant first, at offset at of h.
void PutLittleEndian(std::string& h, std::size_t at, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) h[at + i] = static_cast<char>(v >> (8 * i));
}

std::string PeStub(std::uint16_t magic, std::uint32_t tableOffset, std::uint32_t tableSize) {
  std::string h(512, '\0');
  auto put = [&](std::size_t at, std::uint32_t v, int n) { PutLittleEndian(h, at, v, n); };
  const std::size_t dirs = magic == 0x20B ? 112 : 96;  // the directories' offset in the optional header
  h[0] = 'M', h[1] = 'Z';
  put(0x3C, 0x40, 4);
  h.replace(0x40, 4, "PE\0\0", 4);
  put(0x44, 0x14C, 2);                                      // i386
  put(0x54, static_cast<std::uint32_t>(dirs + 16 * 8), 2);  // size of the optional header
  put(0x56, 0x0102, 2);                                     // executable, 32-bit
  put(0x58, magic, 2);
  put(0x58 + 60, 512, 4);       // size of the headers
  put(0x58 + dirs - 4, 16, 4);  // number of data directories
  put(0x58 + dirs + 32, tableOffset, 4);
  put(0x58 + dirs + 36, tableSize, 4);
  return h;
}

std::string UpdaterStub(const std::string& version) {
  std::string h = PeStub() + std::string(512, '\0');
  auto put = [&](std::size_t at, std::uint32_t v, int n) { PutLittleEndian(h, at, v, n); };
  constexpr std::uint32_t kRva = 0x1000, kSection = 512;
  put(0x46, 1, 2);               // one section
  put(0x58 + 96 + 16, kRva, 4);  // resource directory
  put(0x58 + 96 + 20, 512, 4);
  h.replace(0x58 + 224, 5, ".rsrc", 5);
  put(0x58 + 224 + 8, 512, 4);    // virtual size
  put(0x58 + 224 + 12, kRva, 4);  // address
  put(0x58 + 224 + 16, 512, 4);   // raw size
  put(0x58 + 224 + 20, kSection, 4);
  // type 10 -> name "KOVELA_STUB" -> language 0x411 -> data
  auto dir = [&](std::uint32_t at, bool named, std::uint32_t key, std::uint32_t target) {
    put(kSection + at + (named ? 12 : 14), 1, 2);
    put(kSection + at + 16, key, 4);
    put(kSection + at + 20, target, 4);
  };
  dir(0x00, false, 10, 0x80000018);
  dir(0x18, true, 0x80000060, 0x80000030);
  dir(0x30, false, 0x411, 0x48);
  const std::string text = "kovela-updater " + version, name = "KOVELA_STUB";
  put(kSection + 0x48, kRva + 0x80, 4);
  put(kSection + 0x4C, static_cast<std::uint32_t>(text.size()), 4);
  put(kSection + 0x60, static_cast<std::uint32_t>(name.size()), 2);
  for (std::size_t i = 0; i < name.size(); ++i) put(kSection + 0x62 + 2 * i, name[i], 2);
  h.replace(kSection + 0x80, text.size(), text);
  return h;
}

int RunTool(int (*command)(int, char**), std::vector<std::string> args, std::string* out, std::string* err) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int code = command(static_cast<int>(argv.size()), argv.data());
  std::string printed = ::testing::internal::GetCapturedStdout();
  std::string complained = ::testing::internal::GetCapturedStderr();
  if (out) *out = printed;
  if (err) *err = complained;
  return code;
}

void ResetHost() {
  fake::Reset();
  base::ResetBoxesForTests();
  base::ResetFilesForTests();
  config::ResetForTests();
  update::host_setup::Reset();
  update::ResetFinishForTests();
}

void HostTest::SetUp() {
  start_ = CurrentFolder();
  ResetHost();
  base::EnablePlainNameLookup();
  dir_ = MakeTempFolder();
  ASSERT_FALSE(dir_.empty());
  fake::SetTempFolder(dir_ + "/tmp/");
  mkdir((dir_ + "/tmp").c_str(), 0777);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void HostTest::TearDown() {
  if (chdir(start_.c_str()) != 0) std::perror("chdir");
  RemoveTree(dir_);
  ResetHost();
}
