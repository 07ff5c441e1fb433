// Patch records: made by mkupdater from two files, applied by the extraction to the base.
#include "payload/patch.h"

#include <algorithm>
#include <cstdio>

#include "commands.h"
#include "container_writer.h"
#include "patch_build.h"
#include "payload/extract.h"
#include "rct_codec.h"
#include "test_support.h"
#include "update/stage.h"

namespace {

class PatchTest : public HostTest {
 protected:
  // A patch making `result` from `base` (made even where it does not pay), written as the
  // record data.arc into an updater; *pays tells whether a build would carry it.
  std::string Build(const std::string& base, const std::string& result, bool* pays = nullptr) {
    WriteWholeFile(dir_ + "/old.arc", base);
    WriteWholeFile(dir_ + "/new.arc", result);
    mkupdater::Patch patch;
    std::string why;
    told_.clear();
    const mkupdater::PatchProgress progress{[](void* told, std::uint64_t done) {
                                              static_cast<std::vector<std::uint64_t>*>(told)->push_back(done);
                                            },
                                            &told_, result.size()};
    EXPECT_EQ(mkupdater::MakePatch(dir_ + "/old.arc", dir_ + "/new.arc", &patch, &why, true, progress), 1)
        << why;
    mkupdater::Patch trial;
    if (pays) *pays = mkupdater::MakePatch(dir_ + "/old.arc", dir_ + "/new.arc", &trial, &why) == 1;
    std::FILE* t = std::tmpfile();
    EXPECT_EQ(mkupdater::WritePatchRecord(t, "data.arc", result.size(), kFileTime, patch.body), 0);
    std::fwrite("\0\0\0\0", 1, 4, t);
    std::string b(static_cast<std::size_t>(std::ftell(t)), '\0');
    std::rewind(t);
    EXPECT_EQ(std::fread(&b[0], 1, b.size(), t), b.size());
    std::fclose(t);
    return b;
  }
  // Applies the payload to installed (nullptr: none) into dest/data.arc (nothing written when
  // check is set); 0 or -1 with failure_ filled.
  int Apply(const std::string& payload, const std::string* installed, bool check = false) {
    InstallUpdater(dir_ + "/updater.exe", payload);
    RemoveTree(dir_ + "/base");
    RemoveTree(dir_ + "/dest");
    MakeFolders(dir_ + "/", {"base", "dest"});
    if (installed) WriteWholeFile(dir_ + "/base/data.arc", *installed);
    std::FILE* f = std::fopen((dir_ + "/updater.exe").c_str(), "rb");
    const std::string dest = dir_ + "/dest", base = dir_ + "/base";
    reports_.clear();
    int r = payload::ExtractFrom(f, check ? nullptr : dest.c_str(), payload::Mode::Full, &watch_, &failure_,
                                 nullptr, false, check ? nullptr : base.c_str());
    std::fclose(f);
    return r;
  }
  // What the watcher heard: the work announced, then the work done and the payload consumed.
  static bool Blocks(payload::Progress*, std::uint32_t done, std::uint32_t consumed) {
    reports_.push_back({done, consumed});
    return true;
  }
  static void Begin(payload::Progress*, const char*, std::uint32_t work) { reports_.push_back({work, 0}); }
  static inline std::vector<std::pair<std::uint32_t, std::uint32_t>> reports_;
  payload::Progress watch_ = {nullptr, Begin, Blocks};
  std::vector<std::uint64_t> told_;  // how far making the patch got, as MakePatch told it
  payload::Failure failure_;
};

std::string Cut(const std::string& s, std::size_t at, std::size_t n) {
  return s.substr(0, at) + s.substr(at + n);
}

TEST_F(PatchTest, RoundTrips) {
  const std::string a = Rnd(300000, 1), b = Rnd(40000, 2), text(200000, 'k');
  const struct {
    const char* what;
    std::string base, result;
    bool pays;
  } cases[] = {
      {"insert in the middle", a, a.substr(0, 100000) + b + a.substr(100000), true},
      {"deletion", a, Cut(a, 120000, 30000), true},
      {"moved blocks", a, a.substr(200000) + a.substr(0, 200000), true},
      {"changed in place", a, a.substr(0, 50000) + b + a.substr(90000), true},
      {"grew", a, a + b + a.substr(0, 1000), true},
      {"identical", a, a, true},
      {"one byte run", text, text + "x" + text, true},
      {"shrank to nothing", a, "", false},
      {"from nothing", "", b, false},
      {"completely different", a, Rnd(300000, 3), false},
      {"shorter than an anchor", "abc", "abd", false},
  };
  for (const auto& c : cases) {
    bool pays = false;
    const std::string payload = Build(c.base, c.result, &pays);
    EXPECT_EQ(pays, c.pays) << c.what;
    // Making it moved the tool's bar forwards only, and to the end of the file's share.
    EXPECT_TRUE(std::is_sorted(told_.begin(), told_.end())) << c.what;
    EXPECT_EQ(told_.empty() ? 0 : told_.back(), c.result.size()) << c.what;
    EXPECT_EQ(Apply(payload, &c.base, true), 0) << c.what;  // the instructions alone
    ASSERT_EQ(Apply(payload, &c.base), 0) << c.what << " fault " << int(failure_.fault);
    EXPECT_EQ(ReadWholeFile(dir_ + "/dest/data.arc"), c.result) << c.what;
    EXPECT_EQ(WriteTime(dir_ + "/dest/data.arc"), kFileTime) << c.what;
    // The bar counts the base read and the result written, in blocks, and ends with the record.
    EXPECT_EQ(reports_.front().first, c.base.size() + c.result.size()) << c.what;
    EXPECT_GE(reports_.size(), 1 + (c.base.size() + c.result.size()) / payload::kBlockSize) << c.what;
    if (reports_.size() > 1) {
      EXPECT_EQ(reports_.back(), std::make_pair(reports_.front().first, std::uint32_t(payload.size() - 4)))
          << c.what;
    }
    if (c.pays) { EXPECT_LT(payload.size(), c.result.size() / 4 + 200) << c.what; }
  }
}

TEST_F(PatchTest, WrongBaseAndDamage) {
  const std::string a = Rnd(200000, 4), result = a.substr(0, 70000) + Rnd(3000, 5) + a.substr(70000);
  const std::string payload = Build(a, result);
  constexpr std::size_t body = 2 + 9 + 12 + 8;  // after the record's header and time
  std::string oneByte = a, shorter = a.substr(1);
  oneByte[150000] ^= 1;
  auto flip = [&](std::size_t at, int bits = 0x40) {
    std::string p = payload;
    p[at] = static_cast<char>(p[at] ^ bits);
    return p;
  };
  const struct {
    const char* what;
    std::string payload;
    const std::string* installed;
    payload::Fault fault;
  } cases[] = {
      {"one byte differs", payload, &oneByte, payload::Fault::Base},
      {"another size", payload, &shorter, payload::Fault::Base},
      {"missing", payload, nullptr, payload::Fault::Base},
      {"result hash", flip(body + 40), &a, payload::Fault::Patch},
      {"instruction stream", flip(payload.size() - 30), &a, payload::Fault::Patch},
      {"base size beyond the bound", flip(body + 3, 0x80), &a, payload::Fault::Patch},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Apply(c.payload, c.installed), -1) << c.what;
    EXPECT_EQ(failure_.fault, c.fault) << c.what;
    EXPECT_STREQ(failure_.record, "data.arc") << c.what;
  }
}

