#include "extract.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "testutil.h"
#include "zipbuilder.h"

namespace rdz {
namespace {

namespace stdfs = std::filesystem;
using test::build_zip;
using test::slurp;
using test::tree;
using test::BuildOptions;
using test::TestEntry;

class Capture final : public Reporter {
 public:
  void info(std::string_view line) override { out += line; }
  void error(std::string_view line) override { err += line; }
  std::string out, err;
};

TestEntry file(std::string name, std::string data, int32_t mtime = 1700000000) {
  TestEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  e.unix_mtime = mtime;
  return e;
}

int64_t mtime_of(const stdfs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

void set_mtime(const stdfs::path& p, int64_t t) {
  struct timespec ts[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(t), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), ts, 0), 0);
}

class Extract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp.path.empty());
    target = root / "target";
  }

  int run(const std::string& zip, cli::Options opt = {}, std::string dir = "") {
    cap = Capture{};
    if (dir.empty()) dir = target.string();
    zip::MemorySource src(zip.data(), zip.size());
    Workspace* one = ws.get();
    return extract(src, dir, opt, &one, 1, cap, &totals);
  }
  int update(const std::string& zip) {
    cli::Options opt;
    opt.update = true;
    opt.quiet = 2;
    return run(zip, opt);
  }

  std::unique_ptr<Workspace> ws = std::make_unique<Workspace>();
  test::TempDir tmp;
  stdfs::path root = tmp.path, target;
  Capture cap;
  Totals totals;
};

TEST_F(Extract, UnpacksFilesDirectoriesAndTimes) {
  TestEntry stored = file("bin/win32/rvzrt60.dll", std::string(300000, 'x') + "end");
  stored.method = 0;
  std::string zip = build_zip({test::dir_entry("bin/"), test::dir_entry("bin/win32/"), stored,
                               file("toolbox/readme.txt", "hello", 1600000000),
                               file("empty.txt", ""), test::dir_entry("toolbox/empty/")});
  ASSERT_EQ(run(zip), kExitOk) << cap.err;
  EXPECT_EQ(tree(target), (std::vector<std::string>{
                              "bin/", "bin/win32/",
                              "bin/win32/rvzrt60.dll=" + std::string(300000, 'x') + "end",
                              "empty.txt=", "toolbox/", "toolbox/empty/",
                              "toolbox/readme.txt=hello"}));
  EXPECT_EQ(mtime_of(target / "toolbox/readme.txt"), 1600000000);
  EXPECT_EQ(mtime_of(target / "bin/win32/rvzrt60.dll"), 1700000000);
  EXPECT_EQ(totals.files, 3u);
  EXPECT_EQ(totals.dirs, 3u);
  EXPECT_EQ(totals.bytes, 300008u);
  EXPECT_TRUE(cap.err.empty());
  EXPECT_NE(cap.out.find("   unpacked: toolbox/readme.txt\n"), std::string::npos);
  EXPECT_NE(cap.out.find("3 files unpacked (300008 bytes), 3 directories\n"), std::string::npos);
}

TEST_F(Extract, DosTimeIsLocalTime) {
  TestEntry e = file("a", "1");
  e.unix_mtime.reset();
  e.dos_time = test::dos_datetime(2021, 7, 4, 13, 14, 16);
  ASSERT_EQ(run(build_zip({e})), kExitOk) << cap.err;
  struct tm tm {};
  tm.tm_year = 121, tm.tm_mon = 6, tm.tm_mday = 4, tm.tm_hour = 13, tm.tm_min = 14,
  tm.tm_sec = 16, tm.tm_isdst = -1;
  EXPECT_EQ(mtime_of(target / "a"), static_cast<int64_t>(mktime(&tm)));
  // Nonsense fields (month 0, day 0) still give a time, not an error.
  zip::Entry z;
  z.dos_datetime = 0;
  EXPECT_GT(entry_mtime(z), 0);
}

