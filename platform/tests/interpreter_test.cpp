#include "platform/interpreter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Programs = std::vector<std::string>;
using ops::StartResult;

// Pretends to start programs: records each attempt and answers from a table
// (anything not listed is not found).
struct Starter {
  std::map<std::string, StartResult> answers;
  Programs programs;
  std::vector<std::string> lines;

  static StartResult start(const char* program, char* line, void* self) {
    auto* s = static_cast<Starter*>(self);
    s->programs.push_back(program);
    s->lines.push_back(line);
    auto it = s->answers.find(program);
    return it == s->answers.end() ? StartResult::not_found : it->second;
  }
};

TEST(Interpreter, CandidatesAreTriedInOrderUntilOneStartsOrRefuses) {
  const std::string long_dir(300, 'd');
  const std::string long_comspec = "C:\\" + long_dir + "\\cmd.exe";
  const std::string long_path = long_dir + ";C:\\ok";
  struct Case {
    const char* comspec;
    const char* path;
    bool win95;
    std::map<std::string, StartResult> answers;
    StartResult result;
    Programs programs;
    std::string last_line;
  } cases[] = {
      {"C:\\windows\\system32\\CMD.EXE", "C:\\bin", false,
       {{"C:\\windows\\system32\\CMD.EXE", StartResult::started}}, StartResult::started,
       {"C:\\windows\\system32\\CMD.EXE"}, "C:\\windows\\system32\\CMD.EXE /d /c run it"},
      {"D:\\my.tools\\shell", nullptr, false, {{"D:\\my.tools\\shell.bat", StartResult::started}},
       StartResult::started,
       {"D:\\my.tools\\shell.com", "D:\\my.tools\\shell.exe", "D:\\my.tools\\shell.bat"},
       "D:\\my.tools\\shell.bat /c run it"},
      {"C:\\gone\\cmd.exe", "C:\\a;;\"C:\\b\";C:\\c", false,
       {{"C:\\b\\cmd.exe", StartResult::started}}, StartResult::started,
       {"C:\\gone\\cmd.exe", "cmd.exe", "C:\\a\\cmd.exe", "C:\\b\\cmd.exe"},
       "C:\\b\\cmd.exe /d /c run it"},
      {"", "C:\\sys\\", false, {}, StartResult::failed, {"cmd.exe", "C:\\sys\\cmd.exe"},
       "C:\\sys\\cmd.exe /d /c run it"},
      {nullptr, "C:\\win", true, {}, StartResult::failed,
       {"command.com", "C:\\win\\command.com"}, "C:\\win\\command.com /c run it"},
      {"C:\\bad.exe", "C:\\a", false, {{"C:\\bad.exe", StartResult::failed}},
       StartResult::failed, {"C:\\bad.exe"}, "C:\\bad.exe /c run it"},
      {"cmd", "C:\\a", false, {}, StartResult::failed,
       {"cmd.com", "cmd.exe", "cmd.bat", "cmd.cmd", "cmd.exe", "C:\\a\\cmd.exe"},
       "C:\\a\\cmd.exe /d /c run it"},
      // Names too long for the system are skipped, not cut.
      {long_comspec.c_str(), long_path.c_str(), false, {}, StartResult::failed,
       {"cmd.exe", "C:\\ok\\cmd.exe"}, "C:\\ok\\cmd.exe /d /c run it"},
  };
  for (const Case& c : cases) {
    Starter s;
    s.answers = c.answers;
    EXPECT_EQ(ops::start_interpreter(c.comspec, c.path, c.win95, "run it", Starter::start, &s),
              c.result);
    EXPECT_EQ(s.programs, c.programs);
    EXPECT_EQ(s.lines.back(), c.last_line);
  }
}

}  // namespace
