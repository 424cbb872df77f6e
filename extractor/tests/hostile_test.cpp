// Archives made to hurt: entries that share or overlap their data, headers
// that lie about sizes and counts, streams that expand without end, names
// that collide, and more entries than anyone would ship. Whatever the archive
// does, the extractor must answer with a clear error, keep its work in
// proportion to the archive, and write nothing outside the target.

#include "extract.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "zipbuilder.h"

namespace rdz {
namespace {

namespace stdfs = std::filesystem;
using test::build_zip;
using test::BuildOptions;
using test::put16;
using test::put32;
using test::put64;
using test::TestEntry;

uint32_t crc_of(std::string_view s) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Archives whose records are placed by hand, for layouts no builder makes:
// several directory records may point at one local header, or at data that
// runs over the headers that follow it.
struct Raw {
  std::string body, cd;
  uint64_t count = 0;

  uint64_t local(std::string_view name, uint16_t method, std::string_view packed) {
    uint64_t at = body.size();
    put32(body, 0x04034b50);
    put16(body, 20);
    put16(body, 0x0800);
    put16(body, method);
    put32(body, 0);
    put32(body, 0);  // sizes and CRC live in the directory only
    put32(body, 0);
    put32(body, 0);
    put16(body, static_cast<uint32_t>(name.size()));
    put16(body, 0);
    body += name;
    body += packed;
    return at;
  }
  void central(std::string_view name, uint16_t method, uint32_t crc, uint64_t csize,
               uint64_t usize, uint64_t offset) {
    put32(cd, 0x02014b50);
    put16(cd, 3 << 8 | 20);
    put16(cd, 20);
    put16(cd, 0x0800);
    put16(cd, method);
    put32(cd, test::dos_datetime(2024, 1, 1, 12, 0, 0));
    put32(cd, crc);
    put32(cd, static_cast<uint32_t>(csize));
    put32(cd, static_cast<uint32_t>(usize));
    put16(cd, static_cast<uint32_t>(name.size()));
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put32(cd, 0100644u << 16);
    put32(cd, static_cast<uint32_t>(offset));
    cd += name;
    ++count;
  }
  std::string finish() const {
    std::string out = body + cd;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(count & 0xFFFF));
    put16(out, static_cast<uint32_t>(count & 0xFFFF));
    put32(out, static_cast<uint32_t>(cd.size()));
    put32(out, static_cast<uint32_t>(body.size()));
    put16(out, 0);
    return out;
  }
};

// A source that counts what is asked of it, so that a test can bound the
// work an archive causes without measuring time. Workers read at once.
class CountingSource final : public zip::Source {
 public:
  CountingSource(const std::string& s) : mem_(s.data(), s.size()) {}
  uint64_t size() const override { return mem_.size(); }
  bool read(uint64_t offset, void* buf, size_t n) override {
    reads.fetch_add(1, std::memory_order_relaxed);
    bytes.fetch_add(n, std::memory_order_relaxed);
    return mem_.read(offset, buf, n);
  }
  std::atomic<uint64_t> reads{0}, bytes{0};

 private:
  zip::MemorySource mem_;
};

class Capture final : public Reporter {
 public:
  void info(std::string_view line) override {
    out += line;
    ++lines;
  }
  void error(std::string_view line) override {
    err += line;
    ++lines;
  }
  std::string out, err;
  uint64_t lines = 0;
};

TestEntry file(std::string name, std::string data) {
  TestEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  e.unix_mtime = 1700000000;
  return e;
}

std::string slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rdz-hostile-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root = tmpl;
    target = root / "target";
  }
  void TearDown() override { stdfs::remove_all(root); }

  int run(const std::string& zip, int quiet = 2) {
    CountingSource src(zip);
    int rc = run(src, quiet);
    reads = src.reads;
    bytes_read = src.bytes;
    return rc;
  }
  int run(zip::Source& src, int quiet = 2) {
    cap = Capture{};
    totals = Totals{};
    cli::Options opt;
    opt.quiet = quiet;
    Workspace* crew[] = {ws[0].get(), ws[1].get()};
    return extract(src, target.string(), opt, crew, 2, cap, &totals);
  }

  // Nothing may appear beside the target, whatever happened inside it.
  void expect_nothing_outside() {
    std::vector<std::string> names;
    for (auto& it : stdfs::directory_iterator(root)) names.push_back(it.path().filename());
    EXPECT_TRUE(names.empty() || names == std::vector<std::string>{"target"})
        << "found beside the target: " << names.front();
  }
  uint64_t bytes_on_disk() {
    uint64_t total = 0;
    if (!stdfs::exists(target)) return 0;
    for (auto& it : stdfs::recursive_directory_iterator(target)) {
      if (it.is_regular_file()) total += it.file_size();
    }
    return total;
  }

  // Two workers, as the stub runs on two processors: big archives are then
  // unpacked by both at once.
  std::unique_ptr<Workspace> ws[2] = {std::make_unique<Workspace>(), std::make_unique<Workspace>()};
  stdfs::path root, target;
  Capture cap;
  Totals totals;
  uint64_t reads = 0, bytes_read = 0;
};

