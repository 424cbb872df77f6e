#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/record.h"
#include "installer/run.h"
#include "platform/fake/fake_ops.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kPrompt =
    "Enter the directory to which to install the run-time libraries\n  [default: C:\\work]: ";
const std::string kSuccess = "\nFinished successfully. Press Enter key to exit the installer.\n";
const std::string kFailure = "\nFinished unsuccessfully. Press Enter key to exit the installer.\n";
const std::string kSjis = "\x83\x5C\x83\x74\x83\x67";  // three letters, 5C the first's second byte

std::string command(const std::string& target) { return ".\\ruduvizide.exe -qq -u -d \"" + target + "\""; }
std::string not_created(const std::string& target, const std::string& reason) {
  return "Error: could not create " + target + ".\n" + reason + "\n";
}
std::string not_run(const std::string& target, const std::string& reason) {
  return "Error: could not run command '" + command(target) + "'.\n" + reason;
}
std::string refused(const std::string& what) { return "Error: " + what + "; nothing was installed.\n"; }

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::add_tree("C:\\work");
    fake::world().files.insert("ruduvizide.exe");
    fake::world().error_texts = {{2, "Not found.\r\n"}, {206, "Too long.\r\n"}};
    fake::world().unheld = "\x7F";
    // A working extractor: it leaves the library directory below its target.
    fake::world().on_command = [](const std::string& line) {
      return fake::add_tree(line.substr(28, line.size() - 29) + "\\bin\\win32"), 0;
    };
  }
  // Runs the installer; returns its standard output after the notice.
  std::string run(const std::string& input, int result) {
    fake::world().input = input;
    EXPECT_EQ(installer::run_installer(), result) << input;
    // Whatever happened, the extractor is deleted, once, and the dialogue
    // ends with the outcome line and one key press that takes all input.
    EXPECT_EQ(fake::world().deleted, Strings{"ruduvizide.exe"});
    EXPECT_EQ(fake::world().events.back(), "read_char");
    EXPECT_EQ(fake::world().input_pos, input.size());
    EXPECT_EQ(fake::world().open_keys + fake::world().texts_outstanding, 0);
    const std::string& out = fake::world().out;
    EXPECT_EQ(out.find("DARADA Ravozi Run-Time Library Installer version 1.1.\n\nThis application "
                       "installs the DARADA Ravozi Run-Time Libraries.\n"), 0u);
    const std::string notice_end = "      your PATH is configured correctly as mentioned above.\n\n";
    return out.substr(out.find(notice_end) + notice_end.size());
  }
  std::string recorded() {
    auto& values = fake::world().registry[installer::kRecordKey];
    return values.count(installer::kRecordValue) ? values[installer::kRecordValue].data : "";
  }
};

