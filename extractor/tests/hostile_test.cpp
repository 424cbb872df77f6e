// Archives made to hurt. Whatever the archive does, the extractor must answer
// with a clear error, keep its work in proportion to the archive, and write
// nothing outside the target; a refused archive writes nothing at all.
#include <malloc.h>

#include "testutil.h"

namespace rdz {
namespace {

using namespace test;

// A source that counts what is asked of it, to bound the work an archive
// causes without measuring time. Workers read at once.
class CountingSource final : public zip::Source {
 public:
  explicit CountingSource(const std::string& s) : mem_(s.data(), s.size()) {}
  uint64_t size() const override { return mem_.size(); }
  bool read(uint64_t offset, void* buf, size_t n) override {
    reads.fetch_add(1), bytes.fetch_add(n);
    return mem_.read(offset, buf, n);
  }
  std::atomic<uint64_t> reads{0}, bytes{0};

 private:
  zip::MemorySource mem_;
};

struct Case {
  const char* what;
  std::string zip;
  int rc;
  const char* message;
};

class Hostile : public Unpack {
 protected:
  void expect(const Case& c, bool nothing_written) {
    SCOPED_TRACE(c.what);
    stdfs::remove_all(target);
    cli::Options opt;
    opt.quiet = 2;  // refusals are shown even then
    EXPECT_EQ(run(c.zip, opt), c.rc);
    EXPECT_NE(cap.err.find(c.message), std::string::npos) << cap.err;
    EXPECT_TRUE(only_target());
    if (nothing_written) { EXPECT_FALSE(stdfs::exists(target)); }
  }
};

// Names an entry may not have, and names given twice: the archive is refused
// before anything is written, each offender named with its reason.
TEST_F(Hostile, RefusedEntriesStopEverythingBeforeAnyWrite) {
  auto with = [](std::vector<TestEntry> bad) {
    bad.insert(bad.begin(), file("first", "written only if all is well"));
    return build_zip(bad);
  };
  auto odd = [](const char* name, void (*f)(TestEntry&)) {
    TestEntry e = file(name, "evil");
    f(e);
    return e;
  };
  std::string up;  // a Unicode Path field that climbs out of a harmless name
  put(up, 0x7075, 2), put(up, 15, 2), put(up, 1, 1), put(up, 0x9E5777C3, 4), up += "../../evil";
  TestEntry climbs = file("harmless", "evil"), dos = file("..\\..\\x", "evil");
  climbs.flags = dos.flags = 0;
  climbs.made_by = dos.made_by = 0;
  climbs.cd_extra = up;
  std::vector<TestEntry> fifty;
  for (int i = 0; i < 50; ++i) fifty.push_back(file("d/same", std::to_string(i)));
  const Case cases[] = {
      {"parent", with({file("a/../../x", "")}), kExitEntries, "ruduvizide: a/../../x: refused: \"..\" component"},
      {"backslash", with({file("a\\..\\..\\x", "")}), kExitEntries, "a\\..\\..\\x: refused: \"..\" component"},
      {"absolute", with({file("/abs", "")}), kExitEntries, "/abs: refused: absolute path"},
      {"UNC", with({file("\\\\host\\s\\x", "")}), kExitEntries, "refused: absolute path"},
      {"drive", with({file("C:x", "")}), kExitEntries, "C:x: refused: drive letter"},
      {"NUL inside", with({file(std::string("ok\0/../../x", 11), "")}), kExitEntries, "ok?/../../x: refused: "},
      {"DOS host", with({dos}), kExitEntries, "refused: \"..\" component"},
      {"Unicode Path", with({climbs}), kExitEntries, "refused: \"..\" component"},
      {"device", with({file("aux.txt", "")}), kExitEntries, "aux.txt: refused: reserved device name"},
      {"stream", with({file("ab:stream", "")}), kExitEntries, "ab:stream: refused: character not allowed"},
      {"escape", with({file("a\x1b[2J", "")}), kExitEntries, "a?[2J: refused: control character"},
      {"dot", with({file("dir./x", "")}), kExitEntries, "dir./x: refused: component ends in a dot"},
      {"bad UTF-8", with({file("bad\xFF", "")}), kExitEntries, "bad?: refused: name flagged UTF-8 is not"},
      {"link", with({odd("link", [](TestEntry& e) { e.external_attr = 0120777u << 16; })}),
       kExitEntries, "link: refused: symbolic links"},
      {"fifo", with({odd("fifo", [](TestEntry& e) { e.external_attr = 0010644u << 16; })}),
       kExitEntries, "fifo: refused: special files"},
      {"encrypted", with({odd("secret", [](TestEntry& e) { e.flags |= 1; })}), kExitEntries,
       "secret: refused: encrypted"},
      {"method", with({odd("bz", [](TestEntry& e) { e.method = 12; })}), kExitEntries,
       "bz: refused: unsupported compression method 12\n"},
      {"stored sizes", with({odd("st", [](TestEntry& e) { e.method = 0, e.usize = 3; })}), kExitEntries,
       "st: refused: stored entry with differing"},
      {"twice", with(fifty), kExitEntries, "d/same: refused: another entry names the same file"},
      {"case", with({file("Readme", "1"), file("README", "2")}), kExitEntries, "README: refused: another"},
      {"file, then a directory", with({file("x", ""), dir("x/"), file("x/y", "")}), kExitEntries,
       "refused: another entry"},
      {"directory, then a file", with({file("Lib/y", ""), file("lib", "")}), kExitEntries,
       "lib: refused: another entry"},
      {"directory, then a file of its name in a subfolder", with({file("a/b/c", ""), file("a/B", "")}),
       kExitEntries, "a/B: refused: another entry"},
  };
  for (const Case& c : cases) expect(c, true);
  EXPECT_EQ(totals.refused, 1u);
  EXPECT_EQ(cap.err, "ruduvizide: a/B: refused: another entry names the same file (letter case "
                     "aside)\nruduvizide: 1 entry refused; nothing was unpacked\n");
  ASSERT_EQ(run(build_zip({dir("d/"), dir("D/"), file("d/x", "1")})), kExitOk) << cap.err;
}

// Headers that lie about where things are or how many there are.
TEST_F(Hostile, LyingHeadersAreCaught) {
  const std::vector<TestEntry> two = {file("a", "first"), file("b", "second")};
  const std::string good = build_zip(two);
  const size_t eocd = good.size() - 22, second = eocd - 56;
  auto patched = [&](size_t at, uint32_t v, std::string s, int n = 4) {
    for (int i = 0; i < n; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  BuildOptions more, none, z64far, z64short, missed;
  more.declared_entries = 3, none.declared_entries = 0;
  z64far.zip64_end = z64short.zip64_end = true;
  z64far.declared_entries = uint64_t{1} << 40, z64short.declared_entries = 1;
  missed.prefix = std::string(4096, 'S'), missed.cd_offset_delta = 1000;
  const Case cases[] = {
      {"not an archive", "not an archive at all, but long enough to look", kExitArchive,
       "ruduvizide: cannot read the archive: no ZIP archive found"},
      {"one entry more", build_zip(two, more), kExitArchive, "end of central directory record is"},
      {"none at all", build_zip(two, none), kExitArchive,
       "ruduvizide: damaged archive: central directory holds a different number of entries than "
       "declared (central directory entry 3)"},
      {"Zip64 count beyond the directory", build_zip(two, z64far), kExitArchive, "Zip64 end"},
      {"Zip64 count one short", build_zip(two, z64short), kExitArchive, "different number"},
      {"directory too large", patched(eocd + 12, 122, good), kExitArchive, "end of central directory"},
      {"directory too small", patched(eocd + 12, 102, good), kExitArchive, "damaged archive"},
      {"local header beyond the data", patched(second + 42, 0xFFFFFF, good), kExitArchive, "damaged archive"},
      {"local header in the directory", patched(second + 42, eocd - 100, good), kExitArchive, "damaged archive"},
      {"data past the directory", patched(second + 20, 0x7FFFFFFF, good), kExitArchive, "damaged"},
      {"size of all ones without Zip64", patched(second + 20, 0xFFFFFFFF, good), kExitArchive, "damaged"},
      {"local extra into the directory", patched(28, 0xF000, good, 2), kExitEntries,
       "a: damaged entry: entry data lies outside the archive"},
      {"directory offset missing the headers", build_zip(two, missed), kExitEntries,
       "2 entries were not unpacked"},
  };
  for (const Case& c : cases) expect(c, c.rc == kExitArchive);
  EXPECT_EQ(totals.files, 0u);
}

// Entries whose data overlap: each one's stored data runs over every later
// local header and a shared kernel, so n entries unpack to about n times
// the archive, as in the best-known non-recursive zip bombs; and many records
// naming one local header, each inflating the same stream again.
TEST_F(Hostile, EntriesSharingTheirDataAreRefused) {
  std::vector<TestEntry> layers;
  size_t headers = 0;
  for (int i = 0; i < 200; ++i) layers.push_back(file("f" + std::to_string(1000 + i), "")), headers += 35;
  size_t at = 0;
  for (TestEntry& e : layers) at += 35, e.method = 0, e.csize = e.usize = headers - at + 65536;
  layers.back().payload = std::string(65536, 'K');
  const std::string bomb = build_zip(layers);
  TestEntry same = file("same", std::string(1 << 20, '\0')), again = same;
  again.shares = 0;
  std::vector<TestEntry> copies(400, again);
  copies[0] = same;
  TestEntry impostor = file("impostor", "");
  impostor.shares = 0;
  const Case cases[] = {
      {"overlapping layers", bomb, kExitArchive, "damaged archive: entries overlap"},
      {"one stream many times", build_zip(copies), kExitArchive, "entries overlap"},
      {"an impostor", build_zip({file("real", ""), impostor}), kExitArchive, "entries overlap"},
  };
  for (const Case& c : cases) expect(c, true);
}

// A stream that inflates far beyond what it declares stops within the first
// buffer, not after reading it all; a stream shorter than its compressed
// size ends where the stream does.
TEST_F(Hostile, StreamsStopAtTheirDeclaredSize) {
  TestEntry bomb = file("bomb", ""), padded = file("padded", std::string(5000, 'p'));
  bomb.payload = deflate_raw(std::string(256u << 20, '\0'), 9);  // about 250 KB
  bomb.usize = 1000;
  padded.payload = deflate_raw(padded.data) + std::string(100, 'Z');
  const std::string zip = build_zip({bomb, padded});
  CountingSource src(zip);
  EXPECT_EQ(run(src), kExitEntries);
  EXPECT_NE(cap.err.find("bomb: not unpacked: data is longer than declared"), std::string::npos) << cap.err;
  EXPECT_EQ(tree(target), (std::vector<std::string>{"padded=" + padded.data}));
  EXPECT_LT(src.bytes, 200u * 1024);
}

// A million records, walked twice in large reads with no heap per entry and
// a report that stays readable; many empty files written in constant work each.
TEST_F(Hostile, HugeCountsCostInProportion) {
  struct Huge {
    const char* name;
    uint32_t attr;
    int n, rc;
    uint64_t times_the_archive, refused;
    const char* said;
  };
  const Huge cases[] = {
      {"./", 040755u << 16, 1000000, kExitOk, 3, 0, "ruduvizide: 0 files unpacked (0 bytes), 0 directories\n"},
      {"../x", 0100644u << 16, 1000000, kExitEntries, 3, 1000000,
       "... and 999900 more refused entries\nruduvizide: 1000000 entries refused; nothing was unpacked\n"},
      {"d/f", 0100644u << 16, 20000, kExitOk, 8, 0, "20000 files unpacked"},
  };
  ASSERT_EQ(run(build_zip({file("warm", "up")})), kExitOk);  // one-time allocations
  for (const Huge& h : cases) {
    SCOPED_TRACE(h.name);
    ZipWriter w;
    TestEntry e = file(h.name, "");
    e.method = 0, e.unix_mtime.reset(), e.external_attr = h.attr;
    for (int i = 0; i < h.n; ++i) {
      if (h.n < 100000) e.name = "d" + std::to_string(i / 200) + "/f" + std::to_string(i % 200);
      w.add(e);
    }
    BuildOptions z64;
    z64.zip64_end = true;
    const std::string zip = w.finish(z64);
    CountingSource src(zip);
    stdfs::remove_all(target);
    const size_t heap = mallinfo2().uordblks;
    EXPECT_EQ(run(src), h.rc);
    EXPECT_LT(mallinfo2().uordblks, heap + (1u << 20));
    EXPECT_LT(src.bytes, h.times_the_archive * zip.size());
    EXPECT_LE(src.reads, h.n < 100000 ? 3u * h.n : 1000u);
    EXPECT_EQ(totals.refused, h.refused);
    const std::string said = cap.out + cap.err;
    EXPECT_LT(std::count(said.begin(), said.end(), '\n'), h.n < 100000 ? h.n + 2 : 103);
    EXPECT_NE(said.find(h.said), std::string::npos) << said.substr(0, 300);
    EXPECT_TRUE(only_target());
  }
  EXPECT_EQ(totals.workers, 2u);
  EXPECT_EQ(totals.files, 20000u);
}

}  // namespace
}  // namespace rdz
