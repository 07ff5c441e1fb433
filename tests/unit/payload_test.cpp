// Container reading and extraction through the host platform.
#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "container_writer.h"
#include "payload/container.h"
#include "payload/progress.h"
#include "platform/host_control.h"
#include "shell/shell.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kTime = 0x01D7116EA6B4B600ull;  // 2021-03-04T05:06:07Z

struct Item {
  std::string name;
  bool folder;
  std::string data;
};
Item F(const std::string& n, const std::string& d) { return {n, false, d}; }
Item D(const std::string& n) { return {n, true, ""}; }

Bytes Payload(const std::vector<Item>& items, bool end = true) {
  std::FILE* t = std::tmpfile();
  for (const Item& it : items) {
    if (it.folder) {
      mkupdater::WriteFolderRecord(t, it.name);
    } else {
      mkupdater::WriteFileRecord(t, it.name, Bytes(it.data.begin(), it.data.end()), kTime, 9);
    }
  }
  if (end) std::fwrite("\0\0\0\0", 1, 4, t);
  Bytes b(static_cast<std::size_t>(std::ftell(t)));
  std::rewind(t);
  EXPECT_EQ(std::fread(b.data(), 1, b.size(), t), b.size());
  std::fclose(t);
  return b;
}

std::string Rnd(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return s;
}

class PayloadTest : public HostTest {
 protected:
  // Writes stub + payload + trailer as the "running executable" and a destination folder.
  void Install(const Bytes& payload, std::uint32_t trailer = 0xFFFFFFFF) {
    exe_ = dir_ + "/updater.exe";
    std::string stub = "MZ-stub-image";
    std::string all = stub + std::string(payload.begin(), payload.end());
    std::uint32_t off = trailer == 0xFFFFFFFF ? static_cast<std::uint32_t>(stub.size()) : trailer;
    for (int i = 0; i < 4; ++i) all.push_back(static_cast<char>(off >> (8 * i)));
    WriteWholeFile(exe_, all);
    host::SetModulePath(exe_);
    dest_ = dir_ + "/dest";
    mkdir(dest_.c_str(), 0777);
    payload::RecordedProgress().clear();
  }
  // Runs the extraction; the exit code when it ended the process, else INT32_MIN.
  int Run(payload::Mode mode) {
    try {
      payload::ExtractPayload(dest_.c_str(), mode);
    } catch (const host::ProcessExit& e) {
      return e.code;
    }
    return INT32_MIN;
  }
  std::string exe_, dest_;
};

constexpr int kReturned = INT32_MIN;

TEST_F(PayloadTest, FullWritesEveryEntryWithItsTime) {
  std::string big = Rnd(300000, 7);
  Install(Payload({F("install.env", "KEY value\n"), D("data"), D("data\\bgm"),
                   F("data\\bgm\\ソ表.ogg", "sound"), F("data\\empty.bin", ""), F("update.arc", big)}));
  ASSERT_EQ(Run(payload::Mode::Full), kReturned);
  EXPECT_EQ(ListTree(dest_), (std::vector<std::string>{"data/", "data/bgm/", "data/bgm/ソ表.ogg",
                                                       "data/empty.bin", "install.env", "update.arc"}));
  EXPECT_EQ(ReadWholeFile(dest_ + "/update.arc"), big);
  EXPECT_EQ(ReadWholeFile(dest_ + "/data/empty.bin"), "");
  for (const char* f : {"update.arc", "data\\empty.bin", "data\\bgm\\ソ表.ogg"}) {
    std::uint64_t t = 0;
    ASSERT_EQ(plat::GetFileWriteTime((dest_ + "\\" + f).c_str(), &t), 0) << f;
    EXPECT_EQ(t, kTime) << f;
  }
  EXPECT_TRUE(host::Boxes().empty());
}

TEST_F(PayloadTest, FullOverwritesFilesAndAcceptsExistingFolders) {
  Install(Payload({D("data"), F("data\\a.txt", "new")}));
  mkdir((dest_ + "/data").c_str(), 0777);
  WriteWholeFile(dest_ + "/data/a.txt", "old and longer");
  ASSERT_EQ(Run(payload::Mode::Full), kReturned);
  EXPECT_EQ(ReadWholeFile(dest_ + "/data/a.txt"), "new");
}