TEST_F(Extract, QuietLevels) {
  std::string zip = build_zip({file("a", "1"), file("d/b", "2")});
  cli::Options opt;
  opt.quiet = 1;
  ASSERT_EQ(run(zip, opt), kExitOk);
  EXPECT_EQ(cap.out, "ruduvizide: 2 files unpacked (2 bytes), 0 directories\n");
  opt.quiet = 2;
  ASSERT_EQ(run(zip, opt), kExitOk);
  EXPECT_EQ(cap.out, "");
  EXPECT_EQ(cap.err, "");
}

TEST_F(Extract, CreatesTheTargetWithItsParentsAndAcceptsATrailingSeparator) {
  std::string zip = build_zip({file("bin/win32/x.dll", "x")});
  ASSERT_EQ(run(zip, {}, (root / "deep/er/target/").string()), kExitOk) << cap.err;
  EXPECT_EQ(slurp(root / "deep/er/target/bin/win32/x.dll"), "x");
  ASSERT_EQ(run(zip, {}, (root / "deep//er/target2///").string()), kExitOk) << cap.err;
  EXPECT_EQ(slurp(root / "deep/er/target2/bin/win32/x.dll"), "x");
}

TEST_F(Extract, TargetThatCannotBeADirectory) {
  stdfs::create_directories(root);
  std::ofstream(root / "plain") << "file";
  EXPECT_EQ(run(build_zip({file("a", "1")}), {}, (root / "plain").string()), kExitTarget);
  EXPECT_NE(cap.err.find("cannot create target directory"), std::string::npos);
  EXPECT_EQ(run(build_zip({file("a", "1")}), {}, (root / "plain/sub").string()), kExitTarget);
  EXPECT_EQ(slurp(root / "plain"), "file");
}

TEST_F(Extract, UpdateWritesOnlyMissingOrOlderFiles) {
  std::string zip = build_zip({file("new.txt", "archive"), file("old.txt", "archive"),
                               file("same.txt", "archive"), file("gone.txt", "archive")});
  ASSERT_EQ(run(zip), kExitOk);
  std::ofstream(target / "new.txt", std::ios::trunc) << "newer!!";
  std::ofstream(target / "old.txt", std::ios::trunc) << "local, older";
  set_mtime(target / "new.txt", 1700000000 + 3600);
  set_mtime(target / "old.txt", 1700000000 - 3600);
  stdfs::remove(target / "gone.txt");

  ASSERT_EQ(update(zip), kExitOk) << cap.err;
  EXPECT_EQ(slurp(target / "new.txt"), "newer!!");
  EXPECT_EQ(slurp(target / "old.txt"), "archive");
  EXPECT_EQ(slurp(target / "same.txt"), "archive");
  EXPECT_EQ(slurp(target / "gone.txt"), "archive");
  EXPECT_EQ(totals.files, 2u);
  EXPECT_EQ(totals.skipped, 2u);
  EXPECT_EQ(mtime_of(target / "old.txt"), 1700000000);

  // Without -u everything is rewritten.
  ASSERT_EQ(run(zip), kExitOk);
  EXPECT_EQ(slurp(target / "new.txt"), "archive");
}

TEST_F(Extract, UpdateReportsWhatItSkips) {
  std::string zip = build_zip({file("a", "1")});
  ASSERT_EQ(run(zip), kExitOk);
  cli::Options opt;
  opt.update = true;
  ASSERT_EQ(run(zip, opt), kExitOk);
  EXPECT_EQ(cap.out,
            " up to date: a\nruduvizide: 0 files unpacked (0 bytes), 1 up to date, 0 directories\n");
}

