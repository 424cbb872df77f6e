// What an extraction leaves on the disk and says. Most cases are data, in
// archives/outcomes.txt; what data cannot show is here.
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>

#include "testutil.h"
#include "zipwriter.h"

namespace rdz {
namespace {

using namespace test;

// The files this process holds open: an extraction gives back all it took.
size_t open_handles() {
  size_t n = 0;
  for ([[maybe_unused]] auto& fd : stdfs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(Unpack, ArchivesHaveTheirRecordedOutcome) {
  std::ifstream in(kArchives / "outcomes.txt");
  const size_t handles = open_handles();
  int cases = 0;
  for (std::string head, line; std::getline(in, head);) {
    if (head.empty() || head[0] == '#') continue;
    std::string said;
    while (std::getline(in, line) && !line.empty()) said += line + "\n";
    std::vector<std::string> f;
    for (size_t at = 0, bar; at <= head.size(); at = bar + 3) {
      bar = std::min(head.find(" | ", at), head.size());
      f.push_back(head.substr(at, bar - at));
    }
    SCOPED_TRACE(head.substr(0, 100));
    stdfs::remove_all(target);
    const stdfs::path built = kBuilt / f.at(0);  // else a real writer's, kept as a file
    const int rc = run_case(stdfs::exists(built) ? built : kArchives / f.at(0), f.at(1));  // at(): a torn line fails
    EXPECT_EQ(std::to_string(rc) + " " + std::to_string(totals.workers), f.at(2));
    EXPECT_EQ(listing(target), f.at(3));
    EXPECT_EQ(cap.said, said);
    EXPECT_EQ(open_handles(), handles);
    if (const char* to = std::getenv("RDZ_OUTCOMES_WRITE")) {  // after a deliberate change of behaviour
      std::ofstream(to, std::ios::app) << f[0] << " | " << f[1] << " | " << rc << " " << totals.workers
                                       << " | " << listing(target) << "\n" << cap.said << "\n";
    }
    ++cases;
  }
  EXPECT_GT(cases, 90);
}

TEST_F(Unpack, FilesGetTheirEntrysTime) {
  ASSERT_EQ(run(slurp(kBuilt / "times.zip")), kExitOk) << cap.said;
  struct tm tm {};  // dos: the DOS time 2021-07-04 13:14:16, local
  tm.tm_year = 121, tm.tm_mon = 6, tm.tm_mday = 4, tm.tm_hour = 13, tm.tm_min = 14, tm.tm_sec = 16;
  tm.tm_isdst = -1;
  struct stat unix_st, dos_st;
  ASSERT_EQ(::stat((target / "unix").c_str(), &unix_st) | ::stat((target / "dos").c_str(), &dos_st), 0);
  EXPECT_EQ(unix_st.st_mtime, 1700000000);
  EXPECT_EQ(dos_st.st_mtime, mktime(&tm));
  EXPECT_GT(entry_mtime(zip::Entry{}), 0);  // month 0, day 0 still give a time
}

TEST_F(Unpack, TargetIsMadeWithItsParentsOrRefused) {
  const std::string zip = slurp(kBuilt / "times.zip");
  // A backslash is a separator on Windows only.
  ASSERT_EQ(run(zip, {}, (root / "deep//e\\r/t///").string()), kExitOk) << cap.said;
  EXPECT_EQ(listing(root), "deep/ deep/e\\r/ deep/e\\r/t/ deep/e\\r/t/dos=1 deep/e\\r/t/unix=1");
  EXPECT_EQ(run(slurp(kBuilt / "empty.zip"), {}, "/"), kExitOk) << cap.said;  // a root keeps its separator
  std::ofstream(root / "plain") << "file";
  EXPECT_EQ(run(zip, {}, (root / "plain/sub").string()), kExitTarget);
  EXPECT_EQ(cap.said, "ruduvizide: cannot create target directory " + (root / "plain/sub").string() +
                          ": Not a directory\n");
  EXPECT_EQ(run(zip, {}, root.string() + std::string(4000, '/') + "x"), kExitTarget);
  EXPECT_EQ(cap.said, "ruduvizide: target directory name is too long\n");
}

// A file whose directory, at `cd`, changes once pass one has read it: the
// workers stop with the archive's exit status, and say so once.
struct ChangingSource final : zip::Source {
  ChangingSource(std::string s, uint64_t at) : data(std::move(s)), cd(at) {}
  uint64_t size() const override { return data.size(); }
  bool read(uint64_t offset, void* buf, size_t n) override {
    if (!zip::MemorySource(data.data(), data.size()).read(offset, buf, n)) return false;
    if (offset <= cd && offset + n > cd && cd_reads++ >= 2) static_cast<char*>(buf)[cd - offset] ^= 0x55;
    return true;
  }
  std::string data;
  uint64_t cd;
  std::atomic<int> cd_reads{0};
};

// And an archive of more names than 2^17 still earns its two workers: the
// table of paths that may land on one file grows with it.
TEST_F(Unpack, AnArchiveThatChangesUnderneathStopsTheWorkers) {
  ZipWriter many;
  many.zip64_end = true;
  for (int i = 0; i < 140000; ++i) many.add({{"name", std::to_string(i)}, {"method", "0"}, {"mtime", "none"}});
  const std::string workers = slurp(kBuilt / "workers.zip"), big = many.finish();
  const auto* end = reinterpret_cast<const unsigned char*>(workers.data() + workers.size() - 22);
  ChangingSource sources[] = {{workers, workers.size() - 22 - (end[12] | end[13] << 8)}, {big, many.cd_at}};
  for (ChangingSource& src : sources) {
    EXPECT_EQ(run(src), kExitArchive);
    EXPECT_EQ(totals.workers, 2u);
    const std::string said = "ruduvizide: archive changed while unpacking: ";
    ASSERT_NE(cap.said.find(said), std::string::npos) << cap.said;
    EXPECT_EQ(cap.said.find(said), cap.said.rfind(said));
  }
}

TEST(Crc32, AgreesWithZlibAtEveryLengthAndAlignment) {
  std::vector<unsigned char> data(70000);
  uint32_t x = 1;
  for (unsigned char& c : data) x = x * 1103515245 + 12345, c = static_cast<unsigned char>(x >> 23);
  for (size_t offset : {0, 1, 7, 15}) {
    for (size_t n = 0; n < 600; ++n) {
      const uint32_t seed = static_cast<uint32_t>(n * 2654435761u);
      ASSERT_EQ(crc32_update(seed, &data[offset], n), crc32(seed, &data[offset], static_cast<uInt>(n)));
    }
  }
  uint32_t crc = 0;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 1000 + 1) {
    crc = crc32_update(crc, &data[at], std::min(step, data.size() - at));
  }
  EXPECT_EQ(crc, crc32(0, data.data(), static_cast<uInt>(data.size())));
}

TEST(Cp437, MatchesTheReferenceTable) {  // archives/cp437.txt: Python's codec on 0x20..0xFF
  char raw[224], out[1024];
  for (int c = 0; c < 224; ++c) raw[c] = static_cast<char>(c + 0x20);
  size_t len;
  ASSERT_TRUE(names::cp437_to_utf8({raw, 224}, out, sizeof out, &len));
  EXPECT_EQ(std::string(out, len), slurp(kArchives / "cp437.txt"));
  EXPECT_TRUE(names::cp437_to_utf8("abc", out, 4, &len) && !names::cp437_to_utf8("abcd", out, 4, &len) &&
              !names::cp437_to_utf8("", out, 0, &len));
  EXPECT_FALSE(names::cp437_to_utf8("a\xB0", out, 4, &len));  // 1 + 3 bytes + NUL
}

}  // namespace
}  // namespace rdz
