#include "cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rdz::cli {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, SplitTable) {
  const std::pair<std::string, Args> cases[] = {
      // The installer quotes a typed path without escaping its last backslash.
      {R"(rdz.exe -qq -u -d "C:\work\libs\")", {"rdz.exe", "-qq", "-u", "-d", R"(C:\work\libs\)"}},
      {R"(x -d "a\"b)", {"x", "-d", R"(a\b)"}},
      {R"("C:\a b\rdz.exe" -d "C:\Program Files\RT")", {R"(C:\a b\rdz.exe)", "-d", R"(C:\Program Files\RT)"}},
      {R"(x a"b c"d)", {"x", "ab cd"}}, {"x\t-u \t -q  ", {"x", "-u", "-q"}},
      {R"(x -d "C:\a b)", {"x", "-d", R"(C:\a b)"}}, {R"(x "" "")", {"x", "", ""}},
      {"x \"C:\\Biblioth\xE8que\\\"", {"x", "C:\\Biblioth\xE8que\\"}}, {"", {}}, {" \t ", {}},
  };
  for (const auto& [line, want] : cases) {
    std::vector<char> storage(line.size() + 1);
    std::string_view args[8];
    const int n = split(line, storage.data(), line.size(), args, 8);
    ASSERT_EQ(n, static_cast<int>(want.size())) << line;
    EXPECT_EQ(Args(args, args + n), want) << line;
  }
  std::string_view two[2];
  char storage[64];
  EXPECT_EQ(split("a b c", storage, sizeof storage, two, 2), -1);
  EXPECT_EQ(split("a b", storage, sizeof storage, two, 2), 2);
  EXPECT_EQ(split("abcdef", storage, 3, two, 2), -1);
}

TEST(CommandLine, ParseTable) {
  struct Case {
    std::vector<std::string_view> args;
    bool ok;
    int quiet;
    bool update;
    std::string_view dir;  // or the offending argument
  };
  const Case cases[] = {
      {{}, true, 0, false, ""}, {{"-qq", "-u", "-d", R"(C:\rt\)"}, true, 2, true, R"(C:\rt\)"},
      {{"-q"}, true, 1, false, ""}, {{"-uqqdC:\\x"}, true, 2, true, "C:\\x"},
      {{"-q", "-q", "-d", "-u"}, true, 2, false, "-u"}, {{"-u", "-z"}, false, 0, false, "-z"},
      {{"-uqx"}, false, 0, false, "-uqx"}, {{"file.zip"}, false, 0, false, "file.zip"},
      {{"-"}, false, 0, false, "-"}, {{""}, false, 0, false, ""}, {{"-d"}, false, 0, false, "-d"},
      {{"-qqq"}, false, 0, false, "-qqq"}, {{"-q", "-qq"}, false, 0, false, "-qq"},
      {{"-d", "a", "-d", "b"}, false, 0, false, "-d"}, {{"-d", "a", "x"}, false, 0, false, "x"},
  };
  for (const Case& c : cases) {
    Options opt;
    std::string_view bad;
    const std::string line = c.args.empty() ? "" : std::string(c.args[0]);
    ASSERT_EQ(parse(c.args.data(), static_cast<int>(c.args.size()), &opt, &bad), c.ok) << line;
    if (!c.ok) {
      EXPECT_EQ(bad, c.dir) << line;
      continue;
    }
    EXPECT_EQ(opt.quiet, c.quiet) << line;
    EXPECT_EQ(opt.update, c.update) << line;
    EXPECT_EQ(opt.dir, c.dir) << line;
  }
}

}  // namespace
}  // namespace rdz::cli
