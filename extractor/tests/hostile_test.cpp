// Archives made to hurt, checked for the work and memory they cost: the
// extractor's must follow the archive's size. (archives/outcomes.txt has
// what they say and leave.)
#include <malloc.h>

#include <atomic>

#include "testutil.h"

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
  const std::string zip = slurp(kArchives / "deflate-bomb.zip");
  CountingSource src(zip);
  EXPECT_EQ(run(src), kExitEntries);
  EXPECT_LT(src.bytes, 200u * 1024);
}

void put(std::string& s, uint64_t v, int n) {  // little-endian
  for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
}

// n empty stored entries named by name_of, in a Zip64 archive as writers
// make one past 65535 entries.
std::string many(int n, uint32_t attr, std::string (*name_of)(int)) {
  std::string body, cd;
  body.reserve(n * 40u), cd.reserve(n * 56u);
  for (int i = 0; i < n; ++i) {
    const std::string name = name_of(i);
    std::string fields;  // version needed to name length: the same in both headers
    put(fields, 20, 2), put(fields, 0x0800, 2), fields += std::string(18, '\0'), put(fields, name.size(), 2);
    put(cd, 0x02014b50, 4), put(cd, 3 << 8 | 20, 2), cd += fields;
    put(cd, 0, 8), put(cd, attr, 4), put(cd, body.size(), 4), cd += name;
    put(body, 0x04034b50, 4), body += fields, put(body, 0, 2), body += name;
  }
  std::string out = body + cd;
  put(out, 0x06064b50, 4), put(out, 44, 8), put(out, 45, 2), put(out, 45, 2), put(out, 0, 8);
  put(out, n, 8), put(out, n, 8), put(out, cd.size(), 8), put(out, body.size(), 8);
  put(out, 0x07064b50, 4), put(out, 0, 4), put(out, body.size() + cd.size(), 8), put(out, 1, 4);
  put(out, 0x06054b50, 4), put(out, 0, 4), put(out, 0xFFFFFFFF, 4), put(out, ~0ull, 8), put(out, 0, 2);
  return out;
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
      {many(20000, 0100644u << 16, [](int i) { return "d" + std::to_string(i / 200) + "/f" + std::to_string(i); }),
       kExitOk, 8, 60000, 0, "20000 files unpacked"},
  };
  ASSERT_EQ(run(slurp(kArchives / "times.zip")), kExitOk);  // one-time allocations
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
  }
  EXPECT_EQ(totals.workers, 2u);
  EXPECT_EQ(totals.files, 20000u);
}

}  // namespace
}  // namespace rdz
