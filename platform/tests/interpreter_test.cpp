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
  // A name one character too long with any extension.
  const std::string long_comspec = "C:\\" + std::string(253, 'd');
  // Full paths, drive and network, of 259 characters (the longest a program may have) and 260.
  const std::string d259 = "C:\\" + std::string(252, 'd') + ".exe";
  const std::string u259 = "\\\\s\\" + std::string(251, 'u') + ".exe";
  const std::string d260 = "C:\\d" + d259.substr(3), u260 = "\\\\s\\u" + u259.substr(4);
  // The longest command line, 32767 characters, and one more; a system directory too long.
  const std::string fits(32767 - 26, 'x'), long_system = "C:\\" + std::string(250, 's');
  struct Case {
    const char *comspec, *system_dir;
    bool win95;
    std::string starts, refuses;
    Programs programs;
    std::string last_line, command = "run it";
  } cases[] = {
      {"C:\\sys\\CMD.EXE", "C:\\win", false, "C:\\sys\\CMD.EXE", "", {"C:\\sys\\CMD.EXE"},
       "C:\\sys\\CMD.EXE /d /v:off /c run it"},
      {"D:\\my.dir\\sh", nullptr, false, "D:\\my.dir\\sh.bat", "",
       {"D:\\my.dir\\sh.com", "D:\\my.dir\\sh.exe", "D:\\my.dir\\sh.bat"}, "D:\\my.dir\\sh.bat /c run it"},
      {"C:\\gone\\cmd.exe", "C:\\win", false, "C:\\win\\cmd.exe", "",
       {"C:\\gone\\cmd.exe", "C:\\win\\cmd.exe"}, "C:\\win\\cmd.exe /d /v:off /c run it"},
      {"cmd.exe", "C:\\win\\", false, "C:\\win\\cmd.exe", "", {"C:\\win\\cmd.exe"},
       "C:\\win\\cmd.exe /d /v:off /c run it"},
      {".\\sh.exe", "C:\\win", false, "", "", {"C:\\win\\.\\sh.exe", "C:\\win\\cmd.exe"},
       "C:\\win\\cmd.exe /d /v:off /c run it"},
      {nullptr, "C:\\win", true, "", "", {"C:\\win\\command.com"}, "C:\\win\\command.com /c run it"},
      {"", nullptr, false, "", "", {}, ""},  // never the current directory or PATH
      {"\\\\srv\\bad.exe", "C:\\win", false, "", "\\\\srv\\bad.exe", {"\\\\srv\\bad.exe"},
       "\\\\srv\\bad.exe /c run it"},
      {long_comspec.c_str(), "C:\\ok", false, "", "", {"C:\\ok\\cmd.exe"}, "C:\\ok\\cmd.exe /d /v:off /c run it"},
      {"D:\\sh.exe", "C:\\win", false, "", "", {}, "", "run it!"},  // only cmd.exe is told to leave '!'
      {d259.c_str(), "C:\\w", false, d259, "", {d259}, d259 + " /c run it"},
      {u259.c_str(), "C:\\w", false, u259, "", {u259}, u259 + " /c run it"},
      {d260.c_str(), "C:\\w", false, "", "", {"C:\\w\\cmd.exe"}, "C:\\w\\cmd.exe /d /v:off /c run it"},
      {u260.c_str(), "C:\\w", false, "", "", {"C:\\w\\cmd.exe"}, "C:\\w\\cmd.exe /d /v:off /c run it"},
      {nullptr, "C:\\w", false, "C:\\w\\cmd.exe", "", {"C:\\w\\cmd.exe"}, "C:\\w\\cmd.exe /d /v:off /c " + fits,
       fits},
      {nullptr, "C:\\w", false, "", "", {}, "", fits + "x"}, {nullptr, long_system.c_str(), false, "", "", {}, ""},
  };
  for (const Case& c : cases) {
    Starter s{c.starts, c.refuses, {}, {}};
    StartResult expected = c.starts.empty() ? StartResult::failed : StartResult::started;
    EXPECT_EQ(ops::start_interpreter(c.comspec, c.system_dir, c.win95, c.command.c_str(), Starter::start, &s),
              expected);
    EXPECT_EQ(s.programs, c.programs);
    EXPECT_EQ(s.lines.empty() ? "" : s.lines.back(), c.last_line);
  }
  // A target holding '!' is refused up front unless only cmd.exe can run it.
  EXPECT_TRUE(ops::interpreter_is_cmd(nullptr, false) && ops::interpreter_is_cmd("C:\\x\\Cmd.exe", false));
  EXPECT_FALSE(ops::interpreter_is_cmd(nullptr, true) || ops::interpreter_is_cmd("C:\\x\\cmd", false));
}

}  // namespace
