#include "zip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "zipbuilder.h"

namespace rdz::zip {
namespace {

using test::build_zip;
using test::BuildOptions;
using test::TestEntry;

struct Reader {
  explicit Reader(std::string bytes) : data(std::move(bytes)), src(data.data(), data.size()) {}
  Error open() { return zip::open(src, &ar, scratch.data(), scratch.size()); }
  // Reads the whole directory; the entries' names are copied out.
  Error list(std::vector<std::string>* names, std::vector<Entry>* entries = nullptr) {
    Cursor cur(src, ar, window.data(), window.size());
    Entry e;
    bool done = false;
    while (true) {
      Error err = cur.next(&e, &done);
      if (err != Error::none || done) return err;
      names->emplace_back(e.name);
      if (entries) entries->push_back(e);
    }
  }
  std::string data;
  MemorySource src;
  Archive ar;
  std::vector<unsigned char> scratch = std::vector<unsigned char>(kOpenScratch);
  std::vector<unsigned char> window = std::vector<unsigned char>(kMaxRecord);
};

TestEntry file(std::string name, std::string data) {
  TestEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  return e;
}

TEST(OpenArchive, FindsTheArchiveBehindAStubAndAComment) {
  BuildOptions opt;
  opt.prefix = std::string(5000, 'S');
  opt.comment = "made for a test";
  Reader r(build_zip({file("a", "1"), file("b", "22")}, opt));
  ASSERT_EQ(r.open(), Error::none);
  EXPECT_EQ(r.ar.base, 5000u);
  EXPECT_EQ(r.ar.entries, 2u);
  EXPECT_FALSE(r.ar.zip64);
  std::vector<std::string> names;
  std::vector<Entry> entries;
  ASSERT_EQ(r.list(&names, &entries), Error::none);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(entries[0].local_header, 5000u);
  uint64_t data;
  unsigned char scratch[65536];
  ASSERT_EQ(locate_data(r.src, r.ar, entries[1], scratch, sizeof scratch, &data), Error::none);
  EXPECT_EQ(r.data.substr(data, entries[1].csize), test::deflate_raw("22"));
}

TEST(OpenArchive, OffsetsAlreadyAdjustedForTheStubWorkToo) {
  BuildOptions opt;
  opt.prefix = "MZ-stub";
  opt.offsets_include_prefix = true;
  Reader r(build_zip({file("a", "1")}, opt));
  ASSERT_EQ(r.open(), Error::none);
  EXPECT_EQ(r.ar.base, 0u);
  std::vector<std::string> names;
  EXPECT_EQ(r.list(&names), Error::none);
}

TEST(OpenArchive, CommentHoldingASignatureDoesNotMislead) {
  BuildOptions opt;
  opt.comment = std::string("PK\x05\x06", 4) + std::string(30, '\0');
  Reader r(build_zip({file("a", "1")}, opt));
  ASSERT_EQ(r.open(), Error::none);
  EXPECT_EQ(r.ar.entries, 1u);
}

TEST(OpenArchive, EmptyArchive) {
  Reader r(build_zip({}));
  ASSERT_EQ(r.open(), Error::none);
  std::vector<std::string> names;
  EXPECT_EQ(r.list(&names), Error::none);
  EXPECT_TRUE(names.empty());
}

TEST(OpenArchive, Zip64EndRecordAndEntries) {
  BuildOptions opt;
  opt.prefix = std::string(777, 'S');
  opt.zip64_end = true;
  TestEntry big = file("big", std::string(100000, 'z'));
  big.zip64 = true;
  TestEntry streamed = file("streamed", "abc");
  streamed.zip64 = true;
  streamed.descriptor = true;
  Reader r(build_zip({big, streamed, file("plain", "p")}, opt));
  ASSERT_EQ(r.open(), Error::none);
  EXPECT_TRUE(r.ar.zip64);
  EXPECT_EQ(r.ar.base, 777u);
  std::vector<std::string> names;
  std::vector<Entry> entries;
  ASSERT_EQ(r.list(&names, &entries), Error::none);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].usize, 100000u);
  EXPECT_EQ(entries[0].local_header, 777u);
  EXPECT_EQ(entries[1].usize, 3u);
  unsigned char scratch[65536];
  for (const Entry& e : entries) {
    uint64_t data;
    EXPECT_EQ(locate_data(r.src, r.ar, e, scratch, sizeof scratch, &data), Error::none);
  }
}