TEST_F(Run, AnswersLandWhereTheySayOrAreRefusedBeforeAnythingIsMade) {
  const std::string long_dir = "C:\\" + std::string(246, 'a'), a252(252, 'a');
  const std::string trims = "A directory name ends in a blank or a dot, which Windows would drop.";
  struct Case {
    std::string input, target, err;  // no target: refused
    Strings made = {};
    int code_page = 1252;
  } cases[] = {
      {"\n\n", "C:\\work", ""},
      {"libs\\rt\n", "C:\\work\\libs\\rt", "", {"C:\\work\\libs", "C:\\work\\libs\\rt"}},
      {"\\rt\n", "C:\\rt", "", {"C:\\rt"}},
      {kSjis + "\\lib", "C:\\work\\" + kSjis + "\\lib", "",
       {"C:\\work\\" + kSjis, "C:\\work\\" + kSjis + "\\lib"}, 932},
      {"Biblioth\x7Fken\n", "", refused("the directory entered holds a character that this "
                                        "system's code page for file names cannot hold")},
      {std::string("a\0b\n", 4), "", refused("the directory entered holds a NUL character")},
      {"", "", refused("the input ended before a directory was entered")},
      {"C:\\" + std::string(300, 'a') + "\nK", "",
       refused("the directory entered is longer than 259 characters")},
      {a252, "", not_created("C:\\work\\" + a252, "The path is longer than 259 characters.")},
      {long_dir + "a", "", not_created(long_dir + "a", "The library directory " + long_dir +
                                       "a\\bin\\win32 would be longer than 259 characters.")},
      {long_dir, "", not_created(long_dir, "Error: Too long.\r\n")},
      {"Q:\\rt\n", "", not_created("Q:\\rt", "Error: Not found.\r\n")},
      {"C:\\rt\\libs \n", "", not_created("C:\\rt\\libs ", trims)},
      {"a.\\b\n", "", not_created("C:\\work\\a.\\b", trims)},
      {"%TEMP%\n", "", not_run("C:\\work\\%TEMP%", "The directory name contains '%', which the "
                               "command interpreter would not pass on as typed.\n")},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::world().ansi_code_page = c.code_page;
    bool ok = !c.target.empty();
    EXPECT_EQ(run(c.input, ok ? 0 : -1), kPrompt + (ok ? kSuccess : kFailure));
    EXPECT_EQ(fake::world().err, c.err);
    EXPECT_EQ(recorded(), ok ? c.target + '\0' : "");
    EXPECT_EQ(fake::world().commands, ok ? Strings{command(c.target)} : Strings{});
    EXPECT_EQ(fake::world().created, c.made);
    // The prompt is on the console before the answer is awaited, and the
    // record follows the extractor.
    EXPECT_EQ(fake::event_index("flush") + 1, fake::event_index("read_line"));
    EXPECT_TRUE(!ok || fake::event_index("run:" + command(c.target)) < fake::event_index("set:InstallDir"));
  }
}

TEST_F(Run, FoundInstallationIsReportedAndNothingIsAskedOrChanged) {
  fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {1, "C:\\rt"};
  fake::add_tree("C:\\rt\\bin\\win32");
  EXPECT_EQ(run("\n", 0), "Run-time libraries already installed at 'C:\\rt'. Not reinstalling.\n"
                          "To uninstall previous installation, delete the directories\n"
                          "\"C:\\rt\\bin\" and \"C:\\rt\\toolbox\".\n" + kSuccess);
  EXPECT_EQ(fake::event_index("read_line"), -1);
  EXPECT_TRUE(fake::world().commands.empty());
}

TEST_F(Run, ExtractorMissingOrFailingIsReportedWithTheCommandAndNotRecorded) {
  for (int status : {0, 7}) {
    SetUp();
    fake::world().on_command = [status](const std::string&) { return status; };
    if (status == 0) fake::world().files.clear();
    run("rt\n\n", -1);
    EXPECT_EQ(fake::world().err, not_run("C:\\work\\rt", status ? "" : "There is no ruduvizide.exe "
                                                                       "in the current directory.\n"));
    EXPECT_EQ(fake::world().commands.size() + recorded().size(), status ? 1u : 0u);
  }
}

TEST(FormTargetPath, RelativeAnswersAreJoinedAndPartialOnesResolved) {
  struct Case {
    std::string answer, target, cwd = "C:\\work";
  } cases[] = {
      {"x", "C:\\work\\x"},    {" a ", "C:\\work\\ a "},  {"\\rt\\", "C:\\rt\\"},
      {"/rt", "C:\\rt"},       {"D:sub", "D:\\sub"},      {"C:sub", "C:\\work\\sub"},
      {"D:\\rt\\", "D:\\rt\\"}, {"D:/rt", "D:/rt"},       {"\\\\srv\\share", "\\\\srv\\share"},
      {"libs", "C:\\\\libs", "C:\\"}, {"x", "\\x", ""},   {"", "", ""},
  };
  for (const Case& c : cases) {
    fake::reset();
    fake::world().cwd = c.cwd;
    std::string answer = c.answer;
    answer.resize(installer::kPathCapacity);
    EXPECT_EQ(installer::form_target_path(c.cwd.c_str(), answer.data()), 0);
    EXPECT_EQ(answer.c_str(), c.target) << c.answer;
  }
}

}  // namespace
