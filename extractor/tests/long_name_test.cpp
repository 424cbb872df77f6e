// What a name below a held directory reached, on a model of NTFS: only the
// normalized path has the long names (and a link's target), not the opened.
#include <gtest/gtest.h>

#include <string>

#include "win32/long_name.h"

namespace rdz::sys::win32 {
namespace {

struct Ntfs final : PathQuery {
  std::u16string opened, normalized;
  Err path_of(Handle, Spelling s, Unit* out, size_t, size_t* n) override {
    const std::u16string& p = s == Spelling::normalized ? normalized : opened;
    *n = p.copy(out, p.size());
    return 0;
  }
};

TEST(LongName, OnlyTheEntryOfThatLongNameIsReached) {
  const std::u16string t = u"\\\\?\\C:\\t";
  const struct { std::u16string name, normalized; Err want; } rows[] = {
      {u"BIN", t + u"\\bin", 0}, {u"\u00c4.dll", t + u"\\\u00e4.dll", 0},
      {u"BINARI~1", t + u"\\binaries_long", kErrShortName}, {u"bin", t + u"\\bi", kErrShortName},
      {u"VERY~1.DL", t + u"\\veryl.dll", kErrShortName},  // as long as its long name
      {u"bin", u"\\\\?\\C:\\elsewhere\\bin", kErrLink}, {u"bin", t + u"x\\bin", kErrLink},
      {u"bin", u"\\\\?\\C:\\bin", kErrLink}};
  EXPECT_TRUE(may_be_alias("BINA~RXW") && !may_be_alias("binaries_long"));
  // A link is replaced as a name, unless the name may be its alias (Wine).
  EXPECT_TRUE(may_land_at("link.dll", kErrLink) == 0 && may_land_at("A~B", 0) == 0);
  EXPECT_EQ(may_land_at("VERY~VUN.DLL", kErrLink), kErrLink);
  EXPECT_EQ(may_land_at("A~B", kErrShortName), kErrShortName);
  for (const auto& r : rows) {
    Ntfs fs;
    fs.opened = t + u"\\" + r.name, fs.normalized = r.normalized;
    Unit out[64];
    size_t n = 0;
    EXPECT_EQ(check_reached(fs, 0, {t.data(), t.size()}, {r.name.data(), r.name.size()}, out, 64,
                            &n), r.want) << r.normalized.size();
    EXPECT_EQ(std::u16string(out, n), r.normalized);
  }
}

}  // namespace
}  // namespace rdz::sys::win32
