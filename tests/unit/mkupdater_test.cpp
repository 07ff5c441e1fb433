// mkupdater's container commands, called as the command line calls them. The tool's own
// paths are UTF-8 Linux names (u8 literals here), and so is what it prints; the helpers of
// test_support take CP932 paths, as the updater names files.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli.h"
#include "commands.h"
#include "lint.h"
#include "rct_codec.h"
#include "test_support.h"

namespace {

class MkupdaterTest : public HostTest {
 protected:
  // A folder to pack (UTF-8 names; a trailing '/' makes a folder; "name=text" gives the
  // file that text) and a stub beside it.
  std::string Tree(const Names& files, const std::string& folder = "in") {
    std::filesystem::remove_all(dir_ + "/" + folder);
    for (const std::string& f : files) {
      const std::size_t eq = f.find('=');
      const std::string name = f.substr(0, eq);
      std::filesystem::path p = std::filesystem::u8path(dir_ + "/" + folder + "/" + name);
      std::filesystem::create_directories(name.back() == '/' ? p : p.parent_path());
      if (name.back() != '/')
        std::ofstream(p) << (eq != std::string::npos  ? f.substr(eq + 1)
                             : name == "install.env"  ? "TITLEBAR x\n[EOF]\n"
                             : name == "insttscr.rct" ? Picture(2, 2)
                                                      : "data of " + name);
    }
    WriteWholeFile(dir_ + "/stub.exe", UpdaterStub());
    return dir_ + "/" + folder;
  }
  static std::string Picture(int width, int height) {
    mkupdater::BgrImage image{width, height, std::vector<std::uint8_t>(3u * width * height, 0x40)};
    std::vector<std::uint8_t> file;
    EXPECT_EQ(mkupdater::BuildRctFile(image, image::RctVariant::TC00, "", &file), 0);
    return std::string(file.begin(), file.end());
  }
  int Build(const std::string& root, const std::string& exe, std::vector<std::string> more = {},
            std::string* out = nullptr) {
    std::vector<std::string> args = {"build", "--stub", dir_ + "/stub.exe", "--out", exe};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(root);
    return RunTool(mkupdater::RunBuildCommand, args, out, &err_);
  }
  // Kind and name of every line `list` prints, in order.
  Names Listed(const std::string& exe, std::string* last = nullptr) {
    std::string out;
    EXPECT_EQ(RunTool(mkupdater::RunListCommand, {"list", exe}, &out), 0);
    Names kinds;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
      if (out[at] == '#') {
        if (last) *last = out.substr(at, end - at);
        continue;
      }
      kinds.push_back(out.substr(at, 1) + " " +
                      out.substr(out.rfind('\t', end) + 1, end - out.rfind('\t', end) - 1));
    }
    return kinds;
  }
  std::string err_;
};

TEST_F(MkupdaterTest, BuildOrdersStartupFilesFirstAndListsEveryRecord) {
  std::string exe = dir_ + "/u.exe";
  ASSERT_EQ(Build(Tree({"a.bin", "data/bgm/b.ogg", "data/x.txt", "insttscr.rct", "install.env", "Notes.TXT",
                        "readme.txt", "zdir/", u8"表.txt"}),
                  exe),
            0)
      << err_;
  std::string out;
  ASSERT_EQ(RunTool(mkupdater::RunListCommand, {"list", exe}, &out), 0);
  EXPECT_EQ(out.substr(0, out.find('\n')),
            "f\t17\t25\t" + mkupdater::FormatFiletime(WriteTime(dir_ + "/in/install.env")) + "\tinstall.env");
  EXPECT_EQ(Listed(exe),
            (Names{"f install.env", "f insttscr.rct", "f Notes.TXT", "f readme.txt", u8"f 表.txt", "f a.bin",
                   "d data", "f data\\x.txt", "d data\\bgm", "f data\\bgm\\b.ogg", "d zdir"}));
  EXPECT_EQ(mkupdater::FormatFiletime(kFileTime), "2021-03-04T05:06:07Z");
}

