// Archives made to hurt, checked for the work and memory they cost: the
// extractor's must follow the archive's size. (archives/outcomes.txt has
// what they say and leave.)
#include <malloc.h>

#include <atomic>

#include "held_lines.h"
#include "key_set.h"
#include "may_land_on_one_file.h"
#include "message.h"
#include "testutil.h"
#include "zipwriter.h"

namespace rdz {
namespace {

using namespace test;

// Counts what is asked of it; workers read at once.
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

// 256 MiB of zeros in 250 KB, declared as 1000 bytes: stopped within the
// first buffer, not after reading the whole stream.
TEST_F(Unpack, DeflateBombStopsWithinOneBuffer) {
  const std::string zip = slurp(kBuilt / "deflate-bomb.zip");
  CountingSource src(zip);
  EXPECT_EQ(run(src), kExitEntries);
  EXPECT_LT(src.bytes, 200u * 1024);
}

// A set of exact keys is full at half its slots, so probes stay short, and
// keeps its keys and their marks when it grows, up to its bound; the paths
// table keeps fingerprints in half the memory, marks and all, and fills
// further.
TEST(KeySet, IsFullAtHalfItsSlotsAndGrowsWithItsMarks) {
  uint64_t small[4], big[8];
  KeySet s(small, 4);
  bool mark = false;
  EXPECT_EQ(s.put(6 | 1), KeySet::Put::added);
  EXPECT_EQ(s.put(8), KeySet::Put::added);
  EXPECT_EQ(s.put(10), KeySet::Put::full);
  s.move_to(big, 8);
  EXPECT_TRUE(s.put(6, &mark) == KeySet::Put::found && mark);
  EXPECT_EQ(s.put(10), KeySet::Put::added);
  for (uint64_t expected : {1, 1 << 20}) {  // from 1,024 slots or at once to 2,048, and no more
    GrowingKeySet grown(expected, 2048);
    size_t added = 0;
    for (uint64_t k = 1; k <= 1025; ++k) added += grown.put(2 * k) == KeySet::Put::added;
    EXPECT_EQ(added, 1024u);
  }
  const auto heap = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
  const size_t before = heap();
  MayLandOnOneFile paths(1000000);
  EXPECT_LE(heap(), before + (8u << 20) + 4096);
  EXPECT_TRUE(paths.add("a/b", false) && paths.add("A/", true));
  EXPECT_FALSE(paths.add("a", false));
  MayLandOnOneFile letters(2);  // a clash is for good: a set of its own
  EXPECT_FALSE(letters.add("AZ", false) && letters.add("az", false));
  MayLandOnOneFile few(1);  // 1024 slots, full (a clash) at 768 paths
  int taken = 0;
  while (few.add(std::to_string(taken), false)) ++taken;
  EXPECT_EQ(taken, 768);
}

// Error lines behind a slow entry come back in archive order, each entry's
// in the order they came, whatever order the workers hand them in.
TEST(HeldLines, GiveBackEachEntrysLinesInItsTurn) {
  HeldLines h;
  for (const char* l : {"7a", "3a", "9", "3b", "1", "0", "7b", "5", "3c", "8"}) ASSERT_TRUE(h.keep(l[0] - '0', l));
  std::string out;
  for (uint64_t i = 0; i < 10; ++i) {
    for (std::string_view l; h.take(i, &l);) out += std::string(l) + " ";
  }
  EXPECT_EQ(out, "0 1 3a 3b 3c 5 7a 7b 8 9 ");
  std::string_view l;  // once all are out, the text starts over
  EXPECT_TRUE(h.keep(4, "again") && h.keep(6, "later") && !h.take(3, &l) && h.take(4, &l) && l == "again" &&
              h.take(6, &l));
}

// A message longer than its buffer is cut, numbers too, never overrun.
TEST(Line, CutsWhatDoesNotFit) {
  Line l;
  l << std::string(2046, 'x') << uint64_t{12345} << "tail";
  EXPECT_EQ(l.view(), std::string(2046, 'x') + "12");
  char out[8];  // cut between characters (never part of U+1F600's four bytes or U+0905's three), or to ".." in 3
  auto cut = [&](std::string_view name, size_t cap = sizeof out) { return std::string(out, names::printable(name, out, cap)); };
  EXPECT_EQ(cut("a\xF0\x9F\x98\x80\xF0\x9F\x98\x80") + "|" + cut("ab\xE0\xA4\x85\xE0\xA4\x85") + "|" + cut("abc", 3), "a...|ab...|..");
}

// n empty stored entries named by name_of, in a Zip64 archive as writers
// make one past 65535 entries.
std::string many(int n, uint32_t attr, std::string (*name_of)(int)) {
  ZipWriter w;
  w.zip64_end = true;
  Fields e{{"method", "0"}, {"time", "0"}, {"mtime", "none"}, {"attr", std::to_string(attr)}};
  for (int i = 0; i < n; ++i) e["name"] = name_of(i), w.add(e);
  return w.finish();
}

// A million records walked twice in large reads, with no heap per entry and a
// report that stays readable; many empty files written in constant work each.
TEST_F(Unpack, HugeCountsCostInProportion) {
  struct Huge {
    std::string zip;
    int rc;
    uint64_t times_the_archive, most_reads, refused;
    const char* said;
  };
  const Huge cases[] = {
      {many(1000000, 040755u << 16, [](int) -> std::string { return "./"; }), kExitOk, 3, 1000, 0,
       "ruduvizide: 0 files unpacked (0 bytes), 0 directories\n"},
      {many(1000000, 0100644u << 16, [](int) -> std::string { return "../x"; }), kExitEntries, 3, 1000,
       1000000, "... and 999900 more refused entries\nruduvizide: 1000000 entries refused; nothing was unpacked\n"},
      {many(100, 0100644u << 16, [](int) -> std::string { return "../x"; }), kExitEntries, 3, 1000, 100,
       "ruduvizide: 100 entries refused; nothing was unpacked\n"},  // all shown: no "... and 0 more"
      {many((1 << 20) + 1, 0100644u << 16, [](int i) { return "f" + std::to_string(i); }), kExitEntries,
       3, 1000, 0, "names (more than 1048576); nothing was unpacked\n"},  // the names table's cap
      {many(20000, 0100644u << 16, [](int i) { return "d" + std::to_string(i / 200) + "/f" + std::to_string(i); }),
       kExitOk, 8, 60000, 0, "20000 files unpacked"},
  };
  ASSERT_EQ(run(slurp(kBuilt / "times.zip")), kExitOk);  // one-time allocations
  for (const Huge& h : cases) {
    CountingSource src(h.zip);
    stdfs::remove_all(target);
    const size_t heap = mallinfo2().uordblks;
    EXPECT_EQ(run(src), h.rc);
    EXPECT_LT(mallinfo2().uordblks, heap + (1u << 20));
    EXPECT_LT(src.bytes, h.times_the_archive * h.zip.size());
    EXPECT_LE(src.reads, h.most_reads);
    EXPECT_EQ(totals.refused, h.refused);
    EXPECT_LT(std::count(cap.said.begin(), cap.said.end(), '\n'), 20002);
    EXPECT_NE(cap.said.find(h.said), std::string::npos) << cap.said.substr(0, 300);
    EXPECT_EQ(cap.said.find(" 0 more"), std::string::npos);
  }
  EXPECT_TRUE(totals.workers == 2u && totals.files == 20000u);
}

}  // namespace
}  // namespace rdz
