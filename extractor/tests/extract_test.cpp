// What an extraction leaves on the disk and says. Most cases are data, in
// archives/outcomes.txt; what data cannot show is here.
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

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
  struct stat unix_st, dos_st, access_st;
  ASSERT_EQ(::stat((target / "unix").c_str(), &unix_st) | ::stat((target / "dos").c_str(), &dos_st) |
                ::stat((target / "access").c_str(), &access_st), 0);
  EXPECT_EQ(unix_st.st_mtime, 1700000000);
  EXPECT_EQ(std::pair(dos_st.st_mtime, access_st.st_mtime), std::pair(mktime(&tm), mktime(&tm)));
  EXPECT_GT(entry_mtime(zip::Entry{}), 0);  // month 0, day 0 still give a time
}

TEST_F(Unpack, TargetIsMadeWithItsParentsOrRefused) {
  const std::string zip = slurp(kBuilt / "times.zip");
  // A backslash is a separator on Windows only.
  ASSERT_EQ(run(zip, {}, (root / "deep//e\\r/t///").string()), kExitOk) << cap.said;
  EXPECT_EQ(listing(root),
            "deep/ deep/e\\r/ deep/e\\r/t/ deep/e\\r/t/access=1 deep/e\\r/t/dos=1 deep/e\\r/t/unix=1");
  EXPECT_EQ(run(slurp(kBuilt / "empty.zip"), {}, "/"), kExitOk) << cap.said;  // a root keeps its separator
  std::ofstream(root / "plain") << "file";
  for (const char* t : {"plain: not a directory", "plain/sub: Not a directory"}) {  // said by us, by the system
    EXPECT_EQ(run(zip, {}, (root / t).string().substr(0, (root / t).string().find(':'))), kExitTarget);
    EXPECT_EQ(cap.said, "ruduvizide: cannot create target directory " + (root / t).string() + "\n");
  }
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

TEST(NativeHost, ReservesUpToTheHardDescriptorLimit) {  // the soft one is but a default
  rlimit was, low;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
  if (low = {64, was.rlim_max}; was.rlim_max < 256 || ::setrlimit(RLIMIT_NOFILE, &low) != 0) GTEST_SKIP();
  EXPECT_GT(sys::NativeHost().reserve_handles(256), 64u);
  ::setrlimit(RLIMIT_NOFILE, &was);
}

// The real system, except that the file of time kSlow is finished only once
// all other files are in place: its worker falls far behind the other,
// however loaded the machine (or after 60 s, when the other never comes).
class SlowFirstHost final : public Host {
  sys::NativeHost real_;
  std::mutex m_;
  std::condition_variable moved_;
  int renamed_ = 0;

 public:
  static constexpr int64_t kSlow = 1234567;
  Err set_mtime(Handle f, int64_t t) override {
    std::unique_lock<std::mutex> hold(m_);
    if (t == kSlow) held_up = moved_.wait_for(hold, std::chrono::seconds(60), [&] { return renamed_ == others; });
    return real_.set_mtime(f, t);
  }
  Err rename_over(Handle d, Handle f, const char* temp, const char* final) override {
    const Err e = real_.rename_over(d, f, temp, final);
    std::lock_guard<std::mutex> hold(m_);
    ++renamed_;
    moved_.notify_all();
    return e;
  }
#define RDZ_PASS(name, params, args) \
  auto name params -> decltype(real_.name args) override { return real_.name args; }
  RDZ_PASS(error_text, (Err e, char* b, size_t n), (e, b, n)) RDZ_PASS(kind_of, (Err e), (e))
  RDZ_PASS(make_dir, (const char* p, bool* m), (p, m)) RDZ_PASS(open_target, (const char* p, Handle* d), (p, d))
  RDZ_PASS(open_dir, (Handle d, const char* n, bool c, Handle* o, bool* m), (d, n, c, o, m))
  RDZ_PASS(close_dir, (Handle d), (d)) RDZ_PASS(flush_dirs, (const Handle* d, size_t n), (d, n))
  RDZ_PASS(list_dir, (Handle d, void (*fn)(void*, const char*), void* c), (d, fn, c))
  RDZ_PASS(create_new, (Handle d, const char* n, Handle* f), (d, n, f))
  RDZ_PASS(write_all, (Handle f, const void* b, size_t n), (f, b, n))
  RDZ_PASS(flush_files, (const Handle* f, size_t n), (f, n)) RDZ_PASS(close, (Handle f), (f))
  RDZ_PASS(remove_file, (Handle d, const char* n), (d, n)) RDZ_PASS(remove_leftover, (Handle d, const char* n), (d, n))
  RDZ_PASS(device_of, (Handle h, bool d, uint64_t* v), (h, d, v)) RDZ_PASS(stat, (Handle d, const char* n, Stat* s), (d, n, s))
  RDZ_PASS(random, (void* b, size_t n), (b, n)) RDZ_PASS(sleep_ms, (unsigned ms), (ms))
  RDZ_PASS(local_time_to_unix, (int y, int mo, int d, int h, int mi, int s, int64_t* t), (y, mo, d, h, mi, s, t))
  RDZ_PASS(start_thread, (unsigned s, void (*fn)(void*), void* a), (s, fn, a)) RDZ_PASS(join_thread, (unsigned s), (s))
  RDZ_PASS(lock, (), ()) RDZ_PASS(unlock, (), ()) RDZ_PASS(wait, (), ()) RDZ_PASS(notify_all, (), ())
  RDZ_PASS(flush_covers_names, (Handle h), (h)) RDZ_PASS(reserve_handles, (size_t n), (n))
  RDZ_PASS(start_writeback, (Handle f, uint64_t at, uint64_t n), (f, at, n))
#undef RDZ_PASS
  int others = 0;
  bool held_up = false;
};

TEST_F(Unpack, LinesComeInArchiveOrderThoughTheFirstEntryIsFinishedLast) {
  const std::string zip = slurp(kBuilt / "slow-first.zip");
  zip::MemorySource src(zip.data(), zip.size());
  SlowFirstHost host;
  host.others = 5;
  Workspace* crew[] = {&ws[0], &ws[1]};
  EXPECT_EQ(extract(host, src, target.string(), {}, crew, 2, cap, &totals), kExitEntries);
  EXPECT_TRUE(host.held_up);
  EXPECT_EQ(cap.said, "   unpacked: first\n   unpacked: f0\n   unpacked: f1\n"
                      "ruduvizide: f2: not unpacked: CRC-32 mismatch\n   unpacked: f3\n   unpacked: f4\n"
                      "   unpacked: f5\nruduvizide: 6 files unpacked (2097157 bytes), 0 directories\n"
                      "ruduvizide: 1 entry was not unpacked\n");
}

TEST(System, CutsAMessageToItsBufferAndClosesAFileWhenDone) {
  char text[64];
  sys::error_text(ENOENT, text, sizeof text);
  const std::string whole = text;  // as long as the next buffer: it loses its last letter
  std::memset(text, '#', sizeof text);
  sys::error_text(ENOENT, text, whole.size());
  EXPECT_EQ(std::string(text, whole.size() + 1), whole.substr(0, whole.size() - 1) + '\0' + '#');
  const size_t handles = open_handles();
  {
    sys::File f;
    uint64_t size;
    ASSERT_EQ(sys::open_read("/proc/self/exe", f, &size), 0);
  }
  EXPECT_EQ(open_handles(), handles);
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