TEST_F(MkupdaterTest, ExtractAndVerifyGoThroughTheUpdatersReader) {
  std::string exe = dir_ + "/u.exe";
  // install.env saved as UTF-8 with a byte-order mark is stored as code page 932.
  ASSERT_EQ(Build(Tree({"install.env=\xEF\xBB\xBF"
                        u8"TITLEBAR 星\n",
                        "insttscr.rct", u8"data/sub/ソ.bin"}),
                  exe),
            0)
      << err_;
  ASSERT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", exe, dir_ + "/out"}), 0);
  EXPECT_EQ(ListTree(dir_ + "/out"),
            (Names{"data/", "data/sub/", "data/sub/ソ.bin", "install.env", "insttscr.rct"}));
  EXPECT_EQ(ReadWholeFile(dir_ + "/out/install.env"), "TITLEBAR 星\n");
  EXPECT_EQ(WriteTime(dir_ + "/out/data/sub/ソ.bin"), WriteTime(dir_ + "/in/data/sub/ソ.bin"));
  EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", exe}), 0);

  std::string bytes = ReadWholeFile(exe);
  bytes[bytes.size() - 20] ^= 0x40;  // inside the last stream, data\sub\ソ.bin's
  WriteWholeFile(exe, bytes);
  EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", exe}, nullptr, &err_), mkupdater::kDataError);
  EXPECT_NE(err_.find(u8"data\\sub\\ソ.bin"), std::string::npos) << err_;
  EXPECT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", exe, dir_ + "/out2"}), mkupdater::kDataError);
  WriteWholeFile(exe, bytes.substr(0, 20));
  std::string out;
  EXPECT_EQ(RunTool(mkupdater::RunListCommand, {"list", exe}, &out), mkupdater::kDataError);
}

// Signing appends a certificate table after the trailer. mkupdater makes every updater a
// multiple of 8 bytes long, so the signing tool (osslsigncode, with a throw-away certificate)
// pads nothing before its table, and the signed file reads as the unsigned one did. The names'
// lengths vary the payload's length through every remainder.
TEST_F(MkupdaterTest, SignedUpdatersReadLikeUnsignedOnes) {
  const std::string key = "'" + dir_ + "/key.pem'", cert = "'" + dir_ + "/cert.pem'";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=throwaway -days 1 -keyout " +
                         key + " -out " + cert + " 2>/dev/null")
                            .c_str()),
            0);
  const std::string exe = dir_ + "/u.exe", signedExe = dir_ + "/s.exe";
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE(n);
    const std::string root = Tree({"install.env", "insttscr.rct", "data/" + std::string(n, 'n') + ".bin"});
    ASSERT_EQ(Build(root, exe), 0) << err_;
    std::remove(signedExe.c_str());
    ASSERT_EQ(std::system(("osslsigncode sign -certs " + cert + " -key " + key + " -in '" + exe + "' -out '" +
                           signedExe + "' >/dev/null")
                              .c_str()),
              0);
    const std::string plain = ReadWholeFile(exe), sig = ReadWholeFile(signedExe);
    EXPECT_EQ(plain.size() % 8, 0u);
    const std::size_t table = 0x58 + 96 + 32;  // the security directory's file offset
    std::uint32_t at = 0;
    for (int i = 3; i >= 0; --i) at = at << 8 | static_cast<unsigned char>(sig[table + i]);
    EXPECT_EQ(at, plain.size());  // the table starts right after the trailer
    EXPECT_EQ(sig.substr(512, plain.size() - 512), plain.substr(512));
    std::string listed, signedListed;
    ASSERT_EQ(RunTool(mkupdater::RunListCommand, {"list", exe}, &listed), 0);
    ASSERT_EQ(RunTool(mkupdater::RunListCommand, {"list", signedExe}, &signedListed), 0);
    EXPECT_EQ(signedListed, listed);
    EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", signedExe}), 0);
    std::filesystem::remove_all(dir_ + "/out");
    ASSERT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", signedExe, dir_ + "/out"}), 0);
    EXPECT_EQ(ListTree(dir_ + "/out"), ListTree(root));
  }
}