TEST_F(Extract, ReplacesFilesButNotDirectoriesInTheWay) {
  std::string zip = build_zip({file("x", "new"), file("d", "file where a dir is")});
  stdfs::create_directories(target / "d");
  std::ofstream(target / "x") << "old";
  EXPECT_EQ(run(zip), kExitEntries);
  EXPECT_EQ(slurp(target / "x"), "new");
  EXPECT_TRUE(stdfs::is_directory(target / "d"));
  EXPECT_NE(cap.err.find("ruduvizide: d: cannot replace file"), std::string::npos) << cap.err;
  EXPECT_NE(cap.err.find("1 entry was not unpacked"), std::string::npos);
  EXPECT_EQ(update(zip), kExitEntries);  // -u does not take a directory for a file

  // A file where a directory must go.
  stdfs::remove_all(target);
  stdfs::create_directories(target);
  std::ofstream(target / "bin") << "in the way";
  EXPECT_EQ(run(build_zip({file("bin/a.dll", "a"), test::dir_entry("bin/")})), kExitEntries);
  EXPECT_EQ(slurp(target / "bin"), "in the way");
  EXPECT_NE(cap.err.find("bin/a.dll: cannot create directory"), std::string::npos) << cap.err;
}

// Bad data: no file under its real name, no temporary left behind, the
// previous version of the file untouched.
struct DataFault {
  const char* what;
  void (*spoil)(TestEntry&);
  const char* message;
};

TEST_F(Extract, BadDataLeavesNothingBehind) {
  const DataFault faults[] = {
      {"crc", [](TestEntry& e) { e.crc = 1234; }, "CRC-32 mismatch"},
      {"short", [](TestEntry& e) { e.usize = e.data.size() + 1; }, "data is shorter than declared"},
      {"long", [](TestEntry& e) { e.usize = e.data.size() - 1; }, "data is longer than declared"},
      {"stored-long", [](TestEntry& e) { e.method = 0; e.usize = e.csize = e.data.size() - 1; },
       "CRC-32 mismatch"},
      {"truncated", [](TestEntry& e) {
         e.payload = test::deflate_raw(e.data).substr(0, 10); }, "compressed data ends early"},
      {"garbage", [](TestEntry& e) { e.payload = std::string(40, '\xFF'); },
       "compressed data is corrupt"},
      {"bomb", [](TestEntry& e) {
         // 100 MB of zeros declared as 1000 bytes: refused within the first buffer.
         e.payload = test::deflate_raw(std::string(100 << 20, '\0'), 9);
         e.usize = 1000; }, "data is longer than declared"},
  };
  for (const DataFault& f : faults) {
    SCOPED_TRACE(f.what);
    stdfs::remove_all(target);
    stdfs::create_directories(target / "d");
    std::ofstream(target / "d/victim") << "previous version";
    TestEntry e = file("d/victim", std::string(5000, 'v') + "tail");
    f.spoil(e);
    EXPECT_EQ(run(build_zip({e, file("d/fine", "ok")})), kExitEntries);
    EXPECT_EQ(tree(target), (std::vector<std::string>{"d/", "d/fine=ok", "d/victim=previous version"}));
    EXPECT_NE(cap.err.find(std::string("ruduvizide: d/victim: not unpacked: ") + f.message),
              std::string::npos) << cap.err;
  }
}

TEST_F(Extract, DamagedLocalHeaderFailsThatEntryOnly) {
  std::string zip = build_zip({file("a", "aaa"), file("b", "bbb")});
  zip[0] = 'X';
  EXPECT_EQ(run(zip), kExitEntries);
  EXPECT_EQ(tree(target), (std::vector<std::string>{"b=bbb"}));
  EXPECT_NE(cap.err.find("ruduvizide: a: damaged entry: local header"), std::string::npos);
}

