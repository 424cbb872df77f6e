#include "cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rdz::cli {
namespace {

std::vector<std::string> split_all(std::string_view line) {
  std::vector<char> storage(line.size() + 1);
  std::string_view args[16];
  int n = split(line, storage.data(), storage.size(), args, 16);
  EXPECT_GE(n, 0) << line;
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.emplace_back(args[i]);
  return out;
}

using Args = std::vector<std::string>;

TEST(SplitCommandLine, InstallerLineWithTrailingBackslashKeepsIt) {
  EXPECT_EQ(split_all(R"(ruduvizide.exe -qq -u -d "C:\work\libs\")"),
            (Args{"ruduvizide.exe", "-qq", "-u", "-d", R"(C:\work\libs\)"}));
  EXPECT_EQ(split_all(R"(ruduvizide.exe -d "D:\")"), (Args{"ruduvizide.exe", "-d", R"(D:\)"}));
  // A backslash before a quote in the middle is literal too.
  EXPECT_EQ(split_all(R"(x -d "a\"b)"), (Args{"x", "-d", R"(a\b)"}));
}

TEST(SplitCommandLine, QuotesGroupBlanksAndVanish) {
  EXPECT_EQ(split_all(R"(x -d "C:\Program Files\Ravozi RT")"),
            (Args{"x", "-d", R"(C:\Program Files\Ravozi RT)"}));
  EXPECT_EQ(split_all(R"(x a"b c"d)"), (Args{"x", "ab cd"}));
  EXPECT_EQ(split_all("x\t-u \t -q  "), (Args{"x", "-u", "-q"}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(split_all(R"(x -d "C:\a b)"), (Args{"x", "-d", R"(C:\a b)"}));
}

TEST(SplitCommandLine, EmptyArgumentsSurviveAndNothingGivesNothing) {
  EXPECT_EQ(split_all(R"(x -d "")"), (Args{"x", "-d", ""}));
  EXPECT_EQ(split_all(R"(x "" "")"), (Args{"x", "", ""}));
  EXPECT_TRUE(split_all("").empty());
  EXPECT_TRUE(split_all("   \t ").empty());
}

TEST(SplitCommandLine, QuotedProgramName) {
  EXPECT_EQ(split_all(R"("C:\dir with space\ruduvizide.exe" -qq -d "C:\rt")"),
            (Args{R"(C:\dir with space\ruduvizide.exe)", "-qq", "-d", R"(C:\rt)"}));
}

TEST(SplitCommandLine, NonAsciiBytesPassUntouched) {
  EXPECT_EQ(split_all("x -d \"C:\\Biblioth\xE8que\\\""), (Args{"x", "-d", "C:\\Biblioth\xE8que\\"}));
}

TEST(SplitCommandLine, RefusesMoreArgumentsOrBytesThanRoom) {
  std::string_view args[2];
  char storage[64];
  EXPECT_EQ(split("a b c", storage, sizeof storage, args, 2), -1);
  EXPECT_EQ(split("a b", storage, sizeof storage, args, 2), 2);
  EXPECT_EQ(split("abcdef", storage, 3, args, 2), -1);
}

struct Parsed {
  bool ok;
  Options opt;
  std::string bad;
};

Parsed parse_args(std::vector<std::string_view> args) {
  Parsed p;
  std::string_view bad;
  p.ok = parse(args.data(), static_cast<int>(args.size()), &p.opt, &bad);
  p.bad = std::string(bad);
  return p;
}

TEST(ParseOptions, InstallerInvocation) {
  Parsed p = parse_args({"-qq", "-u", "-d", R"(C:\rt\)"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.opt.quiet, 2);
  EXPECT_TRUE(p.opt.update);
  EXPECT_EQ(p.opt.dir, R"(C:\rt\)");
}

TEST(ParseOptions, DefaultsClustersAndAttachedDirectory) {
  Parsed p = parse_args({});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.opt.quiet, 0);
  EXPECT_FALSE(p.opt.update);
  EXPECT_TRUE(p.opt.dir.empty());

  p = parse_args({"-q"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.opt.quiet, 1);

  p = parse_args({"-uqqdC:\\x"});
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.opt.update);
  EXPECT_EQ(p.opt.quiet, 2);
  EXPECT_EQ(p.opt.dir, "C:\\x");

  p = parse_args({"-q", "-q", "-d", "-u"});  // a directory may look like an option
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.opt.quiet, 2);
  EXPECT_EQ(p.opt.dir, "-u");
  EXPECT_FALSE(p.opt.update);
}

TEST(ParseOptions, RejectsWhatItDoesNotKnow) {
  for (auto args : std::vector<std::vector<std::string_view>>{
           {"-x"}, {"-uqx"}, {"file.zip"}, {"-"}, {""}, {"-d"}, {"-u", "-d"},
           {"-qqq"}, {"-q", "-qq"}, {"-d", "a", "-d", "b"}, {"--help"}, {"-d", "a", "extra"}}) {
    Parsed p = parse_args(args);
    EXPECT_FALSE(p.ok) << (args.empty() ? "" : args[0]);
  }
  EXPECT_EQ(parse_args({"-u", "-z"}).bad, "-z");
}

}  // namespace
}  // namespace rdz::cli
