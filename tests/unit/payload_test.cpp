// Container reading and extraction through the host platform.
#include <algorithm>

#include "container_writer.h"
#include "fake.h"
#include "payload/container.h"
#include "payload/extract.h"
#include "test_support.h"
#include "update/transfers.h"

namespace {

// The tests' own watcher of an extraction: what it was told, in order.
struct Event {
  char kind;  // 'S'tart, 'B'egin file, 'U'pdate
  std::string path;
  std::uint32_t a, b;  // start: total; begin: size; update: written, consumed
};
struct Recorder {
  payload::Progress progress = {Start, BeginFile, BlocksWritten};
  std::vector<Event> events;
  static Recorder* Of(payload::Progress* p) { return reinterpret_cast<Recorder*>(p); }
  static bool Start(payload::Progress* p, std::uint32_t total) {
    Of(p)->events.push_back({'S', "", total, 0});
    return true;
  }
  static void BeginFile(payload::Progress* p, const char* path, std::uint32_t size) {
    Of(p)->events.push_back({'B', path, size, 0});
  }
  static bool BlocksWritten(payload::Progress* p, std::uint32_t written, std::uint32_t consumed) {
    Of(p)->events.push_back({'U', "", written, consumed});
    return true;
  }
  std::string Kinds() const {
    std::string k;
    for (const auto& e : events) k += e.kind;
    return k;
  }
};

class PayloadTest : public HostTest {
 protected:
  // The payload behind a stub (trailer -1: its real offset), extracted into a fresh
  // destination unless asked to keep what is there.
  int Run(payload::Mode mode, const std::string& payload, std::int64_t trailer = -1, bool fresh = true) {
    InstallUpdater(dir_ + "/updater.exe", payload, trailer);
    if (fresh) RemoveTree(dest_);
    MakeFolders(dest_, {""});
    rec_ = Recorder{};
    std::FILE* f = std::fopen((dir_ + "/updater.exe").c_str(), "rb");
    int r = payload::ExtractFrom(f, dest_.c_str(), mode, &rec_.progress, &failure_);
    std::fclose(f);
    return r;
  }
  void SetUp() override {
    HostTest::SetUp();
    dest_ = dir_ + "/dest";
  }
  std::string dest_;
  Recorder rec_;
  payload::Failure failure_;
};

// Every entry is written with its time, over what is there already (an existing folder is
// used, an existing file cut); both progress bars count in 128 KiB units.
TEST_F(PayloadTest, FullWritesEveryEntryWithItsTimeAndProgress) {
  const std::string big = Rnd(300000, 7);
  const std::string p = Payload({{"install.env", "KEY value\n"},
                                 Dir("data"),
                                 Dir("data\\bgm"),
                                 {"data\\bgm\\ソ表.ogg", "sound"},
                                 {"data\\empty.bin", ""},
                                 {"update.arc", big}});
  MakeFolders(dest_, {"", "/data"});
  WriteWholeFile(dest_ + "/data/empty.bin", "old and longer");
  ASSERT_EQ(Run(payload::Mode::Full, p, -1, false), 0);
  EXPECT_EQ(ListTree(dest_), (Names{"data/", "data/bgm/", "data/bgm/ソ表.ogg", "data/empty.bin",
                                    "install.env", "update.arc"}));
  EXPECT_EQ(ReadWholeFile(dest_ + "/update.arc"), big);
  EXPECT_EQ(ReadWholeFile(dest_ + "/data/empty.bin"), "");
  for (const char* f : {"update.arc", "data\\empty.bin", "data\\bgm\\ソ表.ogg"})
    EXPECT_EQ(WriteTime(dest_ + "\\" + f), kFileTime) << f;
  EXPECT_TRUE(fake::Boxes().empty());

  const auto& ev = rec_.events;
  ASSERT_EQ(rec_.Kinds(), "SBUBUBBUUU");  // an empty file has nothing to update; folders show nothing
  EXPECT_EQ(ev[0].a, p.size());
  EXPECT_EQ(ev[1].path, dest_ + "\\install.env");
  // install.env: header 2+12+8, time 8, one requested chunk of its whole stream.
  EXPECT_EQ(ev[2].a, 10u);
  EXPECT_EQ(ev[2].b,
            22u + 8 + mkupdater::Deflate({'K', 'E', 'Y', ' ', 'v', 'a', 'l', 'u', 'e', '\n'}, 9).size());
  EXPECT_EQ(ev[6].a, 300000u);
  EXPECT_EQ((std::vector<std::uint32_t>{ev[7].a, ev[8].a, ev[9].a}),
            (std::vector<std::uint32_t>{131072, 262144, 300000}));
  EXPECT_EQ(ev[9].b, p.size() - 4);  // the whole payload but the end marker and padding

  ASSERT_EQ(Run(payload::Mode::Full, Payload({})), 0);
  EXPECT_EQ(rec_.Kinds(), "S");
}

// Which records the start-up pass writes, and where it stops.
TEST_F(PayloadTest, BootstrapSelection) {
  const Entry env = {"install.env", "e"}, later = {"later.txt", "x"};
  const struct {
    const char* what;
    std::vector<Entry> items;
    Names written;
  } cases[] = {
      {"shipped payload",
       {env, {"insttscr.rct", "r"}, {"update.arc", Rnd(1000, 1)}},
       {"install.env", "insttscr.rct"}},
      {"case and position do not matter",
       {{"README.TXT", "1"}, {"notes.txt.old", "2"}, {"Install.Env", "3"}, {"a.bin", "4"}},
       {"Install.Env", "README.TXT", "notes.txt.old"}},
      {"a folder record ending in its separator is passed over",
       {env, Dir("data\\"), later},
       {"install.env", "later.txt"}},
      {"a top-level folder record without separator is passed over",
       {env, Dir("data"), later},
       {"install.env", "later.txt"}},
      {"a nested folder record ends the pass", {env, Dir("data"), Dir("data\\bgm"), later}, {"install.env"}},
      {"matching files inside folders stay out of the work folder",
       {env, Dir("doc"), {"doc\\manual.txt", "m"}, {"top.txt", "t"}},
       {"install.env", "top.txt"}},
      {"an empty payload", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Run(payload::Mode::Bootstrap, Payload(c.items)), 0);
    EXPECT_EQ(ListTree(dest_), c.written);
    EXPECT_EQ(rec_.Kinds().find_first_of("S"), std::string::npos);  // no window in this mode
  }
  // A skipped record's stream is never inflated: damage inside it goes unnoticed.
  std::string p = Payload({env, {"update.arc", Rnd(5000, 3)}, {"readme.txt", "r"}});
  p[2 + 12 + 8 + 8 + 8 + 2 + 11 + 8 + 8 + 100] ^= 0xFF;  // inside update.arc's stream
  ASSERT_EQ(Run(payload::Mode::Bootstrap, p), 0);
  EXPECT_EQ(ListTree(dest_), (Names{"install.env", "readme.txt"}));
  EXPECT_EQ(Run(payload::Mode::Full, p), -1);
  EXPECT_EQ(failure_.fault, payload::Fault::Stream);
}

// Every damaged or hostile container fails with what went wrong. Damage the layout shows (a
// header, a cut, a missing end) stops the extraction before anything is written; damage inside
// a stream is found where it lies, after the records before it were written.
TEST_F(PayloadTest, DamagedContainers) {
  auto le = [](std::uint64_t v, int n) {
    std::string b;
    for (int i = 0; i < n; ++i) b += static_cast<char>(v >> 8 * i);
    return b;
  };
  auto header = [&](const std::string& name, std::uint32_t n, std::uint32_t size, std::uint32_t packed) {
    return le(n, 2) + name + '\0' + le(size, 4) + le(packed, 4);
  };
  auto record = [&](const std::string& name, const std::string& data) {  // also names the writer refuses
    std::vector<std::uint8_t> z = mkupdater::Deflate(std::vector<std::uint8_t>(data.begin(), data.end()), 9);
    return header(name, std::uint32_t(name.size() + 1), std::uint32_t(data.size()), std::uint32_t(z.size())) +
           le(kFileTime, 8) + std::string(z.begin(), z.end());
  };
  const std::string good = Payload({{"install.env", "KEY value\n"}, {"second.txt", Rnd(200, 2)}});
  const std::string first = Payload({{"install.env", "KEY value\n"}}, false), end(4, '\0');
  const std::string stream = record("b.txt", Rnd(3000, 4));
  std::string shortBy1 = stream, longBy1 = stream, sizeUp = stream, sizeDown = stream, flipped = stream;
  shortBy1[2 + 6 + 4] -= 1;           // compressed size one byte short of the stream
  longBy1[2 + 6 + 4] += 1;            // ... one byte long: swallows the end marker
  sizeUp[2 + 6] += 1;                 // inflates to fewer bytes than announced
  sizeDown[2 + 6] -= 1;               // ... to more
  flipped[flipped.size() - 30] ^= 1;  // corrupt deflate data
  using F = payload::Fault;
  const struct {
    const char* what;
    std::string payload;
    bool inStream = false;
    std::int64_t trailer = -1;
  } cases[] = {
      {"cut inside the name length", first + "\x05"},
      {"cut inside the name", first + std::string("\x09\0ab", 4)},
      {"cut inside the sizes", first + std::string("\x02\0a\0\x01\0", 6)},
      {"cut inside the time", first + header("a", 2, 1, 9) + "\x01\x02\x03"},
      {"cut inside the data", first + stream.substr(0, stream.size() - 5)},
      {"no end marker", first + stream},
      {"compressed size one short", first + shortBy1 + end},
      {"compressed size one long", first + longBy1 + end, true},
      {"uncompressed size too large", first + sizeUp + end, true},
      {"uncompressed size too small", first + sizeDown + end, true},
      {"corrupt deflate data", first + flipped + end, true},
      {"negative compressed size", first + header("a", 2, 1, 0xFFFFFFF0) + end},
      {"size of 2^31", first + header("a", 2, 0x80000000, 8) + end},
      {"name of 261 bytes", first + header(std::string(260, 'n'), 261, 1, 9) + end},
      {"name of 400 bytes", first + header(std::string(399, 'n'), 400, 1, 9) + end},
      {"name without its NUL", first + std::string("\x03\0abc\x01\0\0\0\x09\0\0\0", 13)},
      // The name rules themselves are tabled below; here they stop the reader.
      {"parent component", first + record("..\\evil.txt", "x") + end},
      {"parent folder record", first + header("..", 3, 0xFFFFFFFF, 0) + end},
      {"a name Windows stores without its trailing dot", first + record("data\\a.bin.", "x") + end},
      {"a device name", first + record("aux.txt", "x") + end},
      {"joined path over 259 bytes", first + record(std::string(250, 'p'), "x") + end},
      {"trailer beyond the file", good, false, 0x7FFFFFF0},
      {"trailer inside the trailer", good, false, 2 + std::int64_t(good.size()) + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Run(payload::Mode::Full, c.payload, c.trailer), -1);
    EXPECT_EQ(failure_.fault, c.inStream ? F::Stream : c.trailer != -1 ? F::Container : F::Record);
    // A damaged stream is found inside b.txt; layout damage before the first byte is written.
    EXPECT_EQ(rec_.Kinds().find('S') != std::string::npos, c.inStream);
    if (c.inStream) { EXPECT_STREQ(failure_.record, "b.txt"); }
    EXPECT_FALSE(PathExists(dir_ + "/evil.txt") || PathExists(dest_ + "/evil.txt"));
    // Stream damage leaves the records before it, and the bad file as far as it got.
    EXPECT_EQ(ListTree(dest_), c.inStream ? (Names{"b.txt", "install.env"}) : Names{});
  }
}

// A signed updater: PE headers, the payload, its trailer (512), then a certificate table whose
// last four bytes would also read as a trailer (514) and which starts like a PE header that the
// end of the file cuts short. The reader takes the trailer before the table only when the
// security entry names a table that ends the file; anything malformed leaves it at the file's
// last four bytes, as for an updater that was never signed.
TEST(SignedUpdaters, TrailerBeforeACertificateTableThatEndsTheFile) {
  const std::string payload = Payload({{"install.env", "KEY value\n"}, {"readme.txt", Rnd(100, 9)}});
  const std::uint32_t table = 512 + static_cast<std::uint32_t>(payload.size()) + 4, size = 32,
                      file = table + size;
  auto set = [](std::string h, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>(v >> (8 * i));
    return h;
  };
  const std::string pe32 = PeStub(0x10B, table, size);
  const struct {
    const char* what;
    std::string headers;
    bool signedRead;
  } cases[] = {
      {"PE32, table ends the file", pe32, true},
      {"PE32+, table ends the file", PeStub(0x20B, table, size), true},
      {"no table", PeStub(0x10B, 0, 0), false},
      {"table ends before the file", PeStub(0x10B, table, size - 8), false},
      {"table runs past the file", PeStub(0x10B, table, size + 8), false},
      {"offset and size wrap to the file's end", PeStub(0x10B, 0xFFFFFFF8u, file + 8), false},
      {"table over the headers", PeStub(0x10B, 0, file), false},
      {"unknown optional header magic", PeStub(0x107, table, size), false},
      {"four data directories", set(pe32, 0x58 + 92, 4), false},
      {"optional header too short for directory 4", set(pe32, 0x54, 96 + 32), false},
      {"no MZ", "ZM" + pe32.substr(2), false},
      {"no PE signature", set(pe32, 0x40, 0x00005045), false},
      {"PE header cut by the end of the file", set(pe32, 0x3C, table), false},
      {"PE header offset far outside", set(pe32, 0x3C, 0xFFFFFFF0u), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = c.headers + payload + set(std::string(4, '\0'), 0, 512);
    bytes +=
        set(std::string(size, '\0').replace(0, 4, "PE\0\0", 4).replace(24, 2, "\x0B\x01"), size - 4, 514);
    ASSERT_EQ(bytes.size(), file);
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    payload::Source src{};
    std::uint32_t length = 0;
    ASSERT_EQ(payload::LocatePayload(f, &src, &length), 0);
    EXPECT_EQ(std::ftell(f), c.signedRead ? 512 : 514);
    EXPECT_EQ(length, c.signedRead ? payload.size() : file - 4 - 514);
    std::fclose(f);
  }
}

// Entry names of the container, and the [delfiles_afterinst] patterns that follow the same
// rule: nothing may reach outside the folder it is applied to.
TEST(EntryNames, SafeAndUnsafe) {
  const struct {
    const char* name;
    bool folder, safe;
  } cases[] = {
      {"install.env", false, true},
      {"data\\bgm\\a.ogg", false, true},
      {"data\\", true, true},
      {"data\\", false, false},
      {"ソ\\表", false, true},
      {"ソ\\*.*", false, true},
      {"...hidden", false, true},
      {"", false, false},
      {".", false, false},
      {"..", true, false},
      {"a\\..", true, false},
      {"a/./b", false, false},
      {"../x", false, false},
      {"..\\*.*", false, false},
      {"save\\..\\..\\x", false, false},
      {"...\\x", false, false},
      {". .\\x", false, false},
      {"a\\ \\b", false, false},
      {"\\x", false, false},
      {"/x", false, false},
      {"C:\\*.*", false, false},
      {"C:x", false, false},
      {"file.txt:stream", false, false},
      {"a\\\\b", false, false},
      {"data\\\\", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(payload::IsSafeEntryName(c.name, c.folder), c.safe) << c.name << " folder=" << c.folder;
    EXPECT_TRUE(c.folder || update::IsPatternInsideFolder(c.name) == c.safe) << c.name;
  }
  const struct {
    const char *name, *pattern;
    bool found;
  } contains[] = {
      {"README.TXT", ".txt", true},
      {"notes.txt.old", ".txt", true},
      {"a\\txt", "\\txt", true},
      {"Install.Env", "install.env", true},
      {"install.en", "install.env", false},
      {"", ".txt", false},
      {"ＴＸＴ", "ｔｘｔ", true},  // full-width letters fold too
      {"\x83\x5C"
       "txt",
       "\x5C"
       "txt",
       false},  // no match on a trail byte
  };
  for (const auto& c : contains) EXPECT_EQ(payload::NameContainsNoCase(c.name, c.pattern), c.found) << c.name;
}

// Names Windows would store under another name, which neither the updater nor the build takes.
TEST(EntryNames, StoredAsGiven) {
  const struct {
    const char* name;
    bool folder, kept;
  } cases[] = {
      {"data\\a.bin", false, true},
      {"data\\", true, true},
      {"...hidden", false, true},
      {"console.txt", false, true},
      {"com0.txt", false, true},
      {"lpt10", false, true},
      {"auxiliary\\nul1", false, true},
      {"表\\ソ", false, true},        // trail bytes 0x5C
      {"\x83\x7C.txt", false, true},  // a trail byte 0x7C is no '|'
      {"data\\a.bin.", false, false},
      {"data\\a.bin ", false, false},
      {"dots.\\a.bin", false, false},
      {"data \\", true, false},
      {"CON", false, false},
      {"aux.txt", false, false},
      {"save\\Nul.dat.bak", false, false},
      {"prn .txt", false, false},
      {"COM1", true, false},
      {"lpt9.log", false, false},
      {"a<b", false, false},
      {"a>b", false, false},
      {"say\"hi\"", false, false},
      {"a|b", false, false},
      {"why?", false, false},
      {"*.dat", false, false},
      {"tab\there", false, false},
  };
  for (const auto& c : cases) EXPECT_EQ(payload::IsStoredAsGiven(c.name, c.folder), c.kept) << c.name;
}

}  // namespace