TEST(OpenArchive, ReadsTimestampsAndUnicodePath) {
  TestEntry e = file("x", "1");
  e.unix_mtime = 1700000000;
  std::string up;
  up += std::string("\x75\x70\x0A\x00\x01", 5);  // 0x7075, 10 bytes, version 1
  uint32_t crc = static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>("x"), 1));
  for (int i = 0; i < 4; ++i) up += static_cast<char>(crc >> (8 * i));
  up += "\xC3\xA9\xC3\xA9\xC3";  // five bytes of name
  e.cd_extra = up;
  Reader r(build_zip({e}));
  ASSERT_EQ(r.open(), Error::none);
  std::vector<std::string> names;
  std::vector<Entry> entries;
  ASSERT_EQ(r.list(&names, &entries), Error::none);
  EXPECT_TRUE(entries[0].has_unix_mtime);
  EXPECT_EQ(entries[0].unix_mtime, 1700000000);
  EXPECT_EQ(entries[0].unicode_name, "\xC3\xA9\xC3\xA9\xC3");

  // A Unicode Path written for another name is stale and ignored.
  e.name = "y";
  Reader stale(build_zip({e}));
  ASSERT_EQ(stale.open(), Error::none);
  entries.clear();
  ASSERT_EQ(stale.list(&names, &entries), Error::none);
  EXPECT_TRUE(entries[0].unicode_name.empty());
}

TEST(OpenArchive, RefusesWhatIsNoArchive) {
  EXPECT_EQ(Reader("").open(), Error::no_archive);
  EXPECT_EQ(Reader("short").open(), Error::no_archive);
  EXPECT_EQ(Reader(std::string(100000, 'x')).open(), Error::no_archive);
  // A stub alone, as when packing forgot the payload.
  EXPECT_EQ(Reader(std::string("MZ") + std::string(70000, '\0')).open(), Error::no_archive);
  // A stub whose code happens to hold the signature, with nothing appended:
  // the chance record says nonsense (another disk), but the finding is that
  // no archive is there.
  std::string code = "MZ" + std::string(1000, '\x90') + std::string("PK\x05\x06\x07\x00", 6) +
                     std::string(16, '\x33') + std::string(3000, '\xC3');
  EXPECT_EQ(Reader(code).open(), Error::no_archive);
  // A truncated archive: its end record is gone.
  std::string zip = build_zip({file("a", std::string(5000, 'z'))});
  EXPECT_EQ(Reader(zip.substr(0, zip.size() - 10)).open(), Error::no_archive);
}

TEST(OpenArchive, RefusesInconsistentEndRecords) {
  std::string good = build_zip({file("a", "1")});
  // Directory larger than everything in front of the end record.
  std::string s = good;
  s[s.size() - 22 + 12] = '\x7F';
  EXPECT_EQ(Reader(s).open(), Error::bad_eocd);
  // More entries than the directory has room for.
  s = good;
  s[s.size() - 22 + 8] = s[s.size() - 22 + 10] = '\x09';
  EXPECT_EQ(Reader(s).open(), Error::bad_eocd);
  // Another disk.
  s = good;
  s[s.size() - 22 + 4] = '\x01';
  EXPECT_EQ(Reader(s).open(), Error::multi_disk);
  s = good;
  s[s.size() - 22 + 8] = '\x00';
  EXPECT_EQ(Reader(s).open(), Error::multi_disk);
  // Stated offset beyond where the directory is.
  BuildOptions opt;
  opt.cd_offset_delta = 1000;
  EXPECT_EQ(Reader(build_zip({file("a", "1")}, opt)).open(), Error::bad_eocd);
}

TEST(OpenArchive, RefusesBrokenZip64Records) {
  BuildOptions opt;
  opt.zip64_end = true;
  std::string good = build_zip({file("a", "1")}, opt);
  const size_t loc = good.size() - 22 - 20, rec = loc - 56;
  std::string s = good;
  s[rec] = 'X';  // signature gone
  EXPECT_EQ(Reader(s).open(), Error::bad_zip64_eocd);
  s = good;
  s[rec + 48] = '\x70';  // directory offset past the record
  EXPECT_EQ(Reader(s).open(), Error::bad_zip64_eocd);
  s = good;
  s[rec + 32] = '\x50';  // 80 entries in a one-entry directory
  s[rec + 24] = '\x50';
  EXPECT_EQ(Reader(s).open(), Error::bad_zip64_eocd);
  s = good;
  s[rec + 24] = '\x02';  // counts on this disk and in total differ
  EXPECT_EQ(Reader(s).open(), Error::multi_disk);
  s = good;
  s[loc + 16] = '\x03';  // three disks
  EXPECT_EQ(Reader(s).open(), Error::multi_disk);
}

TEST(Cursor, RefusesMalformedDirectoryEntries) {
  std::string good = build_zip({file("a", "1"), file("b", "2")});
  Reader probe(good);
  ASSERT_EQ(probe.open(), Error::none);
  const size_t cd = static_cast<size_t>(probe.ar.cd_begin);
  auto listing = [](std::string s) {
    Reader r(std::move(s));
    EXPECT_EQ(r.open(), Error::none);
    std::vector<std::string> names;
    return r.list(&names);
  };
  std::string s = good;
  s[cd + 47] = 'X';  // the second record's signature (first is 47 bytes long)
  EXPECT_EQ(listing(s), Error::bad_cd_record);
  s = good;
  s[cd + 28] = '\x40';  // name runs past the directory
  EXPECT_EQ(listing(s), Error::bad_cd_record);
  s = good;
  s[cd + 42] = '\x70';  // local header beyond the data
  EXPECT_EQ(listing(s), Error::bad_cd_record);
  s = good;
  s[cd + 34] = '\x01';  // starts on another disk
  EXPECT_EQ(listing(s), Error::multi_disk);
  s = good;
  s[cd + 20] = '\x60';  // compressed size runs into the directory
  EXPECT_EQ(listing(s), Error::data_out_of_bounds);
}

