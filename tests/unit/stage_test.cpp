// The staged update through the host platform: an update lands whole or leaves the install
// folder exactly as it was, whatever fails and wherever a run is cut off.
#include "update/stage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fake.h"
#include "payload/extract.h"
#include "test_support.h"

namespace {

using update::StageFailure;

class StageTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    inst_ = dir_ + "/inst";
    out_ = dir_ + "/outside";
    // Release A installed: two files the update replaces, one it leaves, a save folder.
    for (const char* f : {"game.exe", "data/a.dat", "data/keep.dat", "save/slot1.sav"}) {
      MakeTree(inst_, {f}, "old");
      SetWriteTime(inst_ + "/" + f, kFileTime - 10000000);
    }
    before_ = Snapshot(inst_);
    // Release B: five files, the third of them large, a new folder.
    update_ = Payload({{"game.exe", "new game"},
                       Dir("data"),
                       {"data\\a.dat", Rnd(300000, 1)},
                       Dir("data\\movie"),
                       {"data\\movie\\op.mpg", Rnd(200000, 2)},
                       {"readme.txt", "read me"}});
  }
  // Stages the update; the exit code when the "process" ended inside, else kReturned.
  int Stage(const std::string& payload, int* result) {
    InstallUpdater(dir_ + "/updater.exe", payload);
    std::FILE* f = std::fopen((dir_ + "/updater.exe").c_str(), "rb");
    failure_ = StageFailure{};
    int code =
        ExitCodeOf([&] { *result = update::StageUpdate(f, inst_.c_str(), nullptr, &failure_) ? 0 : -1; });
    std::fclose(f);
    return code;
  }
  // Release A afresh, and a folder outside the install folder with a file of its own.
  void Fresh() {
    RemoveTree(inst_);
    RemoveTree(out_);
    SetUp();
    MakeTree(out_, {"target"}, "not the updater's");
  }
  std::string inst_, before_, update_, out_;
  StageFailure failure_;
};

TEST_F(StageTest, LandsWholeWithEveryTime) {
  int r = -1;
  ASSERT_EQ(Stage(update_, &r), kReturned);
  ASSERT_EQ(r, 0);
  EXPECT_EQ(ListTree(inst_),
            (Names{"data/", "data/a.dat", "data/keep.dat", "data/movie/", "data/movie/op.mpg", "game.exe",
                   "readme.txt", "save/", "save/slot1.sav"}));
  EXPECT_EQ(ReadWholeFile(inst_ + "/data/a.dat"), Rnd(300000, 1));
  EXPECT_EQ(ReadWholeFile(inst_ + "/data/keep.dat"), "old");
  for (const char* f : {"game.exe", "data\\a.dat", "data\\movie\\op.mpg"})
    EXPECT_EQ(WriteTime(inst_ + "\\" + f), kFileTime) << f;
}

