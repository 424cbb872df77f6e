#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/dirs.h"
#include "platform/fake/fake_ops.h"

namespace {

using Strings = std::vector<std::string>;

TEST(MakeDirectoryTree, CreatesMissingDirectoriesOutermostFirst) {
  const std::string so = "\x83\x5C";  // a letter whose second byte is a backslash
  struct Case {
    std::string existing, path;
    int result;
    Strings created;
    int code_page = 1252;
  } cases[] = {
      {"C:\\", "C:\\a\\b\\c", 0, {"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}},
      {"C:\\a\\b", "C:\\a\\b\\", 0, {}},
      {"C:\\", "C:\\dir\\", 0, {"C:\\dir"}},
      {"ab:", "ab:cd", 0, {"ab:cd"}},
      {"C:", "C:/a/b", 0, {"C:/a/b"}},  // forward slashes are no separators
      {"\\\\server\\share", "\\\\server\\share\\dir", 0, {"\\\\server\\share\\dir"}},
      {"C:\\", "C:\\" + so + "\\x", 0, {"C:\\" + so, "C:\\" + so + "\\x"}, 932},
      {"C:\\", "C:\\a\\" + std::string(250, 'b'), -1, {"C:\\a"}},  // refused midway
      {"C:\\f", "C:\\f\\file\\g", -1, {}},                         // a file in the way
      {"C:\\", "\\dir", -1, {}},
      {"C:\\", "libs", -1, {}},
      {"C:\\", "Q:\\x", -1, {}},
      {"C:\\", "Q:", -1, {}},
  };
  for (const Case& c : cases) {
    fake::reset();
    fake::world().ansi_code_page = c.code_page;
    fake::add_tree(c.existing);
    fake::world().files.insert("C:\\f\\file");
    std::string buf = c.path;
    EXPECT_EQ(installer::make_directory_tree(buf.data()), c.result) << c.path;
    EXPECT_EQ(buf.c_str(), c.path) << "the text is restored";
    EXPECT_EQ(fake::world().created, c.created) << c.path;
  }
}

}  // namespace