// Which records the start-up pass writes, and where it stops.
TEST_F(PayloadTest, BootstrapSelection) {
  struct Case {
    const char* what;
    std::vector<Item> items;
    std::vector<std::string> written;
  } cases[] = {
      {"shipped payload",
       {F("install.env", "e"), F("insttscr.rct", "r"), F("update.arc", Rnd(1000, 1))},
       {"install.env", "insttscr.rct"}},
      {"case and position do not matter",
       {F("README.TXT", "1"), F("notes.txt.old", "2"), F("Install.Env", "3"), F("a.bin", "4")},
       {"Install.Env", "README.TXT", "notes.txt.old"}},
      {"a folder record ending in its separator is passed over",
       {F("install.env", "e"), D("data\\"), F("later.txt", "x")},
       {"install.env", "later.txt"}},
      {"a top-level folder record without separator is passed over",
       {F("install.env", "e"), D("data"), F("later.txt", "x")},
       {"install.env", "later.txt"}},
      {"a nested folder record ends the pass",
       {F("install.env", "e"), D("data"), D("data\\bgm"), F("later.txt", "x")},
       {"install.env"}},
      {"matching files inside folders stay out of the work folder",
       {F("install.env", "e"), D("doc"), F("doc\\manual.txt", "m"), F("top.txt", "t")},
       {"install.env", "top.txt"}},
      {"an empty payload", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dir_ + "/dest");
    Install(Payload(c.items));
    ASSERT_EQ(Run(payload::Mode::Bootstrap), kReturned);
    EXPECT_EQ(ListTree(dest_), c.written);
    EXPECT_TRUE(payload::RecordedProgress().empty());  // no window in this mode
  }
}

TEST_F(PayloadTest, BootstrapPassesOverDataWithoutReadingIt) {
  // A skipped record's stream is never inflated: damage inside it goes unnoticed.
  Bytes p = Payload({F("install.env", "e"), F("update.arc", Rnd(5000, 3)), F("readme.txt", "r")});
  std::size_t arcData = 2 + 12 + 8 + 8 + 8 + 2 + 11 + 8 + 8;
  p[arcData + 100] ^= 0xFF;
  Install(p);
  ASSERT_EQ(Run(payload::Mode::Bootstrap), kReturned);
  EXPECT_EQ(ListTree(dest_), (std::vector<std::string>{"install.env", "readme.txt"}));
  Install(p);
  EXPECT_EQ(Run(payload::Mode::Full), -1);
}

