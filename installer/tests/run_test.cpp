#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/dirs.h"
#include "installer/record.h"
#include "installer/run.h"
#include "platform/fake/fake_ops.h"
#include "platform/ops.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kNoticeEnd = "      your PATH is configured correctly as mentioned above.\n\n";
const std::string kPrompt =
    "Enter the directory to which to install the run-time libraries\n  [default: C:\\work]: ";
const std::string kSuccess = "\nFinished successfully. Press Enter key to exit the installer.\n";
const std::string kFailure = "\nFinished unsuccessfully. Press Enter key to exit the installer.\n";
const std::string kSjis = "\x83\x5C\x83\x74\x83\x67";  // three letters, 5C the first's second byte

std::string command(const std::string& target) {
  return ".\\ruduvizide.exe -qq -u -d \"" + target + "\"";
}

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::add_tree("C:\\work");
    fake::add_tree("D:\\");
    fake::world().files.insert("ruduvizide.exe");
    fake::world().error_texts = {{2, "The system cannot find the file specified.\r\n"},
                                 {206, "The filename or extension is too long.\r\n"}};
    // A working extractor: it leaves the library directory below its target.
    fake::world().on_command = [](const std::string& line) {
      fake::add_tree(line.substr(28, line.size() - 29) + "\\bin\\win32");
      return 0;
    };
  }
  int run(const std::string& input) {
    fake::world().input = input;
    int result = installer::run_installer();
    // Whatever happened, the extractor is deleted, once, and the dialogue
    // ends with the outcome line and one key press.
    EXPECT_EQ(fake::world().deleted, Strings{"ruduvizide.exe"});
    EXPECT_EQ(fake::world().events.back(), "read_char");
    EXPECT_EQ(fake::world().texts_outstanding, 0);
    EXPECT_EQ(fake::world().open_keys, 0);
    return result;
  }
  // Standard output after the notice.
  std::string dialogue() {
    const std::string& out = fake::world().out;
    return out.substr(out.find(kNoticeEnd) + kNoticeEnd.size());
  }
  std::string recorded() {
    auto& values = fake::world().registry[installer::kRecordKey];
    auto it = values.find(installer::kRecordValue);
    return it == values.end() ? "<none>" : it->second.data;
  }
};

TEST_F(Run, EnterInstallsIntoTheCurrentDirectoryAndRecordsIt) {
  EXPECT_EQ(run("\n\n"), 0);
  EXPECT_EQ(fake::world().out.find(
                "DARADA Ravozi Run-Time Library Installer version 1.1.\n\n"
                "This application installs the DARADA Ravozi Run-Time Libraries.\n"),
            0u);
  EXPECT_EQ(dialogue(), kPrompt + kSuccess);
  EXPECT_EQ(fake::world().commands, Strings{command("C:\\work")});
  EXPECT_EQ(recorded(), std::string("C:\\work", 8));
  EXPECT_EQ(fake::world().err, "");
  // The prompt is on the console before the answer is awaited, earlier
  // output before the extractor runs, and the record follows the extractor.
  EXPECT_LT(fake::event_index("flush"), fake::event_index("read_line"));
  EXPECT_LT(fake::event_index("read_line"), fake::event_index("flush") + 2);
  EXPECT_LT(fake::event_index("run:" + command("C:\\work")), fake::event_index("set:InstallDir"));
}