// --- Entries that share or overlap their data ------------------------------

// Each entry's stored data runs over every later local header and a shared
// kernel, so n entries unpack to about n times the archive: the overlapping
// construction behind the best-known non-recursive zip bombs.
std::string overlapping_stored(int n, size_t kernel_size, uint64_t* unpacked) {
  const std::string kernel(kernel_size, 'K');
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back("f" + std::to_string(1000 + i));
  Raw r;
  std::vector<uint64_t> offsets;
  for (const std::string& name : names) offsets.push_back(r.local(name, 0, ""));
  r.body += kernel;
  *unpacked = 0;
  for (int i = 0; i < n; ++i) {
    const uint64_t data = offsets[i] + 30 + names[i].size();
    std::string_view bytes(r.body.data() + data, r.body.size() - data);
    r.central(names[i], 0, crc_of(bytes), bytes.size(), bytes.size(), offsets[i]);
    *unpacked += bytes.size();
  }
  return r.finish();
}

TEST_F(Hostile, EntriesWhoseDataOverlapAreRefused) {
  uint64_t unpacked = 0;
  std::string zip = overlapping_stored(200, 64 * 1024, &unpacked);
  ASSERT_GT(unpacked, 150 * zip.size());  // what a naive reader would write
  EXPECT_EQ(run(zip), kExitArchive);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_NE(cap.err.find("overlap"), std::string::npos) << cap.err;
  expect_nothing_outside();
}

// Many directory records naming one local header: every one of them inflates
// the same stream again.
std::string one_entry_many_times(int n, size_t usize) {
  const std::string data(usize, '\0');
  const std::string packed = test::deflate_raw(data, 9);
  Raw r;
  const uint64_t at = r.local("same", 8, packed);
  for (int i = 0; i < n; ++i) r.central("same", 8, crc_of(data), packed.size(), usize, at);
  return r.finish();
}

TEST_F(Hostile, OneLocalEntryNamedByManyRecordsIsRefused) {
  std::string zip = one_entry_many_times(400, 1 << 20);
  EXPECT_EQ(run(zip), kExitArchive);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_LT(totals.bytes, 2u << 20);
  expect_nothing_outside();
}

// Two records naming one local header under different names: the local
// header's name gives the second away, or the shared bytes refuse the whole
// archive; either way no file appears under the second name.
TEST_F(Hostile, TwoNamesForOneLocalHeaderNeverWriteTheImpostor) {
  Raw r;
  const std::string data = "shared";
  const uint64_t at = r.local("real", 0, data);
  r.central("real", 0, crc_of(data), data.size(), data.size(), at);
  r.central("impostor", 0, crc_of(data), data.size(), data.size(), at);
  const int rc = run(r.finish());
  EXPECT_FALSE(stdfs::exists(target / "impostor"));
  if (rc == kExitEntries) {
    EXPECT_EQ(slurp(target / "real"), "shared");
    EXPECT_NE(cap.err.find("impostor: damaged entry: local header names a different file"),
              std::string::npos) << cap.err;
  } else {
    EXPECT_EQ(rc, kExitArchive) << cap.err;
    EXPECT_FALSE(stdfs::exists(target));
  }
  expect_nothing_outside();
}

// --- Records that point outside the file ------------------------------------