// Every damaged or hostile container ends in the damaged-file report, exit -1, after the
// records before the damage were written and without writing anything of the bad record.
TEST_F(PayloadTest, DamagedContainers) {
  const Bytes good = Payload({F("install.env", "KEY value\n"), F("second.txt", Rnd(200, 2))});
  auto withTail = [&](const Bytes& tail) {
    Bytes b = Payload({F("install.env", "KEY value\n")}, false);
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  auto header = [](const std::string& name, std::uint32_t n, std::uint32_t size, std::uint32_t packed) {
    Bytes h;
    mkupdater::PutU16(h, n);
    h.insert(h.end(), name.begin(), name.end());
    h.push_back(0);
    mkupdater::PutU32(h, size);
    mkupdater::PutU32(h, packed);
    return h;
  };
  auto fileRec = [&](const std::string& name, const std::string& data) {
    Bytes z = mkupdater::Deflate(Bytes(data.begin(), data.end()), 9);
    Bytes h = header(name, static_cast<std::uint32_t>(name.size() + 1),
                     static_cast<std::uint32_t>(data.size()), static_cast<std::uint32_t>(z.size()));
    for (int i = 0; i < 8; ++i) h.push_back(static_cast<std::uint8_t>(kTime >> (8 * i)));
    h.insert(h.end(), z.begin(), z.end());
    return h;
  };
  auto cat = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Bytes end = {0, 0, 0, 0};
  Bytes stream = fileRec("b.txt", Rnd(3000, 4));
  Bytes shortBy1 = stream, longBy1 = stream, sizeUp = stream, sizeDown = stream, flipped = stream;
  shortBy1[2 + 6 + 4] -= 1;           // compressed size one byte short of the stream
  longBy1[2 + 6 + 4] += 1;            // ... one byte long: swallows the end marker
  sizeUp[2 + 6] += 1;                 // inflates to fewer bytes than announced
  sizeDown[2 + 6] -= 1;               // ... to more
  flipped[flipped.size() - 30] ^= 1;  // corrupt deflate data

  struct Case {
    const char* what;
    Bytes payload;
    std::uint32_t trailer;
  } cases[] = {
      {"cut inside the name length", withTail({5}), 0xFFFFFFFF},
      {"cut inside the name", withTail({9, 0, 'a', 'b'}), 0xFFFFFFFF},
      {"cut inside the sizes", withTail({2, 0, 'a', 0, 1, 0}), 0xFFFFFFFF},
      {"cut inside the time", withTail(cat(header("a", 2, 1, 9), {1, 2, 3})), 0xFFFFFFFF},
      {"cut inside the data", withTail(Bytes(stream.begin(), stream.end() - 5)), 0xFFFFFFFF},
      {"no end marker", withTail(stream), 0xFFFFFFFF},
      {"compressed size one short", withTail(cat(shortBy1, end)), 0xFFFFFFFF},
      {"compressed size one long", withTail(cat(longBy1, end)), 0xFFFFFFFF},
      {"uncompressed size too large", withTail(cat(sizeUp, end)), 0xFFFFFFFF},
      {"uncompressed size too small", withTail(cat(sizeDown, end)), 0xFFFFFFFF},
      {"corrupt deflate data", withTail(cat(flipped, end)), 0xFFFFFFFF},
      {"negative compressed size", withTail(cat(header("a", 2, 1, 0xFFFFFFF0), end)), 0xFFFFFFFF},
      {"size of 2^31", withTail(cat(header("a", 2, 0x80000000, 8), end)), 0xFFFFFFFF},
      {"name of 261 bytes", withTail(cat(header(std::string(260, 'n'), 261, 1, 9), end)), 0xFFFFFFFF},
      {"name without its NUL", withTail({3, 0, 'a', 'b', 'c', 1, 0, 0, 0, 9, 0, 0, 0}), 0xFFFFFFFF},
      {"empty name", withTail(cat(fileRec("", "x"), end)), 0xFFFFFFFF},
      {"parent component", withTail(cat(fileRec("..\\evil.txt", "x"), end)), 0xFFFFFFFF},
      {"parent inside", withTail(cat(fileRec("a\\..\\..\\evil.txt", "x"), end)), 0xFFFFFFFF},
      {"parent with slashes", withTail(cat(fileRec("a/../../evil.txt", "x"), end)), 0xFFFFFFFF},
      {"dots and spaces", withTail(cat(fileRec(".. \\evil.txt", "x"), end)), 0xFFFFFFFF},
      {"rooted name", withTail(cat(fileRec("\\evil.txt", "x"), end)), 0xFFFFFFFF},
      {"drive letter", withTail(cat(fileRec("C:\\evil.txt", "x"), end)), 0xFFFFFFFF},
      {"colon inside", withTail(cat(fileRec("a.txt:stream", "x"), end)), 0xFFFFFFFF},
      {"doubled separator", withTail(cat(fileRec("a\\\\b.txt", "x"), end)), 0xFFFFFFFF},
      {"parent folder record", withTail(cat(header("..", 3, 0xFFFFFFFF, 0), end)), 0xFFFFFFFF},
      {"joined path over 259 bytes", withTail(cat(fileRec(std::string(250, 'p'), "x"), end)), 0xFFFFFFFF},
      {"trailer beyond the file", good, 0x7FFFFFF0},
      {"trailer inside the trailer", good, 13 + static_cast<std::uint32_t>(good.size()) + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dir_ + "/dest");
    host::Reset();
    Install(c.payload, c.trailer);
    EXPECT_EQ(Run(payload::Mode::Full), -1);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_STREQ(host::Boxes()[0].text.c_str(), shell::text::kDamagedFile);
    EXPECT_EQ(host::Boxes()[0].style, 0x10u);
    EXPECT_EQ(host::Clipboard(), shell::text::kDamagedFile);
    // The progress window, when one was opened, is closed before the report.
    auto& ev = payload::RecordedProgress();
    if (!ev.empty()) {
      EXPECT_EQ(ev.back().kind, 'C');
    }
    std::vector<std::string> tree = ListTree(dest_);
    bool outside = PathExists(dir_ + "/evil.txt") || PathExists(dir_ + "/dest/evil.txt");
    EXPECT_FALSE(outside);
    if (c.trailer == 0xFFFFFFFF) {  // what came before the damage stays
      EXPECT_NE(std::find(tree.begin(), tree.end(), "install.env"), tree.end());
    }
  }
}

TEST_F(PayloadTest, ProgressCountsIn128KiBUnits) {
  std::string big = Rnd(300000, 9);
  Install(Payload({F("small.txt", "abc"), F("big.bin", big)}));
  ASSERT_EQ(Run(payload::Mode::Full), kReturned);
  const auto& ev = payload::RecordedProgress();
  ASSERT_GE(ev.size(), 7u);
  std::uint32_t total = static_cast<std::uint32_t>(ReadWholeFile(exe_).size()) - 13 - 4;
  EXPECT_EQ(ev[0].kind, 'O');
  EXPECT_EQ(ev[0].a, total);
  EXPECT_EQ(ev[1].kind, 'B');
  EXPECT_EQ(ev[1].path, dest_ + "\\small.txt");
  EXPECT_EQ(ev[2].kind, 'U');
  EXPECT_EQ(ev[2].a, 3u);
  // small.txt: header 2+10+8, time 8, one requested chunk of its whole stream.
  std::uint32_t smallPacked = static_cast<std::uint32_t>(mkupdater::Deflate(Bytes{'a', 'b', 'c'}, 9).size());
  EXPECT_EQ(ev[2].b, 20u + 8 + smallPacked);
  EXPECT_EQ(ev[3].kind, 'B');
  EXPECT_EQ(ev[3].a, 300000u);
  std::vector<std::uint32_t> written;
  for (std::size_t i = 4; i < ev.size() && ev[i].kind == 'U'; ++i) written.push_back(ev[i].a);
  EXPECT_EQ(written, (std::vector<std::uint32_t>{131072, 262144, 300000}));
  EXPECT_EQ(ev.back().kind, 'C');
  // The last update counts the whole payload but the end marker and padding.
  EXPECT_EQ(ev[ev.size() - 2].b, total - 4);
}

TEST_F(PayloadTest, EmptyPayloadOpensAndClosesTheWindow) {
  Install(Payload({}));
  ASSERT_EQ(Run(payload::Mode::Full), kReturned);
  const auto& ev = payload::RecordedProgress();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].kind, 'O');
  EXPECT_EQ(ev[1].kind, 'C');
}