// init starts a folder that builds as it is and lints without a finding; it never overwrites.
TEST_F(MkupdaterTest, InitWritesACleanStart) {
  const std::string png = std::string(KOVELA_SOURCE_DIR) + "/examples/title/title.png",
                    root = dir_ + "/My Game";
  ASSERT_EQ(RunTool(mkupdater::RunInitCommand, {"init", root, png}, nullptr, &err_), 0) << err_;
  int warnings = -1;
  EXPECT_EQ(mkupdater::LintInstallEnvFile(root + "/install.env", stderr, &warnings), 0);
  EXPECT_EQ(warnings, 0);
  EXPECT_NE(ReadWholeFile(root + "/install.env").find("TITLEBAR My|Game\r\n"), std::string::npos);
  EXPECT_EQ(ListTree(root), (Names{"install.env", "insttscr.rct"}));
  WriteWholeFile(dir_ + "/stub.exe", UpdaterStub());
  EXPECT_EQ(Build(root, dir_ + "/u.exe"), 0) << err_;
  EXPECT_EQ(RunTool(mkupdater::RunInitCommand, {"init", root}, nullptr, &err_), mkupdater::kUsageError);
  EXPECT_EQ(RunTool(mkupdater::RunInitCommand, {"init", dir_ + "/other", dir_ + "/u.exe"}, nullptr, &err_),
            mkupdater::kDataError);
  EXPECT_FALSE(PathExists(dir_ + "/other"));
}

// The command line: help for the tool and each command on stdout, wrong calls on stderr.
TEST(MkupdaterCli, HelpAndVersion) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* words;
  } cases[] = {
      {{"mkupdater", "--version"}, 0, "mkupdater " KOVELA_VERSION "\n"},
      {{"mkupdater", "--help"}, 0, "  build    pack a folder"},
      {{"mkupdater", "build", "--help"}, 0, "--base <folder>"},
      {{"mkupdater", "help", "init"}, 0, "usage: mkupdater init <folder> [title.png]"},
      {{"mkupdater", "verify", "-q"}, 1, "verify: the updater to check is missing\nusage: mkupdater verify"},
      {{"mkupdater", "list", "a.exe", "b.exe"}, 1, "list: 'b.exe' is one argument too many"},
      {{"mkupdater", "extract", "--all", "a.exe", "out"}, 1, "extract: unknown option '--all'"},
      {{"mkupdater", "nosuch"}, 1, "unknown command 'nosuch'\n\nmkupdater"},
      {{"mkupdater", "biuld"}, 1, "did you mean 'build'?"},
      {{"mkupdater", "/?"}, 0, "  build    pack a folder"},
      {{"mkupdater", "lint", "/?"}, 0, "usage: mkupdater lint"},
      {{"mkupdater", "build", "--stub", "s.exe", "in"}, 1, "build: --out <file.exe> is missing\nusage"},
      {{"mkupdater", "build", "--stub", "s.exe", "--out", "o.exe", "-13", "in"},
       1,
       "'-13' is no compression"},
      {{"mkupdater", "build", "--out", "o.exe", "in", "--stub"}, 1, "--stub needs a value"},
      {{"mkupdater", "build", "--stub", "s.exe", "--out", "o.exe", "in", "in2"}, 1, "'in' and 'in2'"},
      {{"mkupdater"}, 1, "usage: mkupdater <command>"},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(RunTool(mkupdater::Main, c.args, &out, &err), c.code) << c.args.back();
    EXPECT_NE((c.code ? err : out).find(c.words), std::string::npos) << out << err;
  }
}