TEST_F(Hostile, RecordsPointingOutsideTheArchiveAreRefusedBeforeAnyWrite) {
  const std::string good = build_zip({file("a", "first"), file("b", "second")});
  zip::MemorySource probe_src(good.data(), good.size());
  zip::Archive ar;
  std::vector<unsigned char> scratch(zip::kOpenScratch);
  ASSERT_EQ(zip::open(probe_src, &ar, scratch.data(), scratch.size()), zip::Error::none);
  const size_t cd = static_cast<size_t>(ar.cd_begin);
  auto u16 = [&](size_t at) {
    return static_cast<size_t>(static_cast<uint8_t>(good[at]) | static_cast<uint8_t>(good[at + 1]) << 8);
  };
  const size_t second = cd + 46 + u16(cd + 28) + u16(cd + 30) + u16(cd + 32);

  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  };
  const Case cases[] = {
      {"local header beyond the data", second + 42, 0x00FFFFFF},
      {"local header inside the directory", second + 42, static_cast<uint32_t>(cd - 10)},
      {"local header at the very end", second + 42, 0xFFFFFFFE},
      {"compressed size past the directory", second + 20, 0x7FFFFFFF},
      {"compressed size of all ones without Zip64", second + 20, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string s = good;
    for (int i = 0; i < 4; ++i) s[c.at + i] = static_cast<char>((c.value >> (8 * i)) & 0xFF);
    stdfs::remove_all(target);
    EXPECT_EQ(run(s), kExitArchive);
    EXPECT_FALSE(stdfs::exists(target));
    EXPECT_NE(cap.err.find("damaged archive"), std::string::npos) << cap.err;
    expect_nothing_outside();
  }
}

TEST_F(Hostile, LocalExtraFieldRunningIntoTheDirectoryFailsThatEntry) {
  std::string s = build_zip({file("a", "first"), file("b", "second")});
  s[28] = '\x00';
  s[29] = '\xF0';  // the first local header's extra field claims 61440 bytes
  EXPECT_EQ(run(s), kExitEntries);
  EXPECT_FALSE(stdfs::exists(target / "a"));
  EXPECT_EQ(slurp(target / "b"), "second");
  EXPECT_NE(cap.err.find("a: damaged entry: entry data lies outside the archive"),
            std::string::npos) << cap.err;
  expect_nothing_outside();
}

TEST_F(Hostile, DirectoryOffsetThatMissesTheHeadersFailsEveryEntry) {
  BuildOptions opt;
  opt.prefix = std::string(4096, 'S');
  opt.cd_offset_delta = 1000;  // every local header is looked for 1000 bytes early
  EXPECT_EQ(run(build_zip({file("a", "1"), file("b/c", "2")}, opt)), kExitEntries);
  EXPECT_EQ(totals.files, 0u);
  EXPECT_EQ(totals.failed, 2u);
  EXPECT_EQ(bytes_on_disk(), 0u);
  expect_nothing_outside();
}

// --- A directory that lies about its size or its count ----------------------