TEST_F(PayloadTest, QuitWhileExtractingEndsWithItsCodeAndKeepsTheFiles) {
  Install(Payload({F("a.txt", "first"), F("b.bin", Rnd(400000, 5))}));
  host::PostDispatchable(2);
  host::PostQuit(7);
  EXPECT_EQ(Run(payload::Mode::Full), 7);
  EXPECT_EQ(ReadWholeFile(dest_ + "/a.txt"), "first");
  EXPECT_TRUE(host::Boxes().empty());
  EXPECT_EQ(host::Dispatched(), 2);
}

TEST(EntryNames, SafeAndUnsafe) {
  struct Case {
    const char* name;
    bool folder;
    bool safe;
  } cases[] = {
      {"install.env", false, true},      {"data\\bgm\\a.ogg", false, true},
      {"data\\", true, true},            {"data\\", false, false},
      {"ソ\\表", false, true},           {"...hidden", false, true},
      {"a.b.c", false, true},            {"", false, false},
      {".", false, false},               {"..", true, false},
      {"a\\..", true, false},            {"a/./b", false, false},
      {"\\x", false, false},             {"/x", false, false},
      {"C:x", false, false},             {"x:", false, false},
      {"a\\\\b", false, false},          {"a\\ \\b", false, false},
      {"data\\\\", true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(payload::IsSafeEntryName(c.name, c.folder), c.safe) << c.name << " folder=" << c.folder;
}

TEST(EntryNames, ContainsIgnoringCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool found;
  } cases[] = {
      {"README.TXT", ".txt", true},      {"notes.txt.old", ".txt", true},
      {"Install.Env", "install.env", true}, {"install.en", "install.env", false},
      {"ＴＸＴ", "ｔｘｔ", true},          // full-width letters fold too
      {"\x83\x5C" "txt", "\x5C" "txt", false},  // no match on a trail byte
      {"a\\txt", "\\txt", true},
      {"", ".txt", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(payload::NameContainsNoCase(c.name, c.pattern), c.found) << c.name;
}

}  // namespace
