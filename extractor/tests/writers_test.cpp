// Archives made by real writers (see make_fixtures.py) must unpack to the
// tree they were made from.
#include "extract.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "testutil.h"

namespace rdz {
namespace {

namespace stdfs = std::filesystem;
using test::tree;
namespace fs = sys;
using sys::FileSource;

class Quiet final : public Reporter {
 public:
  void info(std::string_view) override {}
  void error(std::string_view line) override { err += line; }
  std::string err;
};

struct Unpacked {
  int rc;
  std::string err;
  stdfs::path dir;
};

Unpacked unpack(const stdfs::path& zip, const stdfs::path& dir, bool update = false) {
  fs::File f;
  uint64_t size = 0;
  EXPECT_EQ(fs::open_read(zip.c_str(), f, &size), 0) << zip;
  FileSource src(f, size);
  auto ws = std::make_unique<Workspace>();
  Quiet q;
  cli::Options opt;
  opt.update = update;
  Workspace* one = ws.get();
  int rc = extract(src, dir.string(), opt, &one, 1, q);
  return {rc, q.err, dir};
}

class Writers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(tmp.path.empty()); }
  test::TempDir tmp;
  stdfs::path root = tmp.path;
  const stdfs::path fixtures = RDZ_FIXTURES;
};

TEST_F(Writers, EveryArchiveReproducesItsTree) {
  int seen = 0;
  for (auto& it : stdfs::directory_iterator(fixtures)) {
    std::string name = it.path().filename().string();
    if (it.path().extension() != ".zip") continue;
    SCOPED_TRACE(name);
    std::string tree_name = name.substr(name.find('@') + 1);
    tree_name.resize(tree_name.size() - 4);
    Unpacked u = unpack(it.path(), root / name);
    ASSERT_EQ(u.rc, kExitOk) << u.err;
    EXPECT_EQ(tree(u.dir), tree(fixtures / tree_name));
    ++seen;
  }
  // Python's five and CMake's come whatever else is installed.
  EXPECT_GE(seen, 6);
}

TEST_F(Writers, UpdateRestoresOnlyWhatWentMissing) {
  const stdfs::path zip = fixtures / "cmake@tree.zip";
  ASSERT_EQ(unpack(zip, root / "t").rc, kExitOk);
  struct stat st;
  ASSERT_EQ(::stat((root / "t/readme.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1704067200);  // the archive's --mtime, 2024-01-01 UTC
  stdfs::remove(root / "t/bin/win32/lib.dll");
  std::ofstream(root / "t/readme.txt", std::ios::trunc) << "changed later, so newer";
  ASSERT_EQ(unpack(zip, root / "t", true).rc, kExitOk);
  std::vector<std::string> got = tree(root / "t"), want = tree(fixtures / "tree");
  EXPECT_EQ(got.size(), want.size());
  EXPECT_EQ(got, want);  // a file of another size is restored, however new
  EXPECT_TRUE(stdfs::exists(root / "t/bin/win32/lib.dll"));
  EXPECT_EQ(stdfs::file_size(root / "t/bin/win32/lib.dll"), 70000u);
}

TEST_F(Writers, MissingArchiveFileIsAnOsError) {
  fs::File f;
  uint64_t size;
  EXPECT_TRUE(fs::is_missing(fs::open_read((root / "nope.zip").c_str(), f, &size)));
}

}  // namespace
}  // namespace rdz