TEST(Cursor, CountMustMatchTheDirectory) {
  BuildOptions opt;
  opt.declared_entries = 1;
  Reader r(build_zip({file("a", "1"), file("b", "2")}, opt));
  ASSERT_EQ(r.open(), Error::none);
  std::vector<std::string> names;
  EXPECT_EQ(r.list(&names), Error::cd_count_mismatch);

  opt.zip64_end = true;
  Reader r64(build_zip({file("a", "1"), file("b", "2")}, opt));
  ASSERT_EQ(r64.open(), Error::none);
  names.clear();
  EXPECT_EQ(r64.list(&names), Error::cd_count_mismatch);
  EXPECT_EQ(names.size(), 1u);  // stops at the declared count
}

TEST(Cursor, Zip64FieldsWithoutTheirExtraAreRefused) {
  BuildOptions opt;
  opt.zip64_end = true;
  TestEntry e = file("a", "1");
  e.zip64 = true;
  std::string s = build_zip({e}, opt);
  Reader probe(s);
  ASSERT_EQ(probe.open(), Error::none);
  const size_t cd = static_cast<size_t>(probe.ar.cd_begin);
  s[cd + 46 + 1 + 2] = '\x08';  // Zip64 extra shrunk to 8 of its 24 bytes
  Reader r(s);
  ASSERT_EQ(r.open(), Error::none);
  std::vector<std::string> names;
  EXPECT_EQ(r.list(&names), Error::bad_zip64_extra);
}

TEST(LocateData, ChecksTheLocalHeader) {
  std::vector<TestEntry> entries = {file("name", "data")};
  auto locate = [](const std::string& s) {
    Reader r(s);
    EXPECT_EQ(r.open(), Error::none);
    std::vector<std::string> names;
    std::vector<Entry> es;
    EXPECT_EQ(r.list(&names, &es), Error::none);
    unsigned char scratch[65536];
    uint64_t data;
    return locate_data(r.src, r.ar, es.at(0), scratch, sizeof scratch, &data);
  };
  std::string good = build_zip(entries);
  EXPECT_EQ(locate(good), Error::none);
  std::string s = good;
  s[0] = 'X';
  EXPECT_EQ(locate(s), Error::bad_local_header);
  s = good;
  s[30] = 'N';  // a different name
  EXPECT_EQ(locate(s), Error::local_name_mismatch);
  entries[0].local_name = "longer-name";
  EXPECT_EQ(locate(build_zip(entries)), Error::local_name_mismatch);
  s = good;
  s[28] = '\x40';  // local extra field pushes the data into the directory
  EXPECT_EQ(locate(s), Error::data_out_of_bounds);
}

// Every prefix of an archive: the reader must report an error or succeed,
// never read outside the buffer (the sanitizer build checks that).
TEST(Truncation, EveryCutIsRefusedCleanly) {
  BuildOptions opt;
  opt.zip64_end = true;
  opt.comment = "c";
  TestEntry e = file("dir/file.txt", std::string(3000, 'q'));
  e.zip64 = true;
  std::string full = build_zip({e, file("second", "x")}, opt);
  for (size_t n = 0; n < full.size(); ++n) {
    Reader r(full.substr(0, n));
    if (r.open() != Error::none) continue;
    std::vector<std::string> names;
    // A cut inside the comment alone still leaves a readable archive.
    r.list(&names);
  }
}

// Single-byte damage anywhere must never make the reader misbehave.
TEST(Corruption, EveryFlippedByteIsSurvived) {
  BuildOptions opt;
  opt.prefix = "stub";
  TestEntry a = file("a/b.txt", std::string(500, 'r'));
  a.unix_mtime = 1;
  std::string full = build_zip({a, file("c", "d")}, opt);
  for (size_t i = 0; i < full.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string s = full;
      s[i] = static_cast<char>(s[i] ^ flip);
      Reader r(s);
      if (r.open() != Error::none) continue;
      std::vector<std::string> names;
      std::vector<Entry> es;
      r.list(&names, &es);
      unsigned char scratch[65536];
      for (const Entry& e : es) {
        uint64_t data;
        if (locate_data(r.src, r.ar, e, scratch, sizeof scratch, &data) == Error::none) {
          EXPECT_LE(data + e.csize, r.ar.cd_begin);
        }
      }
    }
  }
}

TEST(MemorySource, RefusesReadsOutsideTheBuffer) {
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
