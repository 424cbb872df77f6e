// The Windows replace and remove decisions against a model of the NTFS rules
// Wine lacks: a plain rename or delete refuses a read-only file, hard links
// share one set of attributes, and older systems refuse (87) the Ex calls.
#include <gtest/gtest.h>

#include "win32/replace_policy.h"

namespace rdz::sys::win32 {
namespace {

using namespace win;
enum At { file, link };      // what stands at the name (a link to a file)
enum Hold { idle, in_use, swapped };  // another program's handle on it; another file put in its place
struct Row {  // and a file that stays keeps its attributes
  const char* what; bool remove, ex; At at; bool read_only; uint32_t links; Hold hold; Err want;
};

struct Ntfs final : NameOps {
  const Row& r;
  uint32_t attrs = 0x20 | (r.read_only ? kReadOnly : 0);  // whichever name reaches it
  bool open_ = false, gone = false;
  int plains = 0;

  explicit Ntfs(const Row& row) : r(row) {}
  Err open(bool, Standing* s) override { return *s = {attrs, r.links, plains > 1 ? 8u : 7u, r.at != link}, open_ = true, 0; }
  Err set_attrs(uint32_t a) override { return open_ ? (attrs = a, 0) : 6; }
  void close() override { open_ = false; }
  Err rename_ex() override { return r.ex ? done(r.hold) : kInvalidParameter; }
  Err rename_plain() override {
    if (r.hold == swapped && ++plains == 2) return attrs = 0x20, kAccessDenied;  // as the flag was lifted
    return done(r.hold || open_ || (r.at != link && (attrs & kReadOnly)));
  }
  Err dispose_ex() override { return r.ex ? done(r.hold) : kInvalidParameter; }
  Err dispose_plain() override { return done(r.hold || (attrs & kReadOnly)); }
  Err done(bool refused) { return refused ? kAccessDenied : (gone = true, 0); }
};

TEST(ReplacePolicy, ReadOnlyFlagChangesOnlyOnTheNamesOwnFile) {
  const Row rows[] = {
      {"ex, hard-linked", false, true, file, true, 2, idle, 0},
      {"ex, hard-linked, in use", false, true, file, true, 2, in_use, kAccessDenied},
      {"plain", false, false, file, true, 1, idle, 0},
      {"plain, hard-linked", false, false, file, true, 2, idle, kErrReadOnly},
      {"plain, in use", false, false, file, true, 1, in_use, kAccessDenied},
      {"plain, another file put in its place", false, false, file, true, 1, swapped, kAccessDenied},
      {"delete ex, hard-linked", true, true, file, true, 2, idle, 0},
      {"delete plain", true, false, file, true, 1, idle, 0},
      {"delete plain, hard-linked", true, false, file, true, 2, idle, kErrReadOnly},
      {"delete plain, in use", true, false, file, true, 1, in_use, kAccessDenied},
      {"delete plain, hard-linked, writable, in use", true, false, file, false, 2, in_use, kAccessDenied},
      {"delete a link", true, true, link, true, 1, idle, kErrLink},
  };
  for (const Row& r : rows) {
    Ntfs fs(r);
    EXPECT_EQ(r.remove ? remove(fs, true) : replace(fs), r.want) << r.what;
    EXPECT_EQ(fs.gone, r.want == 0) << r.what;
    if (r.want) { EXPECT_EQ(fs.attrs & kReadOnly, r.read_only && r.hold != swapped ? kReadOnly : 0) << r.what; }
  }
}

}  // namespace
}  // namespace rdz::sys::win32