// The tool end to end: patches unless refused; list, verify and extract --base.
TEST_F(PatchTest, ToolBuildsListsAndExtractsPatches) {
  const std::string a = Rnd(200000, 6), b = a.substr(0, 80000) + Rnd(2000, 7) + a.substr(80000);
  mkupdater::BgrImage image{2, 2, std::vector<std::uint8_t>(12, 0x40)};
  std::vector<std::uint8_t> picture;
  ASSERT_EQ(mkupdater::BuildRctFile(image, image::RctVariant::TC00, "", &picture), 0);
  for (const char* release : {"A", "B"}) {
    MakeTree(dir_ + "/" + release, {"insttscr.rct", "data/x.arc"});
    WriteWholeFile(dir_ + "/" + release + "/install.env", "TITLEBAR x\n[EOF]\n");
    WriteWholeFile(dir_ + "/" + release + "/insttscr.rct", std::string(picture.begin(), picture.end()));
    WriteWholeFile(dir_ + "/" + release + "/data/x.arc", release[0] == 'A' ? a : b);
  }
  WriteWholeFile(dir_ + "/stub.exe", UpdaterStub());
  const std::string exe = dir_ + "/u.exe";
  // Patches by default with a base; --no-patches carries the file whole, --patches is accepted.
  for (const char* option : {"--no-patches", "", "--patches"}) {
    const bool patches = std::string(option) != "--no-patches";
    std::vector<std::string> args = {"build", "--stub", dir_ + "/stub.exe", "--out",
                                     exe,     "--base", dir_ + "/A"};
    if (*option) args.push_back(option);
    args.push_back(dir_ + "/B");
    std::string out, err, listed;
    ASSERT_EQ(RunTool(mkupdater::RunBuildCommand, args, &out, &err), 0) << err;
    EXPECT_NE(err.find("sets no CHKREGVER"), std::string::npos) << err;
    EXPECT_EQ(out.find("  p data/x.arc\n") != std::string::npos, patches) << out;
    ASSERT_EQ(RunTool(mkupdater::RunListCommand, {"list", exe}, &listed), 0);
    EXPECT_EQ(listed.find("p\t202000\t") != std::string::npos, patches) << listed;
  }
  std::string err;
  EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", exe}), 0);
  EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", "--base", dir_ + "/B", exe}, nullptr, &err),
            mkupdater::kDataError);
  EXPECT_NE(err.find("not the file this patch was made for"), std::string::npos) << err;
  EXPECT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", exe, dir_ + "/x"}), mkupdater::kUsageError);
  ASSERT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", "--base", dir_ + "/A", exe, dir_ + "/y"}), 0);
  EXPECT_EQ(ReadWholeFile(dir_ + "/y/data/x.arc"), b);
}

}  // namespace