// What the staging may touch: whatever goes wrong before the files are in place, and whatever
// was planted in the folder, the folder is as it was (files, bytes, times, links) and nothing
// outside it changed. Anything at a name the staging keeps for itself, and any link on the
// way, stops it before it writes.
TEST_F(StageTest, WhatItMayTouch) {
  using K = StageFailure::Kind;
  using E = plat::IoError;
  std::string damaged = update_;
  damaged[damaged.find("op.mpg") + 7 + 16 + 1000] ^= 0x55;  // inside the third file's stream
  const std::string& out = out_;
  auto link = [this](const std::string& target, const std::string& at) {
    ASSERT_EQ(symlink(target.c_str(), (inst_ + "/" + at).c_str()), 0);
  };
  const struct {
    const char* what;
    std::string payload;
    std::function<void()> arrange;
    K kind;
    E io;
  } cases[] = {
      {"damaged stream", damaged, [] {}, K::Damaged, E::None},
      {"a payload name the staging keeps for itself", Payload({{"x.kovela-new", "x"}}), [] {}, K::Damaged,
       E::None},
      {"no room, known in advance", update_, [] { fake::SetFreeSpace(400000); }, K::NoRoom, E::None},
      {"a link at a staged name", update_, [&] { link(out + "/target", "data/a.dat.kovela-new"); }, K::Stray,
       E::None},
      {"a link at a staged name that leads nowhere", update_,
       [&] { link(out + "/none", "game.exe.kovela-new"); }, K::Stray, E::None},
      {"a stray backup", update_, [this] { MakeTree(inst_, {"game.exe.kovela-old"}, "stray"); }, K::Stray,
       E::None},
      {"a stray staged folder", update_, [this] { MakeFolders(inst_, {"/data/movie.kovela-new"}); }, K::Stray,
       E::None},
      {"a data folder that is a link", update_,
       [&] {
         RemoveTree(inst_ + "/data");
         MakeTree(out, {"data/a.dat"}, "outside a");
         link(out + "/data", "data");
       },
       K::Link, E::None},
      {"an installed file that is a link", update_,
       [&] { unlink((inst_ + "/game.exe").c_str()), link(out + "/target", "game.exe"); }, K::Link, E::None},
      {"a read-only file", update_, [this] { chmod((inst_ + "/game.exe").c_str(), 0444); }, K::Blocked,
       E::Denied},
      {"a folder where a file goes", update_, [this] { MakeFolders(inst_, {"/readme.txt"}); }, K::Blocked,
       E::Other},
      {"the install folder missing", update_, [this] { RemoveTree(inst_); }, K::NoFolder, E::NotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    c.arrange();
    const std::string start = Snapshot(inst_), outside = Snapshot(out);
    int r = 0;
    ASSERT_EQ(Stage(c.payload, &r), kReturned);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(failure_.kind, c.kind);
    EXPECT_EQ(failure_.io, c.io);
    chmod((inst_ + "/game.exe").c_str(), 0644);
    EXPECT_EQ(Snapshot(inst_), start);
    EXPECT_EQ(Snapshot(out), outside);
  }
}

// A journal found in the folder is obeyed only as far as it names what the staging makes:
// staged copies and backups, never a link. One it cannot read or trust goes aside, once.
TEST_F(StageTest, AJournalIsNotTrustedFurtherThanItsOwnNames) {
  using K = update::Kind;
  const std::string& out = out_;
  auto journal = [this](const char* name, std::vector<update::PlanEntry> entries) {
    update::Plan plan;
    plan.entries = entries.data();
    plan.count = entries.size();
    std::string bytes(update::JournalSize(plan), '\0');
    update::EncodeJournal(plan, reinterpret_cast<unsigned char*>(bytes.data()));
    WriteWholeFile(inst_ + "/" + name, bytes);
  };
  const struct {
    const char* what;
    std::function<void()> arrange;
    StageFailure::Kind kind;
    const char* leftFromJournal;  // what stays of the journal: nothing, or where it was set aside
  } cases[] = {
      {"a staging journal that names a save file",
       [&] {
         journal("kovela-update.journal", {{K::NewFile, 3, kFileTime - 10000000, -1, "save\\slot1.sav"}});
       },
       StageFailure::None, ""},
      {"a commit journal that names a save file",
       [&] {
         journal("kovela-update.commit", {{K::NewFile, 3, kFileTime - 10000000, -1, "save\\slot1.sav"}});
       },
       StageFailure::None, ""},
      {"a journal through a link",
       [&] {
         MakeTree(out, {"x.kovela-new"}, "outside");
         symlink(out.c_str(), (inst_ + "/lnk").c_str());
         journal("kovela-update.journal", {{K::NewFile, 3, 0, -1, "lnk\\x"}});
       },
       StageFailure::BadJournal, "kovela-update.unreadable-1"},
      {"a link at the journal's name: not the staging's, left alone",
       [&] { symlink((out + "/target").c_str(), (inst_ + "/kovela-update.commit").c_str()); },
       StageFailure::Stray, ""},
      {"an unreadable journal, with one set aside before",
       [&] {
         WriteWholeFile(inst_ + "/kovela-update.journal", "KVU2 damaged");
         WriteWholeFile(inst_ + "/kovela-update.unreadable-1", "earlier");
       },
       StageFailure::BadJournal, "kovela-update.unreadable-2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    c.arrange();
    const std::string outside = Snapshot(out);
    const Names before = ListTree(inst_);
    update::StageFailure failure;
    EXPECT_EQ(update::RecoverInterruptedUpdate(inst_.c_str(), &failure), c.kind == StageFailure::None);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(ReadWholeFile(inst_ + "/save/slot1.sav"), "old");
    EXPECT_EQ(Snapshot(out), outside);
    Names left;
    for (const std::string& n : ListTree(inst_))
      if (std::find(before.begin(), before.end(), n) == before.end()) left.push_back(n);
    EXPECT_EQ(left, c.leftFromJournal[0] ? Names{c.leftFromJournal} : Names{});
    if (c.kind == StageFailure::BadJournal)  // set aside once, never a dead end
      EXPECT_TRUE(update::RecoverInterruptedUpdate(inst_.c_str(), &failure));
  }
}

// A rename or delete that fails, or the run killed, at any step of the staging and the swap.
// A failure: the update lands whole or the folder is as it was (once every file is in place
// only the clean-up can fail, and the journal stays for the next run to finish it). A kill: the
// next run finds the journal and leaves either release, whole; both happen.
TEST_F(StageTest, AFailureOrAKillAtEveryStep) {
  int r = -1;
  ASSERT_EQ(Stage(update_, &r), kReturned);
  const std::string after = Snapshot(inst_);
  const int calls = fake::FileCalls();
  ASSERT_GT(calls, 8);
  int forward = 0, back = 0;
  for (int step = 1; step <= calls; ++step) {
    // A failure; a kill; a failure and then a kill on the way back from it.
    for (int killAfter : {-1, 0, 2}) {
      const bool kill = killAfter >= 0;
      SCOPED_TRACE(std::to_string(step) + " failed" +
                   (kill ? ", killed " + std::to_string(killAfter) + " later" : ""));
      RemoveTree(inst_);
      SetUp();
      SetWriteTime(inst_ + "/data", kFileTime - 20000000);
      const std::uint64_t dataTime = WriteTime(inst_ + "/data");
      fake::Reset();
      if (killAfter != 0) fake::FailFileCall(step, plat::IoError::InUse);
      if (kill) fake::KillAtFileCall(step + killAfter);
      const int code = Stage(update_, &r);
      ASSERT_TRUE(code == (kill ? fake::kKilled : kReturned) || (killAfter > 0 && code == kReturned));
      fake::KillAtFileCall(0);  // the next run runs clean
      fake::FailFileCall(0, plat::IoError::None);
      update::StageFailure later;
      if (code == fake::kKilled || r == 0) {
        EXPECT_TRUE(update::RecoverInterruptedUpdate(inst_.c_str(), &later));
      } else {
        EXPECT_TRUE(failure_.kind == StageFailure::Write || failure_.kind == StageFailure::Blocked);
        EXPECT_EQ(failure_.io, plat::IoError::InUse);
      }
      const std::string now = Snapshot(inst_);
      if (code == kReturned) { EXPECT_EQ(now, r == 0 ? after : before_); }
      EXPECT_TRUE(now == before_ || now == after) << now;
      // Put back, the folders' own times are back too, after a kill as well.
      if (now == before_) { EXPECT_EQ(WriteTime(inst_ + "/data"), dataTime); }
      if (code == fake::kKilled) (now == after ? forward : back) += 1;
    }
  }
  EXPECT_GT(forward, 0);
  EXPECT_GT(back, 0);
}

// The journal is read back from the folder it describes: damage or a name that points outside
// makes it unusable, never a reason to touch anything else.
TEST(Journal, RoundTripAndDamage) {
  update::Plan plan;
  using K = update::Kind;
  update::PlanEntry e[] = {{K::NewFolder, 0, 0, -1, "data"},
                           {K::Existing, 0, 0, -1, "save"},
                           {K::NewFile, 7, 42, -1, "data\\n.bin"},
                           {K::Superseded, 7, 42, -1, "data\\N.bin"},
                           {K::Replace, 9, 43, -1, "ソ表"}};
  plan.entries = e;
  plan.count = 5;
  plan.folderTime = 77;
  std::string bytes(update::JournalSize(plan), '\0');
  update::EncodeJournal(plan, reinterpret_cast<unsigned char*>(bytes.data()));
  auto decode = [](const std::string& b, update::Plan* out) {
    return update::DecodeJournal(reinterpret_cast<const unsigned char*>(b.data()), b.size(), out);
  };
  update::Plan back;
  ASSERT_TRUE(decode(bytes, &back));
  ASSERT_EQ(back.count, 4u);  // superseded files are not journaled
  EXPECT_EQ(std::string(back.entries[3].name) + std::to_string(back.entries[3].time) + "/" +
                std::to_string(back.folderTime),
            "ソ表43/77");
  update::FreePlan(&back);
  auto with = [&](std::size_t at, const std::string& s) {
    return std::string(bytes).replace(at, s.size(), s);
  };
  const std::size_t firstName = 16 + 15;
  for (const std::string& bad :
       {bytes.substr(0, bytes.size() - 1), bytes + "x", with(0, "KVU1"), with(16, "X"),
        with(firstName, "..\\a"), with(firstName, "C:"), with(16 + 13, std::string("\0\0", 2)),
        with(firstName, std::string("\0", 1))}) {
    update::Plan p;
    EXPECT_FALSE(decode(bad, &p));
    update::FreePlan(&p);
  }
}

// Names that Windows takes for one: only the last of them is moved into place. A trail byte
// that looks like a capital letter is part of its character ("ア" 83 41 is not "ヂ" 83 61).
TEST(Plan, NamesThatDifferOnlyInCase) {
  using K = update::Kind;
  update::PlanEntry e[] = {{K::NewFile, 1, 0, -1, "Data\\A.dat"}, {K::Replace, 1, 0, -1, "ア.dat"},
                           {K::NewFile, 1, 0, -1, "data\\a.DAT"}, {K::NewFile, 1, 0, -1, "ヂ.dat"},
                           {K::NewFolder, 0, 0, -1, "data"},      {K::Existing, 0, 0, -1, "DATA"}};
  update::Plan plan;
  plan.entries = e;
  plan.count = 6;
  ASSERT_TRUE(update::MarkSuperseded(&plan));
  std::string kinds;
  for (const auto& entry : e) kinds += static_cast<char>(entry.kind);
  EXPECT_EQ(kinds, "XRNNDE");
}

TEST(Journal, ReservedNames) {
  for (const char* n : {"a.kovela-new", "data\\A.KOVELA-OLD", "data\\x.kovela-new\\", "kovela-update.journal",
                        "Kovela-Update.Commit", "kovela-update.writing"})
    EXPECT_TRUE(update::IsReservedName(n)) << n;
  for (const char* n : {"a.kovela-newer", "data\\kovela-update.journal", "kovela-new", "ソ.txt"})
    EXPECT_FALSE(update::IsReservedName(n)) << n;
}

}  // namespace