TEST_F(Extract, RefusedEntriesStopEverythingBeforeAnyWrite) {
  struct Case {
    TestEntry entry;
    const char* message;
  };
  std::vector<Case> cases;
  auto named = [](std::string n) { return file(std::move(n), "evil"); };
  cases.push_back({named("../escape"), "../escape: refused: \"..\" component"});
  cases.push_back({named("/abs"), "/abs: refused: absolute path"});
  cases.push_back({named("C:\\win.ini"), "C:\\win.ini: refused: drive letter"});
  cases.push_back({named("a\\..\\..\\b"), "a\\..\\..\\b: refused: \"..\" component"});
  cases.push_back({named("aux.txt"), "aux.txt: refused: reserved device name"});
  cases.push_back({named("a?b"), "a?b: refused: character not allowed"});
  cases.push_back({named("a\x1b" "b"), "a?b: refused: control character"});
  cases.push_back({named("dir./x"), "dir./x: refused: component ends in a dot"});
  TestEntry link = named("link");
  link.external_attr = 0120777u << 16;
  cases.push_back({link, "link: refused: symbolic links"});
  TestEntry fifo = named("fifo");
  fifo.external_attr = 0010644u << 16;
  cases.push_back({fifo, "fifo: refused: special files"});
  TestEntry secret = named("secret");
  secret.flags |= 1;
  cases.push_back({secret, "secret: refused: encrypted"});
  TestEntry bz = named("bz");
  bz.method = 12;
  cases.push_back({bz, "bz: refused: unsupported compression method 12"});
  TestEntry odd = named("odd");
  odd.method = 0;
  odd.usize = 3;
  cases.push_back({odd, "odd: refused: stored entry with differing"});
  TestEntry bad8 = named("bad\xFF");
  cases.push_back({bad8, "bad?: refused: name flagged UTF-8 is not valid UTF-8"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    stdfs::remove_all(target);
    cli::Options opt;
    opt.quiet = 2;  // refusals are shown even then
    EXPECT_EQ(run(build_zip({file("first", "written only if all is well"), c.entry}), opt),
              kExitEntries);
    EXPECT_FALSE(stdfs::exists(target));
    EXPECT_FALSE(stdfs::exists(root / "escape"));
    EXPECT_NE(cap.err.find(std::string("ruduvizide: ") + c.message), std::string::npos) << cap.err;
    EXPECT_NE(cap.err.find("1 entry refused; nothing was unpacked"), std::string::npos);
  }
}

TEST_F(Extract, UnreadableArchivesReportAndWriteNothing) {
  EXPECT_EQ(run("not an archive at all, but long enough to look"), kExitArchive);
  EXPECT_NE(cap.err.find("cannot read the archive: no ZIP archive found"), std::string::npos);
  BuildOptions opt;
  opt.declared_entries = 1;
  EXPECT_EQ(run(build_zip({file("a", "1"), file("b", "2")}, opt)), kExitArchive);
  EXPECT_NE(cap.err.find("damaged archive: central directory holds a different number"),
            std::string::npos);
  EXPECT_FALSE(stdfs::exists(target));
}

TEST_F(Extract, NamesFromOtherSystemsLandWhereTheyShould) {
  TestEntry dos = file("DOS\\CAF\x90.TXT", "cp437");  // É in CP437, backslash separator
  dos.flags = 0;
  dos.made_by = zip::host::kDos << 8 | 20;
  dos.external_attr = 0x20;
  TestEntry dosdir = test::dir_entry("EMPTY");  // a directory by attribute only
  dosdir.made_by = zip::host::kNtfs << 8 | 20;
  dosdir.external_attr = 0x10;
  ASSERT_EQ(run(build_zip({dos, dosdir})), kExitOk) << cap.err;
  EXPECT_EQ(slurp(target / "DOS" / "CAF\xC3\x89.TXT"), "cp437");
  EXPECT_TRUE(stdfs::is_directory(target / "EMPTY"));
}

TEST_F(Extract, EntriesNamingOneFileTwiceAreRefusedBeforeAnyWrite) {
  EXPECT_EQ(run(build_zip({file("a", "first"), file("b", "other"), file("a", "second")})),
            kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_NE(cap.err.find("a: refused: another entry names the same file"), std::string::npos)
      << cap.err;
  // A directory named twice is one directory.
  EXPECT_EQ(run(build_zip({test::dir_entry("d/"), test::dir_entry("D/"), file("d/x", "1")})),
            kExitOk)
      << cap.err;
}

TEST_F(Extract, LongPathsAreRefusedPerEntry) {
  std::string dir = (root / std::string(200, 'd')).string();
  for (int i = 0; i < 17; ++i) dir += "/" + std::string(200, 'e');  // over fs::kMaxPath
  EXPECT_EQ(run(build_zip({file("a", "1")}), {}, dir), kExitTarget);
  EXPECT_NE(cap.err.find("target directory name is too long"), std::string::npos);
}

// --- Several workers --------------------------------------------------------

// Bytes that deflate well or not at all, the same on every run.
std::string filler(size_t n, uint32_t seed, bool compressible) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    s[i] = compressible ? static_cast<char>('a' + (x >> 8) % 4) : static_cast<char>(x >> 24);
  }
  return s;
}

