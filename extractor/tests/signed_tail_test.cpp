// What the archive search accepts after the end record: nothing, or a signer's
// padding and certificate table, found through the PE header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zip.h"

namespace {

std::string le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string cert(uint32_t len, char rev = 2) { return le32(len) + '\0' + rev + '\2' + '\0' + std::string(len - 8, 'c'); }

// A PE header (PE32 or PE32+, at `pe`) whose security directory points after
// `pad`, then an empty archive, `pad`, `table` and `after`. The optional header
// is just long enough to hold the security directory, or `cut` bytes shorter.
bool opens(uint16_t magic, const std::string& pad, const std::string& table, const std::string& after = "",
           int cut = 0, uint32_t pe = 0x80) {
  std::string f = "MZ" + std::string(0x3A, 0) + le32(pe) + std::string(pe - 0x40, 0) + "PE" + std::string(18, 0) +
                  char((magic == 0x10b ? 136 : 152) - cut) + std::string(3, 0) + char(magic) + char(magic >> 8) +
                  std::string(406, 0);  // 2 bytes of padding align the table (at 0x80)
  const size_t dirs = pe + 0x18 + (magic == 0x10b ? 92 : 108);
  f.replace(dirs, 4, le32(16));
  f.replace(dirs + 36, 8, le32(table.empty() ? 0 : f.size() + 22 + pad.size()) + le32(table.size()));
  f += "PK\5\6" + std::string(18, 0) + pad + table + after;
  rdz::zip::MemorySource src(f.data(), f.size());
  rdz::zip::Archive ar;
  std::vector<unsigned char> scratch(rdz::zip::kOpenScratch, 0xA5);  // stale past what is read, as when reused
  return rdz::zip::open(src, &ar, scratch.data(), scratch.size()) == rdz::zip::Error::none;
}

TEST(SignedTail, OnlyASignatureMayFollowTheArchive) {
  const std::string pad(2, 0);
  EXPECT_TRUE(opens(0x20b, "", "") && opens(0x20b, pad, cert(16)) && opens(0x10b, pad, cert(16)));
  EXPECT_TRUE(opens(0x20b, pad, cert(13) + std::string(3, 0) + cert(8)) && opens(0x20b, pad, cert(8) + cert(13)));
  EXPECT_FALSE(opens(0x20b, "", "", std::string(1, 0)));    // zeros pad only before a signature
  EXPECT_FALSE(opens(0x20b, std::string("\0j", 2), cert(16)) || opens(0x20b, std::string(10, 0), cert(16)));
  EXPECT_FALSE(opens(0x20b, std::string(6, 0), cert(16)) || opens(0x20b, pad, cert(16), "", 1));  // unaligned; no room
  EXPECT_TRUE(opens(0x20b, pad, cert(16), "", 0, 0x350));     // which ends the 1024 bytes read first
  EXPECT_FALSE(opens(0x20b, pad, cert(16) + cert(8, 1)) || opens(0x20b, pad, cert(16, 1)));  // not revision 2
  // A bad table ends no archive, whatever it holds: here an end record.
  EXPECT_FALSE(opens(0x20b, pad, le32(32) + std::string("\0\1\2\0PK\5\6", 8) + std::string(16, 0) + std::string("\2\0xx", 4)));
  // A record longer than the table, first or second.
  EXPECT_FALSE(opens(0x20b, pad, cert(16).substr(0, 12)) || opens(0x20b, pad, cert(16) + cert(16).substr(0, 4)));
  EXPECT_FALSE(opens(0x20b, pad, cert(16), "PK\5\6" + std::string(18, 0)));  // appended after signing
}

}  // namespace
