#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/dirs.h"
#include "platform/fake/fake_ops.h"

namespace {

using Strings = std::vector<std::string>;

TEST(MakeDirectoryTree, CreatesMissingDirectoriesOutermostFirst) {
  const std::string sjis_so = "\x83\x5C";  // its second byte is a backslash
  struct Case {
    Strings existing;
    std::string path;
    int result;
    Strings created;
    int code_page = 1252;
  } cases[] = {
      {{"C:\\"}, "C:\\a\\b\\c", 0, {"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}},
      {{"C:\\a\\b"}, "C:\\a\\b\\", 0, {}},
      {{"C:\\"}, "C:\\dir\\", 0, {"C:\\dir"}},
      {{"C:"}, "C:libs", 0, {"C:libs"}},
      {{"ab:"}, "ab:cd", 0, {"ab:cd"}},
      {{"C:"}, "C:/a/b", 0, {"C:/a/b"}},  // forward slashes are no separators
      {{"\\\\server\\share"}, "\\\\server\\share\\dir", 0, {"\\\\server\\share\\dir"}},
      {{"C:\\"}, "C:\\" + sjis_so + "\\x", 0, {"C:\\" + sjis_so, "C:\\" + sjis_so + "\\x"}, 932},
      {{"C:\\"}, "C:\\" + sjis_so, 0, {"C:\\" + sjis_so}, 932},
      {{"C:\\"}, "C:\\a\\" + std::string(250, 'b'), -1, {"C:\\a"}},  // refused midway
      {{"C:\\a"}, "C:\\a\\f\\g", -1, {}},                           // a file in the way
      {{"C:\\"}, "\\dir", -1, {}},
      {{"C:\\"}, "libs", -1, {}},
      {{"C:\\"}, "dir\\", -1, {}},
      {{"C:\\"}, "", -1, {}},
      {{"C:\\"}, "Q:\\x", -1, {}},
      {{"C:\\"}, "Q:", -1, {}},
  };
  for (const Case& c : cases) {
    fake::reset();
    fake::world().ansi_code_page = c.code_page;
    for (const auto& dir : c.existing) fake::add_tree(dir);
    fake::world().files.insert("C:\\a\\f");
    std::string buf = c.path;
    EXPECT_EQ(installer::make_directory_tree(buf.data()), c.result) << c.path;
    EXPECT_EQ(buf.c_str(), c.path) << "the text is restored";
    EXPECT_EQ(fake::world().created, c.created) << c.path;
  }
}

}  // namespace