class Workers : public Extract {
 protected:
  int run_with(const std::string& zip, cli::Options opt = {}) {
    cap = Capture{};
    totals = Totals{};
    Workspace* both[] = {ws.get(), second.get()};
    zip::MemorySource src(zip.data(), zip.size());
    return extract(src, target.string(), opt, both, 2, cap, &totals);
  }
  int quiet_run(const std::string& zip, bool update = false) {
    cli::Options opt;
    opt.quiet = 2;
    opt.update = update;
    return run_with(zip, opt);
  }

  // Enough files for two workers, under "pad/".
  static std::vector<TestEntry> padding() {
    std::vector<TestEntry> v;
    for (int i = 0; i < 100; ++i) {
      v.push_back(file("pad/p" + std::to_string(i), filler(6000 + i, i, i % 2 == 0)));
    }
    return v;
  }

  std::unique_ptr<Workspace> second = std::make_unique<Workspace>();
};

TEST_F(Workers, ShareAnArchiveAndEachFileIsWhole) {
  std::vector<TestEntry> entries;
  std::vector<std::string> expect;
  for (const char* d : {"bin/", "bin/win32/", "lib/", "lib/x64/deep/"}) {
    entries.push_back(test::dir_entry(d));
  }
  for (int i = 0; i < 400; ++i) {
    std::string name = std::string(i % 3 ? "lib/x64/deep/" : "bin/win32/") + "f" + std::to_string(i);
    // Big ones among the small, to be started first; some stored.
    size_t size = i % 97 == 5 ? (3u << 20) + i : 100u + 37u * i;
    TestEntry e = file(name, filler(size, i, i % 4 != 1), 1600000000 + i);
    if (i % 5 == 0) e.method = 0;
    expect.push_back(name + "=" + e.data);
    entries.push_back(std::move(e));
  }
  const std::string zip = build_zip(entries);
  ASSERT_EQ(run_with(zip), kExitOk) << cap.err;
  EXPECT_EQ(totals.workers, 2u);
  EXPECT_EQ(totals.files, 400u);
  EXPECT_EQ(totals.dirs, 4u);
  EXPECT_TRUE(cap.err.empty()) << cap.err;
  for (const char* d : {"bin/", "bin/win32/", "lib/", "lib/x64/", "lib/x64/deep/"}) {
    expect.push_back(d);
  }
  std::sort(expect.begin(), expect.end());
  EXPECT_EQ(tree(target), expect);  // no temporaries either
  EXPECT_EQ(mtime_of(target / "lib/x64/deep/f398"), 1600000398);
  // A whole line for each entry, in whatever order, and the summary last.
  size_t lines = 0;
  for (char c : cap.out) lines += c == '\n';
  EXPECT_EQ(lines, 405u);
  EXPECT_NE(cap.out.find("   unpacked: bin/win32/f0\n"), std::string::npos);
  EXPECT_NE(cap.out.find("  directory: lib/x64/deep/\n"), std::string::npos);
  EXPECT_EQ(cap.out.substr(cap.out.rfind('\n', cap.out.size() - 2) + 1),
            "ruduvizide: 400 files unpacked (" + std::to_string(totals.bytes) +
                " bytes), 4 directories\n");

  // Again with -u: everything is up to date, nothing is rewritten.
  ASSERT_EQ(quiet_run(zip, true), kExitOk) << cap.err;
  EXPECT_EQ(totals.skipped, 400u);
  EXPECT_EQ(totals.files, 0u);
}

