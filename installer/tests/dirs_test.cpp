#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/paths.h"
#include "platform/fake/fake_ops.h"

namespace {

using Created = std::vector<std::string>;

class Dirs : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }

  // Runs make_directory_tree on a writable copy and checks that the text is
  // restored, as the caller relies on.
  int make(const std::string& path) {
    std::vector<char> buf(path.begin(), path.end());
    buf.push_back('\0');
    int r = installer::make_directory_tree(buf.data());
    EXPECT_EQ(std::string(buf.data()), path);
    return r;
  }
  const Created& created() { return fake::world().created; }
};

TEST_F(Dirs, IsDirectoryTellsDirectoriesFromFilesAndMissingPaths) {
  fake::add_tree("C:\\rt");
  fake::world().files.insert("C:\\rt\\file");
  EXPECT_EQ(installer::is_directory("C:\\rt"), 1);
  EXPECT_EQ(installer::is_directory("C:\\rt\\file"), 0);
  EXPECT_EQ(installer::is_directory("C:\\missing"), 0);
  EXPECT_EQ(installer::is_directory(""), 0);
}

TEST_F(Dirs, CreatesMissingDirectoriesOutermostFirst) {
  fake::add_tree("C:\\");
  EXPECT_EQ(make("C:\\a\\b\\c"), 0);
  EXPECT_EQ(created(), (Created{"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}));
}

TEST_F(Dirs, ExistingDirectoryCreatesNothing) {
  fake::add_tree("C:\\a\\b");
  EXPECT_EQ(make("C:\\a\\b"), 0);
  EXPECT_EQ(make("C:\\a\\b\\"), 0);
  EXPECT_TRUE(created().empty());
}

TEST_F(Dirs, TrailingBackslashNamesTheSameDirectoryAsWithout) {
  fake::add_tree("C:\\");
  EXPECT_EQ(make("C:\\dir\\"), 0);
  EXPECT_EQ(created(), Created{"C:\\dir"});
  EXPECT_EQ(make("C:\\a\\b\\"), 0);
  EXPECT_EQ(created(), (Created{"C:\\dir", "C:\\a", "C:\\a\\b"}));
  // Without a parent to create it from, it still fails.
  EXPECT_EQ(make("dir\\"), -1);
}

TEST_F(Dirs, PathsWithoutACreatableParentFailWithoutAnyCreation) {
  fake::add_tree("C:\\");
  for (const char* path : {"\\dir", "libs", "", "Q:\\x", "Q:\\", "Q:"}) {
    EXPECT_EQ(make(path), -1) << path;
  }
  EXPECT_TRUE(created().empty());
}

TEST_F(Dirs, DriveRelativeAndColonSplitPaths) {
  fake::add_tree("C:");
  EXPECT_EQ(make("C:libs"), 0);
  fake::add_tree("ab:");
  EXPECT_EQ(make("ab:cd"), 0);
  EXPECT_EQ(created(), (Created{"C:libs", "ab:cd"}));
}

TEST_F(Dirs, NetworkPathCreatesOnlyBelowTheShare) {
  fake::world().dirs.insert("\\\\server\\share");
  EXPECT_EQ(make("\\\\server\\share\\dir"), 0);
  EXPECT_EQ(created(), Created{"\\\\server\\share\\dir"});
}

TEST_F(Dirs, RefusalMidwayFailsAndKeepsWhatWasCreated) {
  fake::add_tree("C:\\");
  fake::world().refuse_create.insert("C:\\a\\b");
  EXPECT_EQ(make("C:\\a\\b\\c"), -1);
  EXPECT_EQ(created(), Created{"C:\\a"});
}

TEST_F(Dirs, FileInTheWayFails) {
  fake::add_tree("C:\\a");
  fake::world().files.insert("C:\\a\\f");
  EXPECT_EQ(make("C:\\a\\f\\g"), -1);
  EXPECT_TRUE(created().empty());
}

TEST_F(Dirs, ForwardSlashesAreNotSeparators) {
  // C:/a/b splits only after the colon: its parent is C:, so C:/a/b is
  // created in one step or not at all.
  fake::add_tree("C:");
  EXPECT_EQ(make("C:/a/b"), 0);
  EXPECT_EQ(created(), Created{"C:/a/b"});
}

}  // namespace
