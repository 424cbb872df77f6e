// What an extraction leaves on the disk and says, for ordinary archives and
// for entries that fail on their own.
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>

#include "testutil.h"

namespace rdz {
namespace {

using namespace test;

int64_t mtime_of(const stdfs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

// Bytes that deflate well or not at all, the same on every run.
std::string filler(size_t n, uint32_t seed, bool compressible) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = compressible ? static_cast<char>('a' + (x >> 8) % 4) : static_cast<char>(x >> 24);
  }
  return s;
}

// Enough work for two workers, under "pad/".
std::vector<TestEntry> padding() {
  std::vector<TestEntry> v;
  for (int i = 0; i < 100; ++i) v.push_back(file("pad/p" + std::to_string(i), filler(6000, i, i % 2)));
  return v;
}

using Extract = Unpack;

TEST_F(Extract, UnpacksFilesDirectoriesAndTimesAndSaysSo) {
  TestEntry stored = file("bin/win32/rt.dll", std::string(300000, 'x')), dos = file("d", "1");
  stored.method = 0;
  dos.unix_mtime.reset();
  dos.dos_time = dos_datetime(2021, 7, 4, 13, 14, 16);
  const std::string zip = build_zip({dir("bin/"), stored, file("t/readme", "hi"), file("empty", ""),
                                     dir("t/empty/"), dos});
  ASSERT_EQ(run(zip), kExitOk) << cap.err;
  EXPECT_EQ(tree(target), (std::vector<std::string>{"bin/", "bin/win32/", "bin/win32/rt.dll=" +
      std::string(300000, 'x'), "d=1", "empty=", "t/", "t/empty/", "t/readme=hi"}));
  EXPECT_EQ(mtime_of(target / "t/readme"), 1700000000);
  struct tm tm {};
  tm.tm_year = 121, tm.tm_mon = 6, tm.tm_mday = 4, tm.tm_hour = 13, tm.tm_min = 14, tm.tm_sec = 16;
  tm.tm_isdst = -1;
  EXPECT_EQ(mtime_of(target / "d"), static_cast<int64_t>(mktime(&tm)));
  EXPECT_EQ(cap.out, "  directory: bin/\n   unpacked: bin/win32/rt.dll\n   unpacked: t/readme\n"
                     "   unpacked: empty\n  directory: t/empty/\n   unpacked: d\n"
                     "ruduvizide: 4 files unpacked (300003 bytes), 2 directories\n");
  EXPECT_EQ(cap.err, "");
  zip::Entry nonsense;  // month 0, day 0 still give a time
  EXPECT_GT(entry_mtime(nonsense), 0);

  cli::Options opt;
  opt.quiet = 1;
  ASSERT_EQ(run(zip, opt), kExitOk);
  EXPECT_EQ(cap.out, "ruduvizide: 4 files unpacked (300003 bytes), 2 directories\n");
  opt.quiet = 2;
  ASSERT_EQ(run(zip, opt), kExitOk);
  EXPECT_EQ(cap.out + cap.err, "");
}

TEST_F(Extract, TargetIsMadeWithItsParentsOrRefused) {
  const std::string zip = build_zip({file("x", "x")});
  ASSERT_EQ(run(zip, {}, (root / "deep//er/t///").string()), kExitOk) << cap.err;
  EXPECT_EQ(slurp(root / "deep/er/t/x"), "x");
  std::ofstream(root / "plain") << "file";
  EXPECT_EQ(run(zip, {}, (root / "plain/sub").string()), kExitTarget);
  EXPECT_NE(cap.err.find("ruduvizide: cannot create target directory " + (root / "plain/sub").string()),
            std::string::npos) << cap.err;
  EXPECT_EQ(run(zip, {}, root.string() + std::string(4000, '/') + "x"), kExitTarget);
  EXPECT_EQ(cap.err, "ruduvizide: target directory name is too long\n");
}

TEST_F(Extract, UpdateWritesOnlyMissingOrOlderFiles) {
  const std::string zip = build_zip({file("new", "archive"), file("old", "archive"),
                                     file("same", "archive"), file("gone", "archive")});
  ASSERT_EQ(run(zip), kExitOk);
  std::ofstream(target / "new", std::ios::trunc) << "local, newer";
  std::ofstream(target / "old", std::ios::trunc) << "local, older";
  struct timespec newer[2] = {{0, UTIME_OMIT}, {1700000001, 0}}, older[2] = {{0, UTIME_OMIT}, {1699999999, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (target / "new").c_str(), newer, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, (target / "old").c_str(), older, 0), 0);
  stdfs::remove(target / "gone");
  cli::Options opt;
  opt.update = true;
  ASSERT_EQ(run(zip, opt), kExitOk) << cap.err;
  EXPECT_EQ(tree(target), (std::vector<std::string>{"gone=archive", "new=local, newer",
                                                    "old=archive", "same=archive"}));
  EXPECT_EQ(mtime_of(target / "old"), 1700000000);
  EXPECT_NE(cap.out.find(" up to date: same\n"), std::string::npos) << cap.out;
  EXPECT_NE(cap.out.find("2 files unpacked (14 bytes), 2 up to date, 0 directories\n"),
            std::string::npos) << cap.out;
  // A directory where the file goes is not up to date, nor replaced.
  stdfs::remove(target / "same");
  stdfs::create_directory(target / "same");
  EXPECT_EQ(run(zip, opt), kExitEntries);
  EXPECT_NE(cap.err.find("ruduvizide: same: cannot replace file"), std::string::npos) << cap.err;
  EXPECT_NE(cap.err.find("ruduvizide: 1 entry was not unpacked\n"), std::string::npos);
  EXPECT_EQ(run(build_zip({file("same/a", "a"), file("new/b", "b")})), kExitEntries);
  EXPECT_NE(cap.err.find("new/b: cannot create directory"), std::string::npos) << cap.err;
  EXPECT_EQ(slurp(target / "same/a"), "a");
}

// An entry whose data is bad fails alone: nothing under its name (the file
// there before stays), no temporary left behind, its neighbours unharmed.
TEST_F(Extract, BadDataFailsItsEntryAlone) {
  struct Case {
    void (*spoil)(TestEntry&);
    const char* message;
  };
  const Case cases[] = {
      {[](TestEntry& e) { e.crc = 1234; }, "not unpacked: CRC-32 mismatch"},
      {[](TestEntry& e) { e.usize = e.data.size() + 1; }, "not unpacked: data is shorter than declared"},
      {[](TestEntry& e) { e.usize = e.data.size() - 1; }, "not unpacked: data is longer than declared"},
      {[](TestEntry& e) { e.method = 0, e.usize = e.csize = 9; }, "not unpacked: CRC-32 mismatch"},
      {[](TestEntry& e) { e.payload = deflate_raw(e.data).substr(0, 10); },
       "not unpacked: compressed data ends early"},
      {[](TestEntry& e) { e.csize = deflate_raw(e.data).size() / 2; },
       "not unpacked: compressed data ends early"},
      {[](TestEntry& e) { e.payload = std::string(40, '\xFF'); }, "not unpacked: compressed data is corrupt"},
      {[](TestEntry& e) { e.zip64 = true, e.usize = uint64_t{1} << 62; },
       "not unpacked: data is shorter than declared"},
      {[](TestEntry& e) { e.local_name = "d/victin"; }, "damaged entry: local header names a different"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    stdfs::remove_all(target);
    stdfs::create_directories(target / "d");
    std::ofstream(target / "d/victim") << "previous";
    std::vector<TestEntry> entries = padding();
    entries.push_back(file("d/victim", filler(300000, 7, true)));
    c.spoil(entries.back());
    entries.push_back(file("d/fine", "ok"));
    EXPECT_EQ(run(build_zip(entries)), kExitEntries);
    EXPECT_EQ(totals.workers, 2u);
    EXPECT_EQ(totals.files, 101u);
    std::vector<std::string> got = tree(target / "d");
    EXPECT_EQ(got, (std::vector<std::string>{"fine=ok", "victim=previous"}));
    EXPECT_NE(cap.err.find("ruduvizide: d/victim: " + std::string(c.message)), std::string::npos)
        << cap.err;
  }
}

TEST_F(Extract, NamesFromOtherSystemsLandWhereTheyShould) {
  TestEntry cp437 = file("DOS\\CAF\x90.TXT", "cp437"), attr = dir("EMPTY");
  cp437.flags = 0;
  cp437.made_by = zip::host::kDos << 8;
  cp437.external_attr = 0x20;
  attr.made_by = zip::host::kNtfs << 8;
  attr.external_attr = 0x10;
  ASSERT_EQ(run(build_zip({cp437, attr})), kExitOk) << cap.err;
  EXPECT_EQ(tree(target), (std::vector<std::string>{"DOS/", "DOS/CAF\xC3\x89.TXT=cp437", "EMPTY/"}));
}

TEST_F(Extract, WorkersShareAnArchiveAndEachFileIsWhole) {
  std::vector<TestEntry> entries = {dir("bin/"), dir("lib/x/deep/")};
  std::vector<std::string> expect = {"bin/", "lib/", "lib/x/", "lib/x/deep/"};
  for (int i = 0; i < 400; ++i) {
    std::string name = std::string(i % 3 ? "lib/x/deep/f" : "bin/f") + std::to_string(i);
    TestEntry e = file(name, filler(i % 97 == 5 ? (3u << 20) + i : 100u + 37u * i, i, i % 4 != 1));
    e.unix_mtime = 1600000000 + i;
    if (i % 5 == 0) e.method = 0;
    expect.push_back(name + "=" + e.data);
    entries.push_back(std::move(e));
  }
  std::sort(expect.begin(), expect.end());
  const std::string zip = build_zip(entries);
  ASSERT_EQ(run(zip), kExitOk) << cap.err;
  EXPECT_EQ(totals.workers, 2u);
  EXPECT_EQ(tree(target), expect);  // no temporaries either
  EXPECT_EQ(mtime_of(target / "lib/x/deep/f398"), 1600000398);
  EXPECT_EQ(std::count(cap.out.begin(), cap.out.end(), '\n'), 403);
  EXPECT_NE(cap.out.find("  directory: lib/x/deep/\n"), std::string::npos);
  EXPECT_EQ(cap.out.substr(cap.out.rfind('\n', cap.out.size() - 2) + 1),
            "ruduvizide: 400 files unpacked (" + std::to_string(totals.bytes) + " bytes), 2 directories\n");
  cli::Options opt;
  opt.update = true;
  ASSERT_EQ(run(zip, opt), kExitOk) << cap.err;
  EXPECT_EQ(totals.skipped, 400u);
}

// Where two entries may reach one object on some file system, the archive's
// order decides the result: such an archive is unpacked by one worker.
TEST_F(Extract, OneWorkerWhenOrderMattersOrTheArchiveIsSmall) {
  const std::pair<std::vector<TestEntry>, unsigned> cases[] = {
      {{}, 2}, {{dir("pad/"), dir("PAD/")}, 2}, {{file("PROGRA~1.TXT", "short")}, 1},
      {{file("caf\xC3\xA9", "e"), file("caf\xC3\xBC", "u")}, 1},
      {{file("\xC4\xB1", "dotless"), file("I", "capital")}, 1},
  };
  for (const auto& [extra, workers] : cases) {
    std::vector<TestEntry> entries = padding();
    entries.insert(entries.end(), extra.begin(), extra.end());
    EXPECT_EQ(run(build_zip(entries)), kExitOk) << cap.err;
    EXPECT_EQ(totals.workers, workers) << (extra.empty() ? "" : extra[0].name);
    EXPECT_EQ(totals.files, 100u + (extra.size() && extra[0].data.size() ? extra.size() : 0));
  }
  EXPECT_EQ(run(build_zip({file("a", "1"), file("b", "2")})), kExitOk);
  EXPECT_EQ(totals.workers, 1u);
}

// A file that changes once pass one has read its directory: the workers stop
// with the archive's exit status, and say so once.
class ChangingSource final : public zip::Source {
 public:
  explicit ChangingSource(std::string data) : data_(std::move(data)) {}
  uint64_t size() const override { return data_.size(); }
  bool read(uint64_t offset, void* buf, size_t n) override {
    if (offset > data_.size() || n > data_.size() - offset) return false;
    std::memcpy(buf, data_.data() + offset, n);
    const uint64_t cd = data_.size() - 22 - (static_cast<unsigned char>(data_[data_.size() - 10]) |
                                             static_cast<unsigned char>(data_[data_.size() - 9]) << 8);
    if (offset <= cd && offset + n > cd && cd_reads_++ >= 2) static_cast<char*>(buf)[cd - offset] ^= 0x55;
    return true;
  }

 private:
  std::string data_;
  std::atomic<int> cd_reads_{0};
};

TEST_F(Extract, AnArchiveThatChangesUnderneathStopsTheWorkers) {
  ChangingSource src(build_zip(padding()));
  EXPECT_EQ(run(src), kExitArchive);
  EXPECT_EQ(totals.workers, 2u);
  const std::string said = "ruduvizide: archive changed while unpacking: ";
  ASSERT_NE(cap.err.find(said), std::string::npos) << cap.err;
  EXPECT_EQ(cap.err.find(said), cap.err.rfind(said));
}

// Archives made by real writers (make_fixtures.py), read from a file, must
// reproduce the tree they were made from.
TEST_F(Extract, ArchivesOfRealWritersReproduceTheirTree) {
  int seen = 0;
  for (auto& it : stdfs::directory_iterator(RDZ_FIXTURES)) {
    const std::string name = it.path().filename().string();
    if (it.path().extension() != ".zip") continue;
    const std::string source = name.substr(name.find('@') + 1, name.size() - name.find('@') - 5);
    fs::File f;
    uint64_t size = 0;
    ASSERT_EQ(fs::open_read(it.path().c_str(), f, &size), 0) << name;
    FileSource src(f, size);
    ASSERT_EQ(run(src, {}, (root / name).string()), kExitOk) << name << cap.err;
    EXPECT_EQ(tree(root / name), tree(stdfs::path(RDZ_FIXTURES) / source)) << name;
    ++seen;
  }
  EXPECT_GE(seen, 6);  // Python's five and CMake's come whatever else is installed
  fs::File f;
  uint64_t size;
  EXPECT_TRUE(fs::is_missing(fs::open_read((root / "nope.zip").c_str(), f, &size)));
}

TEST(Crc32, AgreesWithZlibAtEveryLengthAndAlignment) {
  const std::string data = filler(70000, 9, false);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (size_t offset : {0, 1, 7, 15}) {
    for (size_t n = 0; n < 600; ++n) {
      const uint32_t seed = static_cast<uint32_t>(n * 2654435761u);
      ASSERT_EQ(crc32_update(seed, bytes + offset, n), crc32(seed, bytes + offset, static_cast<uInt>(n)))
          << offset << " " << n;
    }
  }
  uint32_t crc = 0;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 1000 + 1) {
    crc = crc32_update(crc, bytes + at, std::min(step, data.size() - at));
  }
  EXPECT_EQ(crc, crc32(0, bytes, static_cast<uInt>(data.size())));
}

}  // namespace
}  // namespace rdz