// An author's mistakes: each ends in exit 1 before anything is written, with every finding of
// the run on stderr, each naming its file; a warning (code 0) where the updater still works.
TEST_F(MkupdaterTest, AuthorMistakes) {
  const Names ok = {"install.env", "insttscr.rct"};
  auto with = [&](Names more) {
    more.insert(more.begin(), ok.begin(), ok.end());
    return more;
  };
  ASSERT_EQ(Build(Tree(with({"data/a.bin"})), dir_ + "/built.exe"), 0) << err_;
  const std::string built = ReadWholeFile(dir_ + "/built.exe"), stub = UpdaterStub();
  std::string huge = Picture(2, 2);
  huge.replace(8, 8, "\x30\x75\0\0\x30\x75\0\0", 8);  // 30000 x 30000
  // A stub as MinGW links it: a COFF symbol table (one symbol) and its strings after the sections.
  std::string symbols = stub + std::string(18, 's') + std::string("\x08\0\0\0abcd", 8);
  symbols[0x4D] = 4, symbols[0x50] = 1;  // the table at 1024 (0x400), one symbol
  const struct {
    const char* what;
    Names files;
    std::string stub;
    int code;
    Names words;
    std::string out = "out.exe";
  } cases[] = {
      {"no install.env", {"readme.txt", "insttscr.rct"}, stub, 1, {"no install.env"}},
      {"no title picture", {"install.env"}, stub, 1, {"no insttscr.rct"}},
      {"a picture as the stub", ok, "\x89PNG\r\n\x1A\n", 1, {"stub.exe: error: ", "not a Windows program"}},
      {"mkupdater.exe or another program as the stub", ok, PeStub(), 1, {"not kovela-updater's updater.exe"}},
      {"the stub of another release", ok, UpdaterStub("0.9.1"), 1, {"kovela-updater 0.9.1", KOVELA_VERSION}},
      {"an updater built before as the stub", ok, built, 1, {"carries a payload already"}},
      {"a signed stub", ok, stub + std::string(16, '\x30'), 1, {"never the stub"}},
      {"a stub with its symbol table", ok, symbols, 0, {}},
      {"a PNG renamed to insttscr.rct",
       {"install.env", "insttscr.rct=\x89PNG\r\n\x1A\n"},
       stub,
       1,
       {"insttscr.rct: error: ", "unknown signature"}},
      {"a title picture cut short",
       {"install.env", "insttscr.rct=" + Picture(64, 64).substr(0, 24)},
       stub,
       1,
       {"cut short"}},
      {"a title picture that claims more pixels than any screen",
       {"install.env", "insttscr.rct=" + huge},
       stub,
       1,
       {"claims 30000 x 30000"}},
      {"a title picture larger than the menu",
       {"install.env", "insttscr.rct=" + Picture(400, 300)},
       stub,
       0,
       {"insttscr.rct: warning: ", "400 x 300", "256 x 256 or smaller"}},
      // Every name in one run, with the look-alike where code page 932 has one.
      {"names without a code page 932 form",
       with(
           {u8"caf\u00E9.txt", u8"heart\u2665.png", u8"wave\u301Cdash.ks", u8"\u2212/x.bin", u8"\u00A5.txt"}),
       stub,
       1,
       {"'cafe.txt'", "U+2665); rename it\n", u8"'wave\uFF5Edash.ks'", u8"'\uFF0D'", u8"'\uFFE5.txt'"}},
      {"a name with a backslash", with({"a\\b.txt"}), stub, 1, {"'\\' or ':'"}},
      {"a name the staging keeps for itself", with({"data/x.KOVELA-NEW"}), stub, 1, {".kovela-new"}},
      {"a name over 259 bytes",
       with({std::string(200, 'd') + "/" + std::string(70, 'f')}),
       stub,
       1,
       {"259 bytes"}},
      {"names Windows stores otherwise",
       with({"data/a.bin.", "data/b.bin ", "aux.txt", "CON/x", "lpt1.log", "a<b", "q?.txt"}),
       stub,
       1,
       {"data/a.bin.: error: Windows drops a trailing dot", "data/b.bin : error",
        "aux.txt: error: this is a device", "CON: error", "lpt1.log: error", "a<b: error: Windows refuses",
        "q?.txt: error", "7 errors"}},
      {"names that differ only in case",
       with({"Data.bin", "data.BIN", "dir/x", "DIR/y", u8"\uFF21.txt", u8"\uFF41.txt"}),
       stub,
       1,
       {"data.BIN: error: differs from 'Data.bin' only in case", "dir: error", u8"\uFF41.txt: error"}},
      {"a section the updater stops on",
       {"install.env=TITLEBAR x\n[reg]\n\"a\"=\"b\"\n", "insttscr.rct"},
       stub,
       1,
       {"not closed"}},
      {"a character without a code page 932 form",
       {u8"install.env=TITLEBAR \u2603\n", "insttscr.rct"},
       stub,
       1,
       {"install.env"}},
      {"an output folder that does not exist",
       ok,
       stub,
       1,
       {"'" + dir_ + "/no' does not exist"},
       "no/out.exe"},
      {"a folder as the output", ok, stub, 1, {"--out names a folder"}, "in"},
      {"every kind at once",
       {"install.env=TITLEBAR x\n[reg]\n", "insttscr.rct=x", "aux.txt"},
       PeStub(),
       1,
       {"stub.exe: error", "insttscr.rct: error", "aux.txt: error", "install.env:2: error", "4 errors"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Tree(c.files);
    WriteWholeFile(dir_ + "/stub.exe", c.stub);
    std::remove((dir_ + "/out.exe").c_str());
    EXPECT_EQ(Build(dir_ + "/in", dir_ + "/" + c.out), c.code);
    for (const std::string& w : c.words) EXPECT_NE(err_.find(w), std::string::npos) << err_ << " lacks " << w;
    EXPECT_EQ(PathExists(dir_ + "/out.exe"), c.code == 0);
    EXPECT_FALSE(PathExists(dir_ + "/out.exe.tmp") || PathExists(dir_ + "/in.tmp"));
    if (c.code) { EXPECT_NE(err_.find("nothing was built"), std::string::npos) << err_; }
  }
  // What no player needs is left out with one warning; --keep packs one all the same.
  Tree(with({"Thumbs.db", "data/desktop.ini", "data/.DS_Store", ".git/config", "old.BAK", "notes.txt~",
             "data/keep.bak", "data/a.bin"}));
  EXPECT_EQ(Build(dir_ + "/in", dir_ + "/out.exe", {"--keep", "data/keep.bak", "--keep", "DESKTOP.INI"}), 0);
  EXPECT_NE(err_.find("in: warning: left out what no player needs: .git/, Thumbs.db, notes.txt~, old.BAK, "
                      "data/.DS_Store (--keep"),
            std::string::npos)
      << err_;
  EXPECT_EQ(Listed(dir_ + "/out.exe"), (Names{"f install.env", "f insttscr.rct", "d data", "f data\\a.bin",
                                              "f data\\desktop.ini", "f data\\keep.bak"}));
  // The menu's texts saved as UTF-8 are stored as code page 932, as install.env is; one that
  // cannot be is stored as it is, with a warning. Texts below the top are data.
  Tree(with({u8"readme.txt=\xEF\xBB\xBF星の灯台\r\n", u8"notes.txt=heart \u2665\n", u8"data/sub.txt=星"}));
  ASSERT_EQ(Build(dir_ + "/in", dir_ + "/out.exe"), 0) << err_;
  EXPECT_NE(err_.find(u8"notes.txt:1: warning: '\u2665' (U+2665)"), std::string::npos) << err_;
  ASSERT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", dir_ + "/out.exe", dir_ + "/x"}), 0);
  EXPECT_EQ(ReadWholeFile(dir_ + "/x/readme.txt"), "星の灯台\r\n");  // code page 932 bytes
  EXPECT_EQ(ReadWholeFile(dir_ + "/x/notes.txt"), u8"heart \u2665\n");
  EXPECT_EQ(ReadWholeFile(dir_ + "/x/data/sub.txt"), u8"星");
  // verify refuses an updater whose program is not this release's updater.
  const struct {
    const char* what;
    std::string program;
    const char* words;
  } programs[] = {
      {"another program", PeStub() + std::string(512, '\0'), "not kovela-updater's updater.exe"},
      {"another release", UpdaterStub("0.9.1"), "kovela-updater 0.9.1"},
  };
  for (const auto& p : programs) {
    SCOPED_TRACE(p.what);
    WriteWholeFile(dir_ + "/other.exe", p.program + built.substr(stub.size()));
    EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", dir_ + "/other.exe"}, nullptr, &err_),
              mkupdater::kDataError);
    EXPECT_NE(err_.find(p.words), std::string::npos) << err_;
  }
  EXPECT_EQ(RunTool(mkupdater::RunVerifyCommand, {"verify", dir_ + "/built.exe"}, nullptr, &err_), 0) << err_;
}

// --base: only what changed is packed; what is gone gets a deletion line, which list shows.
TEST_F(MkupdaterTest, DeltaCarriesOnlyWhatChanged) {
  const Names common = {"install.env=TITLEBAR x\n[EOF]\n[delfiles_afterinst]\ninstall.env\n-\n",
                        "insttscr.rct",
                        "readme.txt",
                        "same.dat",
                        "data/keep/k.dat",
                        "Case.DAT"};
  Names base = common, now = common;
  base.insert(base.end(), {"data/old.dat", "data/sub/s.dat", u8"gone/ソ.dat", "changed.dat=1"});
  now.insert(now.end(), {"data/new.dat", "fresh/", "changed.dat=2"});
  now[5] = "case.dat=data of Case.DAT";  // only the case differs: nothing to delete
  Tree(base, "base");
  const std::string exe = dir_ + "/d.exe";
  std::string out, summary;
  ASSERT_EQ(Build(Tree(now), exe, {"--base", dir_ + "/base"}, &out), 0) << err_;
  EXPECT_EQ(Listed(exe, &summary), (Names{"f install.env", "f insttscr.rct", "f readme.txt", "f changed.dat",
                                          "d data", "f data\\new.dat", "d fresh", "x data\\old.dat",
                                          "x data\\sub\\s.dat", u8"x gone\\ソ.dat"}));
  EXPECT_EQ(summary,
            "# only what changed since a base release: 1 changed, 2 added, 3 deleted, 3 unchanged left out");
  for (const char* line : {"  + data/new.dat\n", "  + fresh/\n", "  ~ changed.dat\n", u8"  - gone/ソ.dat\n",
                           "  ! data/sub/ is gone", "  = 3 unchanged"})
    EXPECT_NE(out.find(line), std::string::npos) << out << " lacks " << line;
  ASSERT_EQ(RunTool(mkupdater::RunExtractCommand, {"extract", exe, dir_ + "/out"}), 0);
  EXPECT_NE(ReadWholeFile(dir_ + "/out/install.env").find("[delfiles_afterinst]\n// mkupdater"),
            std::string::npos);

  // Files gone that no deletion line could name alone, and what the updater cannot replace.
  const struct {
    std::string gone;
    Names now;
    const char* words;
  } refusals[] = {
      {"a*b.dat", {}, "Windows refuses"},
      {"trail.", {}, "trailing dot"},
      {"EOFnotes.dat", {}, "section reader"},
      {"TITLEBAR y.dat", {}, "key reader"},
      {"PROGRA~1.DAT", {}, "8.3"},
      {"thing", {"thing/"}, "file in the base and a folder now"},
      {"keys.dat",
       {"install.env=[delfiles_afterinst]\n-\n" + std::string(396, '\n') + "KEYFILE k\n"},
       "[EOF]"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.gone);
    Names b = {"install.env", "insttscr.rct", r.gone}, n = {"install.env", "insttscr.rct"};
    n.insert(n.end(), r.now.begin(), r.now.end());
    if (r.now.size() == 1 && r.now[0].rfind("install.env=", 0) == 0) n.erase(n.begin());
    Tree(b, "base");
    EXPECT_EQ(Build(Tree(n), dir_ + "/bad.exe", {"--base", dir_ + "/base"}), mkupdater::kUsageError);
    EXPECT_NE(err_.find(r.words), std::string::npos) << err_;
    EXPECT_FALSE(PathExists(dir_ + "/bad.exe"));
  }
}

}  // namespace
