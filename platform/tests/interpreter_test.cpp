#include "platform/interpreter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Programs = std::vector<std::string>;
using ops::StartResult;

// Pretends to start programs: one starts, one refuses, the rest are not found.
struct Starter {
  std::string starts, refuses;
  Programs programs, lines;

  static StartResult start(const char* program, char* line, void* self) {
    auto* s = static_cast<Starter*>(self);
    s->programs.push_back(program);
    s->lines.push_back(line);
    return program == s->starts    ? StartResult::started
           : program == s->refuses ? StartResult::failed
                                   : StartResult::not_found;
  }
};

TEST(Interpreter, CandidatesAreTriedInOrderUntilOneStartsOrRefuses) {
  // A name one character too long with any extension, and a PATH entry far too long.
  const std::string long_comspec = "C:\\" + std::string(253, 'd'), path = std::string(300, 'd') + ";C:\\ok";
  struct Case {
    const char *comspec, *path;
    bool win95;
    std::string starts, refuses;
    Programs programs;
    std::string last_line;
  } cases[] = {
      {"C:\\sys\\CMD.EXE", "C:\\bin", false, "C:\\sys\\CMD.EXE", "", {"C:\\sys\\CMD.EXE"},
       "C:\\sys\\CMD.EXE /d /c run it"},
      {"D:\\my.dir\\sh", nullptr, false, "D:\\my.dir\\sh.bat", "",
       {"D:\\my.dir\\sh.com", "D:\\my.dir\\sh.exe", "D:\\my.dir\\sh.bat"}, "D:\\my.dir\\sh.bat /c run it"},
      {"C:\\gone\\cmd.exe", "C:\\a;;\"C:\\b\";C:\\c", false, "C:\\b\\cmd.exe", "",
       {"C:\\gone\\cmd.exe", "cmd.exe", "C:\\a\\cmd.exe", "C:\\b\\cmd.exe"}, "C:\\b\\cmd.exe /d /c run it"},
      {"", "C:\\sys\\", false, "", "", {"cmd.exe", "C:\\sys\\cmd.exe"}, "C:\\sys\\cmd.exe /d /c run it"},
      {nullptr, "C:\\win", true, "", "", {"command.com", "C:\\win\\command.com"},
       "C:\\win\\command.com /c run it"},
      {"C:\\bad.exe", "C:\\a", false, "", "C:\\bad.exe", {"C:\\bad.exe"}, "C:\\bad.exe /c run it"},
      {long_comspec.c_str(), path.c_str(), false, "", "", {"cmd.exe", "C:\\ok\\cmd.exe"},
       "C:\\ok\\cmd.exe /d /c run it"},
  };
  for (const Case& c : cases) {
    Starter s{c.starts, c.refuses, {}, {}};
    StartResult expected = c.starts.empty() ? StartResult::failed : StartResult::started;
    EXPECT_EQ(ops::start_interpreter(c.comspec, c.path, c.win95, "run it", Starter::start, &s), expected);
    EXPECT_EQ(s.programs, c.programs);
    EXPECT_EQ(s.lines.back(), c.last_line);
  }
}

}  // namespace