TEST_F(Run, AnswersLandWhereTheySayOrAreRefusedBeforeAnythingIsMade) {
  const std::string kLongDir = "C:\\" + std::string(246, 'a');
  const std::string kTooLong = "The path is longer than 259 characters.\n";
  struct Case {
    std::string input;
    std::string target;  // empty when refused
    std::string err;
    Strings made = {};
    bool console = false;
    int code_page = 1252;
  } cases[] = {
      {"libs\\rt\n", "C:\\work\\libs\\rt", "", {"C:\\work\\libs", "C:\\work\\libs\\rt"}},
      {"\\rt\n", "C:\\rt", "", {"C:\\rt"}},
      {"D:sub", "D:\\sub", "", {"D:\\sub"}},
      {"Biblioth\xC3\xA8ken\n", "C:\\work\\Biblioth\xE8ken", "", {"C:\\work\\Biblioth\xE8ken"}, true},
      {"Biblioth\xE8ken\n", "C:\\work\\Biblioth\xE8ken", "", {"C:\\work\\Biblioth\xE8ken"}},
      {"\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\\lib", "C:\\work\\" + kSjis + "\\lib", "",
       {"C:\\work\\" + kSjis, "C:\\work\\" + kSjis + "\\lib"}, true, 932},
      {"\xE6\x96\x87\n", "", "Error: the directory entered holds a character that this system's "
                             "code page for file names cannot hold; nothing was installed.\n",
       {}, true},
      {std::string("a\0b\n", 4), "", "Error: the directory entered holds a NUL character; "
                                      "nothing was installed.\n"},
      {"", "", "Error: the input ended before a directory was entered; nothing was installed.\n"},
      {"C:\\" + std::string(300, 'a') + "\nK", "",
       "Error: the directory entered is longer than 259 characters; nothing was installed.\n"},
      {std::string(252, 'a'), "", "Error: could not create C:\\work\\" + std::string(252, 'a') +
                                      ".\n" + kTooLong},
      {kLongDir + "a\n", "", "Error: could not create " + kLongDir + "a.\nThe library directory " +
                                 kLongDir + "a\\bin\\win32 would be longer than 259 characters.\n"},
      {kLongDir + "\n", "", "Error: could not create " + kLongDir +
                                ".\nError: The filename or extension is too long.\r\n\n"},
      {"Q:\\rt\n", "", "Error: could not create Q:\\rt.\n"
                       "Error: The system cannot find the file specified.\r\n\n"},
      {"C:\\rt\\libs \n", "", "Error: could not create C:\\rt\\libs .\n"
                              "A directory name ends in a blank or a dot, which Windows would drop.\n"},
      {"a.\\b\n", "", "Error: could not create C:\\work\\a.\\b.\n"
                      "A directory name ends in a blank or a dot, which Windows would drop.\n"},
      {"%TEMP%\n", "", "Error: could not run command '" + command("C:\\work\\%TEMP%") + "'.\n"
                       "The directory name contains '%', which the command interpreter would "
                       "not pass on as typed.\n"},
      {"\"x\n", "", "Error: could not run command '" + command("C:\\work\\\"x") + "'.\n"
                    "The directory name contains '\"', which the command interpreter would "
                    "not pass on as typed.\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::world().console = c.console;
    fake::world().ansi_code_page = c.code_page;
    EXPECT_EQ(run(c.input), c.target.empty() ? -1 : 0) << c.input;
    EXPECT_EQ(fake::world().err, c.err);
    EXPECT_EQ(dialogue(), kPrompt + (c.target.empty() ? kFailure : kSuccess));
    EXPECT_EQ(recorded(), c.target.empty() ? "<none>" : c.target + '\0');
    EXPECT_EQ(fake::world().commands, c.target.empty() ? Strings{} : Strings{command(c.target)});
    EXPECT_EQ(fake::world().created, c.made);
    EXPECT_EQ(fake::world().input_pos, c.input.size()) << "the key press read all";
  }
}

TEST_F(Run, FoundInstallationIsReportedAndNothingIsAskedOrChanged) {
  fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {ops::kRegSz,
                                                                            "C:\\rt"};
  fake::add_tree("C:\\rt\\bin\\win32");
  EXPECT_EQ(run("\n"), 0);
  EXPECT_EQ(dialogue(),
            "Run-time libraries already installed at 'C:\\rt'. Not reinstalling.\n"
            "To uninstall previous installation, delete the directories\n"
            "\"C:\\rt\\bin\" and \"C:\\rt\\toolbox\".\n" +
                kSuccess);
  EXPECT_EQ(fake::event_index("read_line"), -1);
  EXPECT_TRUE(fake::world().commands.empty());
}

TEST_F(Run, ExtractorMissingOrFailingIsReportedWithTheCommandAndNotRecorded) {
  for (int status : {0, 7}) {
    SetUp();
    fake::world().on_command = [status](const std::string&) { return status; };
    if (status == 0) fake::world().files.clear();
    EXPECT_EQ(run("rt\n\n"), -1);
    EXPECT_EQ(fake::world().err,
              "Error: could not run command '" + command("C:\\work\\rt") + "'.\n" +
                  (status == 0 ? "There is no ruduvizide.exe in the current directory.\n" : ""));
    EXPECT_EQ(fake::world().commands.size(), status == 0 ? 0u : 1u);
    EXPECT_EQ(recorded(), "<none>");
  }
}

TEST_F(Run, RecordNotStoredStillEndsSuccessfully) {
  fake::world().create_key_status = 5;
  fake::world().error_texts[5] = "Access is denied.\r\n";
  EXPECT_EQ(run("\n\n"), 0);
  EXPECT_EQ(dialogue(), kPrompt + "Error: Access is denied.\r\n\n" + kSuccess);
}

TEST(FormTargetPath, RelativeAnswersAreJoinedAndPartialOnesResolved) {
  struct Case {
    std::string cwd, answer, target;
  } cases[] = {
      {"C:\\work", "libs", "C:\\work\\libs"},  {"C:\\", "libs", "C:\\\\libs"},
      {"C:\\work", "x", "C:\\work\\x"},        {"C:\\work", "", "C:\\work"},
      {"C:\\work", " a ", "C:\\work\\ a "},    {"C:\\work", "\\rt\\", "C:\\rt\\"},
      {"C:\\work", "/rt", "C:\\rt"},           {"C:\\work", "D:sub", "D:\\sub"},
      {"C:\\work", "C:sub", "C:\\work\\sub"},  {"C:\\work", "D:\\rt\\", "D:\\rt\\"},
      {"C:\\work", "D:/rt", "D:/rt"},          {"C:\\work", "\\\\srv\\share", "\\\\srv\\share"},
      {"", "x", "\\x"},                        {"", "", ""},
  };
  for (const Case& c : cases) {
    fake::reset();
    fake::world().cwd = c.cwd;
    char answer[installer::kPathCapacity];
    std::snprintf(answer, sizeof answer, "%s", c.answer.c_str());
    EXPECT_EQ(installer::form_target_path(c.cwd.c_str(), answer), 0);
    EXPECT_EQ(std::string(answer), c.target) << c.answer;
  }
}

}  // namespace
