#include "zip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zipbuilder.h"

namespace rdz::zip {
namespace {

using test::build_zip;
using test::BuildOptions;
using test::TestEntry;

// Opens the archive, walks its directory and locates every entry's data;
// the first error met, with what was read before it.
Error read_all(const std::string& s, Archive* ar, std::vector<Entry>* es = nullptr,
               std::vector<std::string>* names = nullptr) {
  MemorySource src(s.data(), s.size());
  std::vector<unsigned char> buf(kMaxRecord > kOpenScratch ? kMaxRecord : kOpenScratch);
  std::vector<unsigned char> scratch(65536);
  if (Error err = open(src, ar, buf.data(), buf.size()); err != Error::none) return err;
  Cursor cur(src, *ar, buf.data(), buf.size());
  for (;;) {
    Entry e;
    bool done = false;
    if (Error err = cur.next(&e, &done); err != Error::none || done) return err;
    uint64_t data = 0;
    if (Error err = locate_data(src, *ar, e, scratch.data(), scratch.size(), &data);
        err != Error::none) {
      return err;
    }
    if (names) names->push_back(std::string(e.name) + "=" + s.substr(data, e.csize));
    if (es) es->push_back(e), es->back().name = {}, es->back().unicode_name = {};
  }
}

TestEntry plain(std::string name, std::string data) {
  TestEntry e = test::file(std::move(name), std::move(data));
  e.unix_mtime.reset();
  e.method = 0;
  return e;
}

std::string patch(std::string s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
  return s;
}

TEST(Reader, FindsTheArchiveWhereverWritersPutIt) {
  struct Case {
    const char* what;
    BuildOptions opt;
    uint64_t base;
  };
  TestEntry big = plain("big", std::string(1000, 'z')), streamed = plain("s", "abc");
  big.zip64 = streamed.zip64 = streamed.descriptor = true;
  const Case cases[] = {
      {"behind a stub, with a comment", {std::string(5000, 'S'), false, "a comment", {}, 0, false}, 5000},
      {"offsets adjusted for the stub", {"MZ-stub", false, "", {}, 0, true}, 0},
      {"a comment holding a signature", {"", false, std::string("PK\x05\x06", 4) + std::string(30, '\0'), {}, 0, false}, 0},
      {"Zip64 behind a stub", {std::string(777, 'S'), true, "", {}, 0, false}, 777},
  };
  for (const Case& c : cases) {
    Archive ar;
    std::vector<std::string> names;
    ASSERT_EQ(read_all(build_zip({plain("a", "1"), big, streamed}, c.opt), &ar, nullptr, &names),
              Error::none) << c.what;
    EXPECT_EQ(ar.base, c.base) << c.what;
    EXPECT_EQ(ar.zip64, c.opt.zip64_end) << c.what;
    EXPECT_EQ(names, (std::vector<std::string>{"a=1", "big=" + std::string(1000, 'z'), "s=abc"}));
  }
  Archive ar;
  EXPECT_EQ(read_all(build_zip({}), &ar), Error::none);
}

TEST(Reader, ReadsSizesTimestampsAndUnicodePath) {
  TestEntry e = plain("x", "1"), stale = plain("y", "1");
  e.unix_mtime = 1700000000;
  e.zip64 = true;
  test::put(e.cd_extra, 0x7075, 2), test::put(e.cd_extra, 10, 2), test::put(e.cd_extra, 1, 1);
  test::put(e.cd_extra, 0x8CDC1683, 4);  // CRC-32 of "x"
  e.cd_extra += "\xC3\xA9\xC3\xA9\xC3";
  stale.cd_extra = e.cd_extra;  // written for another name
  const std::string s = build_zip({e, stale}, {"SFX", false, "", {}, 0, false});
  MemorySource src(s.data(), s.size());
  std::vector<unsigned char> buf(kMaxRecord);
  Archive ar;
  ASSERT_EQ(open(src, &ar, buf.data(), buf.size()), Error::none);
  Cursor cur(src, ar, buf.data(), buf.size());
  Entry got;
  bool done = false;
  ASSERT_EQ(cur.next(&got, &done), Error::none);
  EXPECT_TRUE(got.has_unix_mtime);
  EXPECT_EQ(got.unix_mtime, 1700000000);
  EXPECT_EQ(got.unicode_name, "\xC3\xA9\xC3\xA9\xC3");
  EXPECT_EQ(got.usize, 1u);
  EXPECT_EQ(got.local_header, 3u);
  ASSERT_EQ(cur.next(&got, &done), Error::none);
  EXPECT_TRUE(got.unicode_name.empty());
  EXPECT_FALSE(got.has_unix_mtime);
}

TEST(Reader, RefusesDamageWithTheRightError) {
  const std::string two = build_zip({plain("a", "1"), plain("b", "2")});
  const size_t eocd = two.size() - 22, cd = eocd - 2 * 47, second = cd + 47;
  BuildOptions z64;
  z64.zip64_end = true;
  const std::string one64 = build_zip({plain("a", "1")}, z64);
  const size_t loc = one64.size() - 22 - 20, rec = loc - 56;
  TestEntry wide = plain("a", "1");
  wide.zip64 = true;
  const std::string wide64 = build_zip({wide}, z64);
  BuildOptions lies;
  lies.declared_entries = 1;
  BuildOptions lies64 = lies;
  lies64.zip64_end = true;
  BuildOptions shifted;
  shifted.cd_offset_delta = 1000;
  TestEntry renamed = plain("name", "data");
  renamed.local_name = "longer-name";
  const std::string junk = "MZ" + std::string(1000, '\x90') + std::string("PK\x05\x06\x07\x00", 6) +
                           std::string(16, '\x33') + std::string(3000, '\xC3');
  const std::pair<std::string, Error> cases[] = {
      {"", Error::no_archive}, {"short", Error::no_archive},
      {std::string(100000, 'x'), Error::no_archive}, {"MZ" + std::string(70000, '\0'), Error::no_archive},
      {junk, Error::no_archive}, {two.substr(0, two.size() - 10), Error::no_archive},
      {patch(two, eocd + 12, 0x7F, 1), Error::bad_eocd},
      {patch(two, eocd + 8, 0x00090009, 4), Error::bad_eocd},
      {build_zip({plain("a", "1")}, shifted), Error::bad_eocd},
      {patch(two, eocd + 4, 1, 1), Error::multi_disk}, {patch(two, eocd + 6, 1, 1), Error::multi_disk},
      {patch(two, eocd + 8, 0, 1), Error::multi_disk},
      {patch(one64, rec, 'X', 1), Error::bad_zip64_eocd},
      {patch(one64, rec + 48, 0x70, 1), Error::bad_zip64_eocd},
      {patch(patch(one64, rec + 32, 0x50, 1), rec + 24, 0x50, 1), Error::bad_zip64_eocd},
      {patch(one64, rec + 24, 2, 1), Error::multi_disk}, {patch(one64, rec + 16, 1, 1), Error::multi_disk},
      {patch(one64, loc + 16, 3, 1), Error::multi_disk}, {patch(one64, loc + 4, 1, 1), Error::multi_disk},
      {patch(two, second, 'X', 1), Error::bad_cd_record},
      {patch(two, cd + 28, 0x40, 1), Error::bad_cd_record},
      {patch(two, second + 42, 0x70, 1), Error::bad_cd_record},
      {patch(two, cd + 34, 1, 1), Error::multi_disk},
      {patch(two, cd + 20, 0x60, 1), Error::data_out_of_bounds},
      {build_zip({plain("a", "1"), plain("b", "2")}, lies), Error::cd_count_mismatch},
      {build_zip({plain("a", "1"), plain("b", "2")}, lies64), Error::cd_count_mismatch},
      {patch(wide64, wide64.size() - 22 - 20 - 56 - 75 + 49, 8, 1), Error::bad_zip64_extra},
      {patch(two, 0, 'X', 1), Error::bad_local_header},
      {patch(two, 30, 'N', 1), Error::local_name_mismatch},
      {build_zip({renamed}), Error::local_name_mismatch},
      {patch(two, 28, 0x40, 1), Error::data_out_of_bounds},
  };
  int i = 0;
  for (const auto& [zip, want] : cases) {
    Archive ar;
    EXPECT_EQ(read_all(zip, &ar), want) << "case " << i++;
  }
}

TEST(Reader, MemorySourceRefusesReadsOutsideTheBuffer) {
  const char bytes[] = "0123456789";
  MemorySource src(bytes, 10);
  char out[8];
  EXPECT_TRUE(src.read(6, out, 4));
  EXPECT_FALSE(src.read(7, out, 4));
  EXPECT_FALSE(src.read(11, out, 0));
  EXPECT_FALSE(src.read(UINT64_MAX, out, 1));
}

}  // namespace
}  // namespace rdz::zip