TEST_F(Hostile, EndRecordsThatLieAreRefusedBeforeAnyWrite) {
  std::vector<TestEntry> two = {file("a", "1"), file("b", "2")};
  struct Case {
    const char* what;
    std::string zip;
    const char* message;
  };
  std::vector<Case> cases;
  BuildOptions opt;
  opt.declared_entries = 3;
  cases.push_back({"one entry more", build_zip(two, opt),
                   "end of central directory record is inconsistent"});
  opt.declared_entries = 0;
  cases.push_back({"none at all", build_zip(two, opt), "different number of entries"});
  opt.declared_entries = 0xFFFF;
  cases.push_back({"more than the directory can hold", build_zip(two, opt),
                   "end of central directory record is inconsistent"});
  opt = {};
  opt.zip64_end = true;
  opt.declared_entries = uint64_t{1} << 40;
  cases.push_back({"Zip64 count beyond the directory", build_zip(two, opt), "Zip64 end"});
  opt.declared_entries = 1;
  cases.push_back({"Zip64 count one short", build_zip(two, opt), "different number of entries"});
  {
    // The directory said to be 10 bytes longer than it is: it then starts
    // inside the last entry's data.
    std::string s = build_zip(two);
    const size_t eocd = s.size() - 22;
    uint32_t size = static_cast<uint8_t>(s[eocd + 12]) | static_cast<uint8_t>(s[eocd + 13]) << 8;
    size += 10;
    s[eocd + 12] = static_cast<char>(size & 0xFF);
    s[eocd + 13] = static_cast<char>(size >> 8);
    cases.push_back({"directory size too large", s,
                     "end of central directory record is inconsistent"});
    size -= 20;
    s[eocd + 12] = static_cast<char>(size & 0xFF);
    s[eocd + 13] = static_cast<char>(size >> 8);
    cases.push_back({"directory size too small", s, "damaged archive"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stdfs::remove_all(target);
    EXPECT_EQ(run(c.zip), kExitArchive);
    EXPECT_FALSE(stdfs::exists(target));
    EXPECT_NE(cap.err.find(c.message), std::string::npos) << cap.err;
    expect_nothing_outside();
  }
}

// Sizes in the directory that disagree with the data: the entry fails,
// nothing under its name, its neighbours unharmed.
TEST_F(Hostile, SizesThatLieFailOnlyTheirEntry) {
  struct Case {
    const char* what;
    void (*spoil)(TestEntry&);
    const char* message;
  };
  const Case cases[] = {
      {"compressed size cut short", [](TestEntry& e) {
         e.csize = test::deflate_raw(e.data).size() / 2; }, "compressed data ends early"},
      {"original size far too large", [](TestEntry& e) { e.usize = uint64_t{1} << 31; },
       "data is shorter than declared"},
      {"original size zero", [](TestEntry& e) { e.usize = 0; }, "data is longer than declared"},
      {"Zip64 sizes beyond the file", [](TestEntry& e) {
         e.zip64 = true; e.usize = uint64_t{1} << 62; }, "data is shorter than declared"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stdfs::remove_all(target);
    TestEntry victim = file("victim", std::string(20000, 'v'));
    c.spoil(victim);
    EXPECT_EQ(run(build_zip({victim, file("fine", "ok")})), kExitEntries);
    EXPECT_FALSE(stdfs::exists(target / "victim"));
    EXPECT_EQ(slurp(target / "fine"), "ok");
    EXPECT_NE(cap.err.find(std::string("victim: not unpacked: ") + c.message), std::string::npos)
        << cap.err;
    expect_nothing_outside();
  }
}

// A compressed size larger than the stream: the stream's own end decides,
// and the bytes after it are never taken for data.
TEST_F(Hostile, CompressedSizeLongerThanTheStreamIsHarmless) {
  TestEntry e = file("padded", std::string(5000, 'p'));
  e.payload = test::deflate_raw(e.data) + std::string(100, 'Z');
  EXPECT_EQ(run(build_zip({e})), kExitOk) << cap.err;
  EXPECT_EQ(slurp(target / "padded"), std::string(5000, 'p'));
}

// --- Streams that expand far beyond what they declare ----------------------

TEST_F(Hostile, DeflateBombStopsWithinOneBufferOfItsDeclaredSize) {
  // 256 MiB of zeros in about 250 KB, declared as 1000 bytes.
  TestEntry bomb = file("bomb", "");
  bomb.payload = test::deflate_raw(std::string(256u << 20, '\0'), 9);
  bomb.usize = 1000;
  const std::string zip = build_zip({bomb});
  ASSERT_LT(zip.size(), 300u * 1024);
  EXPECT_EQ(run(zip), kExitEntries);
  EXPECT_NE(cap.err.find("bomb: not unpacked: data is longer than declared"), std::string::npos)
      << cap.err;
  EXPECT_FALSE(stdfs::exists(target / "bomb"));
  EXPECT_EQ(bytes_on_disk(), 0u);
  // Stopped after the first input buffer, not after reading the whole stream.
  EXPECT_LT(bytes_read, 200u * 1024);
  expect_nothing_outside();
}

TEST_F(Hostile, StoredEntryCannotReachPastItsDeclaredSize) {
  // Stored data is copied by its size, so extra bytes are simply not read;
  // a lying CRC is what gives the shortened copy away.
  TestEntry e = file("stored", std::string(1000, 's'));
  e.method = 0;
  e.usize = e.csize = 10;
  EXPECT_EQ(run(build_zip({e})), kExitEntries);
  EXPECT_NE(cap.err.find("stored: not unpacked: CRC-32 mismatch"), std::string::npos) << cap.err;
  EXPECT_FALSE(stdfs::exists(target / "stored"));
}

// --- Names that collide ------------------------------------------------------

TEST_F(Hostile, DuplicateNamesAreRefusedBeforeAnyWrite) {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 50; ++i) entries.push_back(file("d/same.txt", "version " + std::to_string(i)));
  EXPECT_EQ(run(build_zip(entries)), kExitEntries) << cap.err;
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_EQ(totals.refused, 49u);
  expect_nothing_outside();
}

TEST_F(Hostile, AFileAndADirectoryOfOneNameAreRefusedBeforeAnyWrite) {
  EXPECT_EQ(run(build_zip({file("x", "file first"), test::dir_entry("x/"), file("x/y", "under")})),
            kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_EQ(run(build_zip({test::dir_entry("x/"), file("x/y", "under"), file("x", "file later")})),
            kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_NE(cap.err.find("x: refused: another entry names the same file"), std::string::npos)
      << cap.err;
  expect_nothing_outside();
}

// On Windows "Readme.txt" and "README.TXT" are one file and "Lib/" and "lib"
// collide; here they are two. The name rules promise one outcome on every
// system, so names equal but for case should be refused everywhere, before
// anything is written.
TEST_F(Hostile, NamesThatDifferOnlyInCaseAreRefusedEverywhere) {
  EXPECT_EQ(run(build_zip({file("Readme.txt", "one"), file("README.TXT", "two")})), kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_NE(cap.err.find("README.TXT: refused"), std::string::npos) << cap.err;

  EXPECT_EQ(run(build_zip({test::dir_entry("Lib/"), file("Lib/a", "a"), file("lib", "file")})),
            kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
}

// --- Names that try to leave ------------------------------------------------

TEST_F(Hostile, NamesThatTryToLeaveAreRefusedInEveryEncoding) {
  struct Case {
    const char* what;
    TestEntry entry;
  };
  std::vector<Case> cases;
  cases.push_back({"parent after a directory", file("a/../../x", "evil")});
  cases.push_back({"dot components first", file("././../x", "evil")});
  cases.push_back({"backslash parent", file("a\\..\\..\\x", "evil")});
  cases.push_back({"NUL inside the name", file(std::string("ok\0/../../x", 11), "evil")});
  cases.push_back({"drive relative", file("C:x", "evil")});
  cases.push_back({"UNC", file("\\\\host\\share\\x", "evil")});
  cases.push_back({"alternate data stream", file("x:stream", "evil")});
  {
    TestEntry dos = file("..\\..\\x", "evil");  // CP437 from a DOS host
    dos.flags = 0;
    dos.made_by = zip::host::kDos << 8 | 20;
    dos.external_attr = 0x20;
    cases.push_back({"DOS host", dos});
  }
  {
    // A harmless stored name with a Unicode Path field that climbs out.
    const std::string stored = "harmless.txt";
    const std::string evil = "../../evil.txt";
    std::string up;
    put16(up, 0x7075);
    put16(up, static_cast<uint32_t>(5 + evil.size()));
    up += '\x01';
    put32(up, crc_of(stored));
    up += evil;
    TestEntry e = file(stored, "evil");
    e.flags = 0;
    e.made_by = zip::host::kDos << 8 | 20;
    e.cd_extra = up;
    cases.push_back({"Unicode Path field", e});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stdfs::remove_all(target);
    EXPECT_EQ(run(build_zip({file("first", "ok"), c.entry})), kExitEntries);
    EXPECT_FALSE(stdfs::exists(target));
    EXPECT_NE(cap.err.find("refused"), std::string::npos) << cap.err;
    EXPECT_FALSE(stdfs::exists(root / "x"));
    EXPECT_FALSE(stdfs::exists(root / "evil.txt"));
    expect_nothing_outside();
  }
}

// --- More entries than anyone would ship ------------------------------------

constexpr int kMillion = 1000000;

// Entries built directly, as the builder would take minutes for a million:
// stored, empty, in a Zip64 archive as writers make one past 65535 entries.
std::string entries(int n, const std::string& (*name_of)(int, std::string*),
                    uint32_t attr = 0100644u << 16) {
  std::string body, cd, scratch;
  body.reserve(static_cast<size_t>(n) * 40);
  cd.reserve(static_cast<size_t>(n) * 56);
  for (int i = 0; i < n; ++i) {
    const std::string& name = name_of(i, &scratch);
    const uint64_t at = body.size();
    put32(body, 0x04034b50);
    put16(body, 20);
    put16(body, 0x0800);
    put16(body, 0);
    put32(body, 0);
    put32(body, 0);
    put32(body, 0);
    put32(body, 0);
    put16(body, static_cast<uint32_t>(name.size()));
    put16(body, 0);
    body += name;
    put32(cd, 0x02014b50);
    put16(cd, 3 << 8 | 20);
    put16(cd, 20);
    put16(cd, 0x0800);
    put16(cd, 0);
    put32(cd, test::dos_datetime(2024, 1, 1, 12, 0, 0));
    put32(cd, 0);
    put32(cd, 0);
    put32(cd, 0);
    put16(cd, static_cast<uint32_t>(name.size()));
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put32(cd, attr);
    put32(cd, static_cast<uint32_t>(at));
    cd += name;
  }
  std::string out = std::move(body);
  const uint64_t cd_offset = out.size();
  out += cd;
  const uint64_t end64 = out.size();
  put32(out, 0x06064b50);
  put64(out, 44);
  put16(out, 45);
  put16(out, 45);
  put32(out, 0);
  put32(out, 0);
  put64(out, static_cast<uint64_t>(n));
  put64(out, static_cast<uint64_t>(n));
  put64(out, cd.size());
  put64(out, cd_offset);
  put32(out, 0x07064b50);
  put32(out, 0);
  put64(out, end64);
  put32(out, 1);
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, 0xFFFF);
  put16(out, 0xFFFF);
  put32(out, 0xFFFFFFFF);
  put32(out, 0xFFFFFFFF);
  put16(out, 0);
  return out;
}

size_t heap_in_use() { return mallinfo2().uordblks; }

// A million records that all name the target itself: the directory is read
// twice and nothing touches the disk. Work and memory must follow the
// archive's size, not its square, and the heap must not grow per entry.
TEST_F(Hostile, AMillionEntriesAreWalkedInBoundedWorkAndMemory) {
  const std::string zip = entries(kMillion, [](int, std::string*) -> const std::string& {
    static const std::string here = "./";
    return here;
  }, 040755u << 16);
  ASSERT_EQ(run(build_zip({file("warm", "up")})), kExitOk);  // one-time allocations
  stdfs::remove_all(target);
  const size_t heap_before = heap_in_use();
  EXPECT_EQ(run(zip, 0), kExitOk) << cap.err.substr(0, 500);
  const size_t heap_after = heap_in_use();
  EXPECT_EQ(totals.files, 0u);
  EXPECT_EQ(totals.dirs, 0u);
  EXPECT_EQ(totals.failed, 0u);
  // The directory twice, each local header not at all: no more than three
  // times the archive, in large reads rather than one per entry.
  EXPECT_LT(bytes_read, 3 * zip.size());
  EXPECT_LT(reads, 1000u);
  EXPECT_LT(heap_after, heap_before + (1u << 20));
  EXPECT_LE(cap.lines, 1u);  // the summary
  expect_nothing_outside();
}

// Many empty files, each written: every local header is read once, in a
// constant number of reads per entry. Twenty thousand rather than a million:
// past that the test only measures the file system (a million files take one
// to several minutes to create and remove here), while the reader's side is
// walked a million times over by the tests around this one.
TEST_F(Hostile, ManyEmptyFilesAreAllWrittenInConstantWorkEach) {
  constexpr int kFiles = 20000;
  const std::string zip = entries(kFiles, [](int i, std::string* s) -> const std::string& {
    *s = "d" + std::to_string(i / 200) + "/f" + std::to_string(i % 200);
    return *s;
  });
  const size_t heap_before = heap_in_use();
  EXPECT_EQ(run(zip), kExitOk) << cap.err.substr(0, 500);
  EXPECT_LT(heap_in_use(), heap_before + (1u << 20));
  EXPECT_EQ(totals.files, static_cast<uint64_t>(kFiles));
  EXPECT_EQ(totals.workers, 2u);  // the parallel path, not the ordered one
  EXPECT_EQ(totals.bytes, 0u);
  // Each worker walks the directory itself, twice at most: a few times the
  // archive, where re-reading per entry would be thousands of times.
  EXPECT_LT(bytes_read, 8 * zip.size());
  EXPECT_LE(reads, 3u * kFiles);
  size_t count = 0;
  for (auto& it : stdfs::recursive_directory_iterator(target)) count += it.is_regular_file();
  EXPECT_EQ(count, static_cast<size_t>(kFiles));
  EXPECT_TRUE(cap.err.empty()) << cap.err.substr(0, 500);
  expect_nothing_outside();
}

// A million refused entries: refused before any write, with a report that
// stays readable instead of a million lines on a console.
TEST_F(Hostile, AMillionRefusedEntriesGiveABoundedReport) {
  const std::string zip = entries(kMillion, [](int, std::string*) -> const std::string& {
    static const std::string evil = "../x";
    return evil;
  });
  EXPECT_EQ(run(zip), kExitEntries);
  EXPECT_FALSE(stdfs::exists(target));
  EXPECT_EQ(totals.refused, static_cast<uint64_t>(kMillion));
  EXPECT_NE(cap.err.find("1000000 entries refused; nothing was unpacked"), std::string::npos);
  EXPECT_NE(cap.err.find("... and 999900 more refused entries"), std::string::npos);
  EXPECT_LT(cap.lines, 1000u);
  expect_nothing_outside();
}

}  // namespace
}  // namespace rdz
