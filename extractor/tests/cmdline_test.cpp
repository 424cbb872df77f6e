// The program's own library: its command line, and its workers' workspaces.
#include "cmdline.h"
#include "workspaces.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rdz::cli {
namespace {

// Arguments, in UTF-8, joined by '|' for a line, or what split() says.
std::string split_all(std::u16string_view line, int max_args = 8, size_t room = 64) {
  char storage[64];
  std::string_view args[8];
  const int n = split(line, storage, room, args, max_args);
  std::string out = std::to_string(n) + ":";
  for (int i = 0; i < n; ++i) out += std::string(args[i]) + "|";
  return out;
}

TEST(CommandLine, SplitKeepsWhatTheInstallerQuotesAndEveryLetter) {
  EXPECT_EQ(split_all(uR"(rdz.exe -qq -u -d "C:\work\libs\")"), R"(5:rdz.exe|-qq|-u|-d|C:\work\libs\|)");
  EXPECT_EQ(split_all(uR"("C:\a b\rdz.exe" -d "C:\a\"b)"), R"(3:C:\a b\rdz.exe|-d|C:\a\b|)");
  EXPECT_EQ(split_all(u"x a\"b c\"d\t-u \t -q \"C:\\a b"), "5:x|ab cd|-u|-q|C:\\a b|");
  EXPECT_EQ(split_all(u"x \"\" \"\" \"C:\\Biblioth\u00e8que\\\""), "4:x|||C:\\Biblioth\xC3\xA8que\\|");
  // Letters no code page holds, each where its UTF-8 grows a byte, a
  // fullwidth quote (no quote) and a pair.
  EXPECT_EQ(split_all(u"x -d \u0800pp pre\uFF02post\t\U00010000\u07FF"),
            "5:x|-d|\xE0\xA0\x80pp|pre\xEF\xBC\x82post|\xF0\x90\x80\x80\xDF\xBF|");
  const char16_t half_pairs[][4] = {{u'x', u' ', 0xD800}, {u'x', 0xDC00}, {0xD83D, u'a'}, {0xD83D, 0xE000}};
  for (const auto& line : half_pairs) EXPECT_EQ(split_all(line), "-2:");
  EXPECT_EQ(split_all(u" \t "), "0:");
  EXPECT_EQ(split_all(u"a b c", 2), "-1:");
  EXPECT_EQ(split_all(u"a b", 2), "2:a|b|");
  EXPECT_EQ(split_all(u"abcdef", 2, 3), "-1:");
  EXPECT_EQ(split_all(u"\u00e9\u00e9", 2, 3), "-1:");  // a letter never cut
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

TEST(Workspaces, AWorkerPerProcessorAndOneMoreUpToFour) {
  const struct { unsigned processors, made; } rows[] = {{1, 2}, {2, 3}, {3, 4}, {9, 4}};
  for (const auto& r : rows) {
    Workspace* ws[kMostWorkersWorthStarting];
    const unsigned made = make_workspaces(r.processors, ws);
    EXPECT_EQ(made, r.made) << r.processors;
    for (unsigned i = 0; i < made; ++i) EXPECT_TRUE(ws[i]->ready());
    free_workspaces(ws, made);
  }
}

}  // namespace
}  // namespace rdz::cli