// The staging applies a patch to the installed file: the release it was made for becomes the
// next one; any other file, or a damaged patch, leaves the folder exactly as it was, and says
// which file and why.
TEST_F(PatchTest, StagingAppliesAPatchOnlyToItsRelease) {
  const std::string a = Rnd(200000, 8), b = a.substr(0, 70000) + Rnd(3000, 9) + a.substr(70000);
  std::string other = a;
  other[123456] ^= 1;
  const std::string payload = Build(a, b);
  std::string damaged = payload;
  damaged[payload.size() - 30] ^= 0x40;  // in the instruction stream
  const struct {
    const char* what;
    const std::string& payload;
    const std::string& installed;
    update::StageFailure::Kind kind;  // None: it lands
  } cases[] = {
      {"another file", payload, other, update::StageFailure::WrongBase},
      {"a damaged patch", damaged, a, update::StageFailure::Damaged},
      {"its release", payload, a, update::StageFailure::None},
  };
  const std::string inst = dir_ + "/inst";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InstallUpdater(dir_ + "/updater.exe", c.payload);
    RemoveTree(inst);
    MakeFolders(dir_ + "/", {"inst"});
    WriteWholeFile(inst + "/data.arc", c.installed);
    const Names before = ListTree(inst);
    std::FILE* f = std::fopen((dir_ + "/updater.exe").c_str(), "rb");
    update::StageFailure failure;
    const bool landed = update::StageUpdate(f, inst.c_str(), nullptr, &failure);
    std::fclose(f);
    EXPECT_EQ(landed, c.kind == update::StageFailure::None);
    EXPECT_EQ(ReadWholeFile(inst + "/data.arc"), landed ? b : c.installed);
    EXPECT_EQ(ListTree(inst), before);
    if (landed) continue;
    EXPECT_EQ(failure.kind, c.kind);
    if (c.kind == update::StageFailure::WrongBase) EXPECT_EQ(std::string(failure.path), inst + "\\data.arc");
  }
}
