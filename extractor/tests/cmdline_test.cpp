#include "cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rdz::cli {
namespace {

// Arguments joined by '|' for a line, or "-1" when they do not fit.
std::string split_all(std::string_view line, int max_args = 8, size_t room = 64) {
  char storage[64];
  std::string_view args[8];
  const int n = split(line, storage, room, args, max_args);
  std::string out = std::to_string(n) + ":";
  for (int i = 0; i < n; ++i) out += std::string(args[i]) + "|";
  return out;
}

TEST(CommandLine, SplitKeepsWhatTheInstallerQuotes) {
  EXPECT_EQ(split_all(R"(rdz.exe -qq -u -d "C:\work\libs\")"), R"(5:rdz.exe|-qq|-u|-d|C:\work\libs\|)");
  EXPECT_EQ(split_all(R"("C:\a b\rdz.exe" -d "C:\a\"b)"), R"(3:C:\a b\rdz.exe|-d|C:\a\b|)");
  EXPECT_EQ(split_all("x a\"b c\"d\t-u \t -q \"C:\\a b"), "5:x|ab cd|-u|-q|C:\\a b|");
  EXPECT_EQ(split_all("x \"\" \"\" \"C:\\Biblioth\xE8que\\\""), "4:x|||C:\\Biblioth\xE8que\\|");
  EXPECT_EQ(split_all(" \t "), "0:");
  EXPECT_EQ(split_all("a b c", 2), "-1:");
  EXPECT_EQ(split_all("a b", 2), "2:a|b|");
  EXPECT_EQ(split_all("abcdef", 2, 3), "-1:");
}

TEST(CommandLine, ParseTable) {
  const std::pair<std::vector<std::string_view>, std::string> cases[] = {
      {{}, "ok 0 0 "}, {{"-qq", "-u", "-d", R"(C:\rt\)"}, R"(ok 2 1 C:\rt\)"}, {{"-q"}, "ok 1 0 "},
      {{"-uqqdC:\\x"}, "ok 2 1 C:\\x"}, {{"-q", "-q", "-d", "-u"}, "ok 2 0 -u"}, {{"-u", "-z"}, "bad -z"},
      {{"-uqx"}, "bad -uqx"}, {{"file.zip"}, "bad file.zip"}, {{"-"}, "bad -"}, {{""}, "bad "},
      {{"-d"}, "bad -d"}, {{"-qqq"}, "bad -qqq"}, {{"-q", "-qq"}, "bad -qq"}, {{"-d", "a", "-d", "b"}, "bad -d"},
      {{"-d", "a", "x"}, "bad x"},
  };
  for (const auto& [args, want] : cases) {
    Options o;
    std::string_view bad;
    const bool ok = parse(args.data(), static_cast<int>(args.size()), &o, &bad);
    EXPECT_EQ(ok ? "ok " + std::to_string(o.quiet) + " " + std::to_string(o.update) + " " + std::string(o.dir)
                 : "bad " + std::string(bad), want);
  }
}

}  // namespace
}  // namespace rdz::cli
