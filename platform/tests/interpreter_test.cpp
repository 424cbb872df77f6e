#include "platform/interpreter.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

const std::set<std::string> kFiles = {
    "C:\\sys\\CMD.EXE", "D:\\my.dir\\sh.bat", "D:\\my.dir\\sh.cmd", "C:\\win\\cmd.exe", "C:\\win\\command.com",
    "C:\\win\\.\\sh.exe", "C:\\win\\..\\tools\\cmd.exe", "C:\\win\\a..exe", "C:\\win\\C:sh.exe", "D:\\sh.exe",
    "C:\\ok\\cmd.exe", "C:\\sys\\cmd.exe. ", "C:\\win\\cmd.exe ", "\\\\srv\\cmd.exe"};

bool is_file(const char* path, void* files) { return static_cast<std::set<std::string>*>(files)->count(path) != 0; }

TEST(Interpreter, AFullPathOrABareNameThatIsAFileElseTheSystemsCmd) {
  const std::string long_comspec = "C:\\" + std::string(253, 'd');  // one too long with any extension
  // Full paths, drive and network, of 259 characters (the longest a program may have) and 260.
  const std::string d259 = "C:\\" + std::string(252, 'd') + ".exe", u259 = "\\\\s\\" + std::string(251, 'u') + ".exe";
  const std::string d260 = "C:\\d" + d259.substr(3), u260 = "\\\\s\\u" + u259.substr(4);
  // The longest command line, 32767 characters, and one more; a system directory whose cmd.exe
  // is 260 characters, one too many (cut, it would name another file).
  const std::string fits(32767 - 26, 'x'), long_system = "C:\\" + std::string(249, 's');
  std::set<std::string> files = kFiles;
  files.insert({d259, u259, d260, u260, "C:\\w\\cmd.exe", long_system + "\\cmd.ex"});
  struct Case {
    const char *comspec, *system_dir;
    std::string program, line;
    bool win95 = false;
    std::string command = "run it";
  } cases[] = {
      {"C:\\sys\\CMD.EXE", "C:\\win", "C:\\sys\\CMD.EXE", "C:\\sys\\CMD.EXE /d /v:off /c run it"},
      {"\"C:\\sys\\CMD.EXE\"", "C:\\win", "C:\\sys\\CMD.EXE", "C:\\sys\\CMD.EXE /d /v:off /c run it"},
      {"D:\\my.dir\\sh", nullptr, "D:\\my.dir\\sh.bat", "D:\\my.dir\\sh.bat /c run it"},
      {"\\\\srv\\gone.exe", "C:\\win", "C:\\win\\cmd.exe", "C:\\win\\cmd.exe /d /v:off /c run it"},
      {"\\\\srv\\cmd.exe", "C:\\win", "\\\\srv\\cmd.exe", "\\\\srv\\cmd.exe /d /v:off /c run it"},
      {"cmd.exe", "C:\\win\\", "C:\\win\\cmd.exe", "C:\\win\\cmd.exe /d /v:off /c run it"},
      {"C:\\sys\\cmd.exe. ", "C:\\no", "C:\\sys\\cmd.exe. ", "C:\\sys\\cmd.exe.  /d /v:off /c run it"},
      {"cmd.exe ", "C:\\win", "C:\\win\\cmd.exe ", "C:\\win\\cmd.exe  /d /v:off /c run it"},
      // Joined onto the system directory, none of these may leave it.
      {".\\sh.exe", "C:\\win", "C:\\win\\cmd.exe", "C:\\win\\cmd.exe /d /v:off /c run it"},
      {"..\\tools\\cmd.exe", "C:\\win", "C:\\win\\cmd.exe", "C:\\win\\cmd.exe /d /v:off /c run it"},
      {"a..exe", "C:\\win", "C:\\win\\cmd.exe", "C:\\win\\cmd.exe /d /v:off /c run it"},
      {"C:sh.exe", "C:\\win", "C:\\win\\cmd.exe", "C:\\win\\cmd.exe /d /v:off /c run it"},
      {nullptr, "C:\\win", "C:\\win\\command.com", "C:\\win\\command.com /c run it", true},
      {"", nullptr, "", ""},  // never the current directory or PATH
      {long_comspec.c_str(), "C:\\ok", "C:\\ok\\cmd.exe", "C:\\ok\\cmd.exe /d /v:off /c run it"},
      {"D:\\sh.exe", "C:\\win", "D:\\sh.exe", "no line", false, "run it!"},  // only cmd.exe is told to leave '!'
      {d259.c_str(), "C:\\w", d259, d259 + " /c run it"}, {u259.c_str(), "C:\\w", u259, u259 + " /c run it"},
      {d260.c_str(), "C:\\w", "C:\\w\\cmd.exe", "C:\\w\\cmd.exe /d /v:off /c run it"},
      {u260.c_str(), "C:\\w", "C:\\w\\cmd.exe", "C:\\w\\cmd.exe /d /v:off /c run it"},
      {nullptr, "C:\\w", "C:\\w\\cmd.exe", "C:\\w\\cmd.exe /d /v:off /c " + fits, false, fits},
      {nullptr, "C:\\w", "C:\\w\\cmd.exe", "no line", false, fits + "x"}, {nullptr, long_system.c_str(), "", ""},
  };
  for (const Case& c : cases) {
    char program[ops::kMaxProgram] = "", line[ops::kMaxCommandLine] = "";
    bool found = ops::choose_interpreter(c.comspec, c.system_dir, c.win95, is_file, &files, program);
    EXPECT_EQ(found ? program : "", c.program) << c.comspec;
    EXPECT_EQ(!found ? "" : ops::interpreter_command_line(program, c.command.c_str(), line, sizeof line) ? line : "no line",
              c.line) << c.comspec;
  }
}

}  // namespace
