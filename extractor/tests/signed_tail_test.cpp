// What the archive search accepts after the end record: nothing, or a signer's
// padding and certificate table, found through the PE header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zip.h"

namespace {

struct Layout {
  const char* what;
  uint16_t magic;          // 0x10b or 0x20b; 0: no PE header
  std::string pad;         // after the end record
  std::string table;       // what the security directory points at
  std::string after;       // bytes after the table
  bool found;
};

std::string le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string cert(uint32_t len, uint16_t rev = 0x200) {
  return le32(len) + char(rev) + char(rev >> 8) + std::string{2, 0} + std::string(len - 8, 'c');
}

bool opens(const Layout& l) {
  std::string f(400, 'x');
  if (l.magic) {
    f.replace(0, 2, "MZ");
    f.replace(0x3C, 4, le32(0x80));
    f.replace(0x80, 4, std::string("PE\0\0", 4));
    f[0x80 + 20] = char(0xF0);
    f[0x80 + 21] = 0;
    f[0x98] = char(l.magic);
    f[0x99] = char(l.magic >> 8);
    const size_t count = 0x98 + (l.magic == 0x10b ? 92 : 108);
    f.replace(count, 4, le32(16));
    f.replace(count + 4 + 32, 8, le32(l.table.empty() ? 0 : 422 + l.pad.size()) + le32(l.table.size()));
  }
  f += "PK\5\6" + std::string(18, 0) + l.pad + l.table + l.after;
  rdz::zip::MemorySource src(f.data(), f.size());
  rdz::zip::Archive ar;
  std::vector<unsigned char> scratch(rdz::zip::kOpenScratch);
  return rdz::zip::open(src, &ar, scratch.data(), scratch.size()) == rdz::zip::Error::none;
}

TEST(SignedTail, OnlyASignatureMayFollowTheArchive) {
  const Layout cases[] = {
      {"not a PE file", 0, "", "", "", true},
      {"unsigned", 0x20b, "", "", "", true},
      {"signed PE32+", 0x20b, std::string(2, 0), cert(16), "", true},
      {"signed PE32", 0x10b, std::string(2, 0), cert(16), "", true},
      {"two certificates, the first padded", 0x20b, std::string(2, 0), cert(13) + std::string(3, 0) + cert(8), "", true},
      {"byte after an unsigned archive", 0x20b, "", "", "j", false},
      {"byte after a PE-less archive", 0, "j", "", "", false},
      {"padding that is not zero", 0x20b, "\0j", cert(16), "", false},
      {"padding of 10", 0x20b, std::string(10, 0), cert(16), "", false},
      {"table that is not a signature", 0x20b, std::string(2, 0), cert(16, 0x100), "", false},
      {"table shorter than its record", 0x20b, std::string(2, 0), cert(16).substr(0, 12), "", false},
      {"table not at the end", 0x20b, std::string(2, 0), cert(16), "appended later", false},
  };
  for (const Layout& l : cases) EXPECT_EQ(opens(l), l.found) << l.what;
}

}  // namespace