TEST_F(Workers, OneWorkerForASmallArchive) {
  ASSERT_EQ(run_with(build_zip({file("a", "1"), file("b", "2")})), kExitOk) << cap.err;
  EXPECT_EQ(totals.workers, 1u);
  ASSERT_EQ(run_with(build_zip(padding())), kExitOk) << cap.err;
  EXPECT_EQ(totals.workers, 2u);
}

// Where two entries reach one file, the archive's order decides the result,
// so such an archive is unpacked in that order, by one worker.
// Entries that one file system might take for one object are kept in archive
// order by one worker when they can coexist, and refused before anything is
// written when they name one file twice.
TEST_F(Workers, EntriesForOnePathKeepArchiveOrderOrAreRefused) {
  struct Case {
    const char* what;
    std::vector<TestEntry> entries;
    std::vector<std::string> expect;  // beside pad/; nothing at all when refused
    int rc;
  };
  std::vector<TestEntry> dups;
  for (int i = 0; i < 50; ++i) dups.push_back(file("d/same.txt", "version " + std::to_string(i)));
  const Case cases[] = {
      {"duplicates", dups, {}, kExitEntries},
      {"file, then a directory of its name",
       {file("x", "file first"), test::dir_entry("x/"), file("x/y", "under")}, {}, kExitEntries},
      {"a directory, then a file of its name",
       {file("x/y", "under"), file("x", "file later")}, {}, kExitEntries},
      {"names equal but for case", {file("ABC", "upper"), file("abc", "lower")}, {}, kExitEntries},
      {"a directory equal but for case", {file("Lib/a", "a"), file("lib", "file")}, {},
       kExitEntries},
      {"a possible short name", {file("PROGRA~1.TXT", "short")}, {"PROGRA~1.TXT=short"}, kExitOk},
      {"non-ASCII names of one shape",
       {file("caf\xC3\xA9", "e"), file("caf\xC3\xBC", "u")},
       {"caf\xC3\xA9=e", "caf\xC3\xBC=u"}, kExitOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stdfs::remove_all(target);
    std::vector<TestEntry> entries = padding();
    entries.insert(entries.end(), c.entries.begin(), c.entries.end());
    EXPECT_EQ(quiet_run(build_zip(entries)), c.rc) << cap.err;
    if (c.rc != kExitOk) {
      EXPECT_FALSE(stdfs::exists(target));
      EXPECT_NE(cap.err.find("refused: another entry names the same file"), std::string::npos)
          << cap.err;
      continue;
    }
    EXPECT_EQ(totals.workers, 1u);
    std::vector<std::string> got;
    for (const std::string& t : tree(target)) {
      if (t.rfind("pad/", 0) != 0) got.push_back(t);
    }
    EXPECT_EQ(got, c.expect);
  }
}

TEST_F(Workers, DirectoriesNamedTwiceDoNotHoldThemBack) {
  std::vector<TestEntry> entries = padding();
  entries.push_back(test::dir_entry("pad/"));
  entries.push_back(test::dir_entry("PAD/"));
  ASSERT_EQ(quiet_run(build_zip(entries)), kExitOk) << cap.err;
  EXPECT_EQ(totals.workers, 2u);
}

TEST_F(Workers, BadEntriesFailAloneAndLeaveNothingBehind) {
  std::vector<TestEntry> entries = padding();
  for (int i = 0; i < 40; ++i) {
    TestEntry e = file("bad/b" + std::to_string(i), filler(20000, 100 + i, true));
    if (i % 4 == 0) e.crc = 1234;
    if (i % 4 == 1) e.payload = std::string(40, '\xFF');
    entries.push_back(std::move(e));
  }
  EXPECT_EQ(quiet_run(build_zip(entries)), kExitEntries);
  EXPECT_EQ(totals.workers, 2u);
  EXPECT_EQ(totals.failed, 20u);
  EXPECT_EQ(totals.files, 100u + 20u);
  size_t files = 0;
  for (auto& it : stdfs::recursive_directory_iterator(target)) {
    EXPECT_EQ(it.path().filename().string().rfind(".rdz-", 0), std::string::npos) << it.path();
    files += it.is_regular_file();
  }
  EXPECT_EQ(files, 120u);
  EXPECT_NE(cap.err.find("ruduvizide: bad/b8: not unpacked: CRC-32 mismatch\n"), std::string::npos)
      << cap.err;
  EXPECT_NE(cap.err.find("ruduvizide: bad/b9: not unpacked: compressed data is corrupt\n"),
            std::string::npos);
  EXPECT_NE(cap.err.find("20 entries were not unpacked"), std::string::npos);
}

TEST_F(Workers, RefusalsStillStopEverythingBeforeAnyWrite) {
  std::vector<TestEntry> entries = padding();
  entries.push_back(file("../escape", "evil"));
  EXPECT_EQ(quiet_run(build_zip(entries)), kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_NE(cap.err.find("1 entry refused; nothing was unpacked"), std::string::npos);
}

// A file that changes once pass one has read its directory: the workers
// stop with the archive's exit status instead of unpacking something else.
class ChangingSource final : public zip::Source {
 public:
  explicit ChangingSource(std::string data) : data_(std::move(data)) {
    cd_ = data_.size() - 22 - static_cast<unsigned char>(data_[data_.size() - 10]) -
          (static_cast<unsigned char>(data_[data_.size() - 9]) << 8);
  }
  uint64_t size() const override { return data_.size(); }
  bool read(uint64_t offset, void* buf, size_t n) override {
    if (offset > data_.size() || n > data_.size() - offset) return false;
    std::memcpy(buf, data_.data() + offset, n);
    // Finding the archive and pass one see the directory as it was; after
    // that its first record has lost its signature.
    if (offset <= cd_ && offset + n > cd_ && cd_reads_++ >= 2) {
      static_cast<char*>(buf)[cd_ - offset] ^= 0x55;
    }
    return true;
  }

 private:
  std::string data_;
  uint64_t cd_;
  std::atomic<int> cd_reads_{0};
};

TEST_F(Workers, AnArchiveThatChangesUnderneathStopsThem) {
  std::vector<TestEntry> entries = padding();
  ChangingSource src(build_zip(entries));
  Workspace* both[] = {ws.get(), second.get()};
  cli::Options opt;
  opt.quiet = 2;
  EXPECT_EQ(extract(src, target.string(), opt, both, 2, cap, &totals), kExitArchive);
  EXPECT_EQ(totals.workers, 2u);
  // Said once, however many workers noticed.
  const std::string said = "ruduvizide: archive changed while unpacking: ";
  ASSERT_NE(cap.err.find(said), std::string::npos) << cap.err;
  EXPECT_EQ(cap.err.find(said), cap.err.rfind(said));
}

TEST(Crc32, AgreesWithZlibAtEveryLengthAndAlignment) {
  const std::string data = filler(70000, 9, false);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (size_t offset : {0, 1, 7, 15}) {
    for (size_t n = 0; n < 600; ++n) {
      uint32_t seed = static_cast<uint32_t>(n * 2654435761u);
      ASSERT_EQ(crc32_update(seed, bytes + offset, n),
                crc32(seed, bytes + offset, static_cast<uInt>(n)))
          << "offset " << offset << ", length " << n;
    }
  }
  // Long runs, and one crc continued over pieces of awkward sizes.
  EXPECT_EQ(crc32_update(0, bytes, data.size()), crc32(0, bytes, static_cast<uInt>(data.size())));
  uint32_t crc = 0;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 1000 + 1) {
    crc = crc32_update(crc, bytes + at, std::min(step, data.size() - at));
  }
  EXPECT_EQ(crc, crc32(0, bytes, static_cast<uInt>(data.size())));
  EXPECT_EQ(crc32_update(0, reinterpret_cast<const unsigned char*>("123456789"), 9), 0xCBF43926u);
}

}  // namespace
}  // namespace rdz
