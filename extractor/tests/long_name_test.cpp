// What a name below a held directory reached, decided from the path the
// system reports, on a model of NTFS: asked for the name as opened, it
// answers the short components as given; only the normalized path has the
// long names, and a link's target.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "win32/long_name.h"

namespace rdz::sys::win32 {
namespace {

class Ntfs final : public PathQuery {
 public:
  std::u16string opened, normalized;
  Err path_of(Handle, Spelling s, Unit* out, size_t cap, size_t* n) override {
    const std::u16string& p = s == Spelling::normalized ? normalized : opened;
    if (p.size() > cap) return kErrPathTooLong;
    std::copy(p.begin(), p.end(), out);
    *n = p.size();
    return 0;
  }
};

TEST(LongName, OnlyTheEntryOfThatLongNameIsReached) {
  const std::u16string parent = u"\\\\?\\C:\\t";
  const struct {
    std::u16string name, normalized;
    Err want;
  } rows[] = {
      {u"binaries_long", u"\\\\?\\C:\\t\\binaries_long", 0},
      {u"BIN", u"\\\\?\\C:\\t\\bin", 0},
      {u"\u00c4.dll", u"\\\\?\\C:\\t\\\u00e4.dll", 0},
      {u"BINARI~1", u"\\\\?\\C:\\t\\binaries_long", kErrShortName},
      {u"VERY~VUN.DLL", u"\\\\?\\C:\\t\\verylongfilename.dll", kErrShortName},
      {u"bin", u"\\\\?\\C:\\t\\bi", kErrShortName},
      {u"bin", u"\\\\?\\C:\\elsewhere\\bin", kErrLink},
      {u"bin", u"\\\\?\\C:\\tx\\bin", kErrLink},
      {u"bin", u"\\\\?\\C:\\bin", kErrLink},
  };
  for (const auto& r : rows) {
    Ntfs fs;
    fs.opened = parent + u"\\" + r.name;
    fs.normalized = r.normalized;
    Unit out[64];
    size_t n = 0;
    Err e = check_reached(fs, 0, {parent.data(), parent.size()}, {r.name.data(), r.name.size()},
                          out, 64, &n);
    EXPECT_EQ(e, r.want) << std::string(r.normalized.begin(), r.normalized.end());
    EXPECT_EQ(std::u16string(out, n), r.normalized);
  }
}

}  // namespace
}  // namespace rdz::sys::win32
