#include "platform/interpreter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Pretends to start programs: records each attempt and answers from a table
// (anything not listed is not found).
struct Starter {
  std::map<std::string, ops::StartResult> answers;
  std::vector<std::string> programs;
  std::vector<std::string> lines;

  static ops::StartResult start(const char* program, char* line, void* self) {
    auto* s = static_cast<Starter*>(self);
    s->programs.push_back(program);
    s->lines.push_back(line);
    auto it = s->answers.find(program);
    return it == s->answers.end() ? ops::StartResult::not_found : it->second;
  }

  ops::StartResult run(const char* comspec, const char* path, bool win95 = false) {
    return ops::start_interpreter(comspec, path, win95, "ruduvizide.exe -qq -u -d \"C:\\x\"",
                                  start, this);
  }
};

using Programs = std::vector<std::string>;

TEST(Interpreter, ComspecWithExtensionIsStartedWithSlashC) {
  Starter s;
  s.answers["C:\\windows\\system32\\cmd.exe"] = ops::StartResult::started;
  EXPECT_EQ(s.run("C:\\windows\\system32\\cmd.exe", "C:\\bin"), ops::StartResult::started);
  EXPECT_EQ(s.programs, Programs{"C:\\windows\\system32\\cmd.exe"});
  EXPECT_EQ(s.lines[0], "C:\\windows\\system32\\cmd.exe /c ruduvizide.exe -qq -u -d \"C:\\x\"");
}

TEST(Interpreter, ComspecWithoutExtensionTriesFourExtensionsInOrder) {
  Starter s;
  s.answers["D:\\tools\\shell.bat"] = ops::StartResult::started;
  EXPECT_EQ(s.run("D:\\tools\\shell", nullptr), ops::StartResult::started);
  EXPECT_EQ(s.programs, (Programs{"D:\\tools\\shell.com", "D:\\tools\\shell.exe",
                                  "D:\\tools\\shell.bat"}));
}

TEST(Interpreter, DotInDirectoryIsNotAnExtension) {
  Starter s;
  s.run("C:\\my.tools\\shell", nullptr);
  EXPECT_EQ(s.programs[0], "C:\\my.tools\\shell.com");
}

TEST(Interpreter, ComspecNotFoundFallsBackToCurrentDirectoryThenPath) {
  Starter s;
  s.answers["C:\\b\\cmd.exe"] = ops::StartResult::started;
  EXPECT_EQ(s.run("C:\\gone\\cmd.exe", "C:\\a;;\"C:\\b\";C:\\c"), ops::StartResult::started);
  EXPECT_EQ(s.programs, (Programs{"C:\\gone\\cmd.exe", "cmd.exe", "C:\\a\\cmd.exe",
                                  "C:\\b\\cmd.exe"}));
  EXPECT_EQ(s.lines.back(), "C:\\b\\cmd.exe /c ruduvizide.exe -qq -u -d \"C:\\x\"");
}

TEST(Interpreter, UnsetOrEmptyComspecUsesFallbackAndTrailingSeparatorIsNotDoubled) {
  for (const char* comspec : {static_cast<const char*>(nullptr), ""}) {
    Starter s;
    s.run(comspec, "C:\\sys\\");
    EXPECT_EQ(s.programs, (Programs{"cmd.exe", "C:\\sys\\cmd.exe"}));
  }
}

TEST(Interpreter, Windows95FamilyFallsBackToCommandCom) {
  Starter t;
  t.run(nullptr, "C:\\win", true);
  EXPECT_EQ(t.programs, (Programs{"command.com", "C:\\win\\command.com"}));
}

TEST(Interpreter, OtherRefusalOfComspecGivesUpWithoutFallback) {
  Starter s;
  s.answers["C:\\bad.exe"] = ops::StartResult::failed;
  EXPECT_EQ(s.run("C:\\bad.exe", "C:\\a"), ops::StartResult::failed);
  EXPECT_EQ(s.programs, Programs{"C:\\bad.exe"});
}

TEST(Interpreter, NothingFoundAnywhereFails) {
  Starter s;
  EXPECT_EQ(s.run("cmd", "C:\\a;C:\\b"), ops::StartResult::failed);
  // A bare name is looked for in the current directory only.
  EXPECT_EQ(s.programs, (Programs{"cmd.com", "cmd.exe", "cmd.bat", "cmd.cmd", "cmd.exe",
                                  "C:\\a\\cmd.exe", "C:\\b\\cmd.exe"}));
}

TEST(Interpreter, OverlongProgramNamesAreSkippedNotTruncated) {
  Starter s;
  std::string dir(300, 'd');
  s.run(("C:\\" + dir + "\\cmd.exe").c_str(), (dir + ";C:\\ok").c_str());
  for (const auto& p : s.programs) EXPECT_LT(p.size(), 260u) << p;
  EXPECT_EQ(s.programs.back(), "C:\\ok\\cmd.exe");
}

}  // namespace
