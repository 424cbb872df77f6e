#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "installer/paths.h"
#include "installer/record.h"
#include "installer/run.h"
#include "platform/fake/fake_ops.h"
#include "platform/ops.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kNoticeEnd =
    "      your PATH is configured correctly as mentioned above.\n\n";
const std::string kSuccess = "\nFinished successfully. Press Enter key to exit the installer.\n";
const std::string kFailure = "\nFinished unsuccessfully. Press Enter key to exit the installer.\n";

std::string prompt(const std::string& dflt) {
  return "Enter the directory to which to install the run-time libraries\n  [default: " +
         dflt + "]: ";
}

// The target between the double quotes of an extractor command.
std::string target_of(const std::string& command) {
  std::size_t open = command.find('"');
  return command.substr(open + 1, command.rfind('"') - open - 1);
}

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::add_tree("C:\\work");
    fake::world().files.insert("ruduvizide.exe");
    // A working extractor: it leaves the library directory below its target.
    fake::world().on_command = [](const std::string& command) {
      fake::add_tree(target_of(command) + "\\bin\\win32");
      return 0;
    };
  }
  void TearDown() override {
    // Whatever happened, the extractor is deleted, once, and the dialogue
    // ends with the outcome line and one key press.
    EXPECT_EQ(fake::world().deleted, Strings{"ruduvizide.exe"});
    ASSERT_FALSE(fake::world().events.empty());
    EXPECT_EQ(fake::world().events.back(), "read_char");
    EXPECT_EQ(fake::world().open_keys, 0);
  }

  int run(const std::string& input) {
    fake::world().input = input;
    return installer::run_installer();
  }
  // Standard output after the notice.
  std::string dialogue() {
    const std::string& out = fake::world().out;
    std::size_t at = out.find(kNoticeEnd);
    return at == std::string::npos ? out : out.substr(at + kNoticeEnd.size());
  }
  const std::string& err() { return fake::world().err; }
  const Strings& commands() { return fake::world().commands; }
  std::string recorded() {
    auto& values = fake::world().registry[installer::kRecordKey];
    auto it = values.find(installer::kRecordValue);
    return it == values.end() ? "<none>" : it->second.data;
  }
  void record(const std::string& root) {
    fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {ops::kRegSz,
                                                                              root + '\0'};
  }
};

TEST_F(Run, BannerAndNoticeComeFirstOneLinePerCall) {
  run("\n\n");
  const std::string& out = fake::world().out;
  EXPECT_EQ(out.rfind("DARADA Ravozi Run-Time Library Installer version 1.1.\n\n"
                      "This application installs the DARADA Ravozi Run-Time Libraries.\n",
                      0),
            0u);
  EXPECT_NE(out.find("directory (from a DARADA installation) on your PATH, you must add the\n"
                     "run-time libraries directory to the PATH before the DARADA directory.\n\n"
                     "Note: If you already have installed the run-time libraries for another\n"),
            std::string::npos);
  EXPECT_EQ(fake::event_index("out:\n"), 1);
  for (const auto& e : fake::world().events) {
    if (e.rfind("out:", 0) == 0 && e.find("Enter the directory") == std::string::npos) {
      EXPECT_LE(std::count(e.begin(), e.end(), '\n'), 3) << e;
    }
  }
}

TEST_F(Run, EnterInstallsIntoTheCurrentDirectoryAndRecordsIt) {
  EXPECT_EQ(run("\n\n"), 0);
  EXPECT_EQ(dialogue(), prompt("C:\\work") + kSuccess);
  EXPECT_EQ(commands(), Strings{"ruduvizide.exe -qq -u -d \"C:\\work\""});
  EXPECT_EQ(recorded(), std::string("C:\\work", 8));
  EXPECT_TRUE(err().empty());
  // The prompt is on the console before the answer is awaited, earlier
  // output before the extractor runs, and the record follows the extractor.
  EXPECT_LT(fake::event_index("flush"), fake::event_index("read_line"));
  EXPECT_LT(fake::event_index("run:" + commands()[0]), fake::event_index("set:InstallDir"));
  EXPECT_LT(fake::event_index("set:InstallDir"), fake::event_index("delete:ruduvizide.exe"));
}

TEST(FormTargetPath, AnswersAreJoinedOrTakenAsTyped) {
  struct Case {
    std::string cwd, answer, target;
  } cases[] = {
      {"C:\\work", "libs", "C:\\work\\libs"},
      {"C:\\", "libs", "C:\\\\libs"},
      {"C:\\work", "x", "C:\\work\\x"},
      {"C:\\work", "D:libs", "D:libs"},
      {"C:\\work", "D:\\rt", "D:\\rt"},
      {"C:\\work", "\\rt", "\\rt"},
      {"C:\\work", "/libs", "/libs"},
      {"C:\\work", "C:\\rt\\", "C:\\rt\\"},
      {"C:\\work", " lead and trail ", "C:\\work\\ lead and trail "},
  };
  for (const Case& c : cases) {
    char answer[installer::kPathCapacity];
    std::snprintf(answer, sizeof answer, "%s", c.answer.c_str());
    EXPECT_EQ(installer::form_target_path(c.cwd.c_str(), answer), 0);
    EXPECT_EQ(std::string(answer), c.target) << c.answer;
  }
}

TEST_F(Run, RelativeAnswerIsCreatedBelowTheCurrentDirectory) {
  EXPECT_EQ(run("libs\\rt\n\n"), 0);
  EXPECT_EQ(fake::world().created, (Strings{"C:\\work\\libs", "C:\\work\\libs\\rt"}));
  EXPECT_EQ(recorded(), std::string("C:\\work\\libs\\rt", 16));
}

TEST_F(Run, FoundInstallationIsReportedAndNothingIsAskedOrChanged) {
  record("C:\\rt");
  fake::add_tree("C:\\rt\\bin\\win32");
  EXPECT_EQ(run("\n"), 0);
  EXPECT_EQ(dialogue(),
            "Run-time libraries already installed at 'C:\\rt'. Not reinstalling.\n"
            "To uninstall previous installation, delete the directories\n"
            "\"C:\\rt\\bin\" and \"C:\\rt\\toolbox\".\n" +
                kSuccess);
  EXPECT_EQ(fake::event_index("read_line"), -1);
  EXPECT_TRUE(commands().empty());
  EXPECT_TRUE(fake::world().created.empty());
}

TEST_F(Run, RecordWhoseLibrariesWentMissingIsOverwritten) {
  record("C:\\old");
  fake::add_tree("C:\\old");
  EXPECT_EQ(run("D:\\new\n\n"), -1);  // D: does not exist
  fake::add_tree("D:\\");
  fake::world().deleted.clear();
  fake::world().out.clear();
  fake::world().input_pos = 0;
  EXPECT_EQ(run("D:\\new\n\n"), 0);
  EXPECT_EQ(dialogue(), prompt("C:\\work") + kSuccess);
  EXPECT_EQ(recorded(), std::string("D:\\new", 7));
}

TEST_F(Run, TreeCreationFailureStopsBeforeTheExtractor) {
  for (const char* answer : {"Q:\\", "Q:", "/libs", "\"C:\\x\""}) {
    SetUp();
    EXPECT_EQ(run(std::string(answer) + "\n\n"), -1) << answer;
    std::string target = answer[0] == '"' ? std::string("C:\\work\\") + answer : answer;
    EXPECT_EQ(err(), "Error: could not create " + target + ".\n");
    EXPECT_EQ(dialogue(), prompt("C:\\work") + kFailure);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(recorded(), "<none>");
    if (answer != std::string("\"C:\\x\"")) fake::world().deleted.clear();
  }
}

TEST_F(Run, ExtractorFailureOrNoInterpreterIsReportedWithTheCommand) {
  for (int status : {1, -1}) {
    SetUp();
    fake::world().on_command = [status](const std::string&) { return status; };
    EXPECT_EQ(run("rt\n\n"), -1);
    EXPECT_EQ(err(), "Error: could not run command 'ruduvizide.exe -qq -u -d \"C:\\work\\rt\"'.\n");
    EXPECT_EQ(dialogue(), prompt("C:\\work") + kFailure);
    EXPECT_EQ(recorded(), "<none>");
    EXPECT_EQ(fake::world().created, Strings{"C:\\work\\rt"});  // stays
    if (status == 1) fake::world().deleted.clear();
  }
}

TEST_F(Run, RecordNotStoredStillEndsSuccessfully) {
  fake::world().create_key_status = 5;
  fake::world().error_texts[5] = "Access is denied.\r\n";
  EXPECT_EQ(run("\n\n"), 0);
  EXPECT_EQ(dialogue(), prompt("C:\\work") + "Error: Access is denied.\r\n\n" + kSuccess);
  EXPECT_EQ(recorded(), "<none>");
}

TEST_F(Run, UnknownCurrentDirectoryLeavesAnEmptyDefault) {
  fake::world().cwd.clear();
  EXPECT_EQ(run("\n\n"), -1);
  EXPECT_EQ(dialogue(), prompt("") + kFailure);
  EXPECT_EQ(err(), "Error: could not create .\n");

  // A relative answer then lands below the root of the current drive, which
  // is accepted only when it exists.
  SetUp();
  fake::world().deleted.clear();
  fake::world().cwd.clear();
  fake::add_tree("\\x");
  EXPECT_EQ(run("x\n\n"), 0);
  EXPECT_EQ(commands(), Strings{"ruduvizide.exe -qq -u -d \"\\x\""});
}

TEST_F(Run, EndOfInputBeforeAnyAnswerInstallsNothing) {
  EXPECT_EQ(run(""), -1);
  EXPECT_EQ(err(), "Error: the input ended before a directory was entered; nothing was installed.\n");
  EXPECT_EQ(dialogue(), prompt("C:\\work") + kFailure);
  EXPECT_TRUE(fake::world().created.empty());
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(recorded(), "<none>");
}

TEST_F(Run, AnswerWithoutLineEndAtEndOfInputIsTaken) {
  EXPECT_EQ(run("rt"), 0);
  EXPECT_EQ(commands(), Strings{"ruduvizide.exe -qq -u -d \"C:\\work\\rt\""});
}

TEST_F(Run, OverlongLineIsRefusedNotCutAndTheFinalKeyPressStillWaits) {
  std::string line = "C:\\" + std::string(300, 'a');
  EXPECT_EQ(run(line + "\nK"), -1);
  EXPECT_EQ(err(), "Error: the directory entered is longer than 259 characters; nothing was installed.\n");
  EXPECT_TRUE(fake::world().created.empty());
  EXPECT_TRUE(commands().empty());
  // The rest of the long line was dropped: the key press read the "K".
  EXPECT_EQ(fake::world().input_pos, fake::world().input.size());
}

TEST_F(Run, AnswerOfExactly259CharactersIsUsedWhole) {
  fake::add_tree("C:\\");
  std::string line = "C:\\" + std::string(256, 'a');
  EXPECT_EQ(run(line + "\nK"), 0);
  EXPECT_EQ(commands(), Strings{"ruduvizide.exe -qq -u -d \"" + line + "\""});
  EXPECT_EQ(fake::world().input_pos, fake::world().input.size());
}

TEST_F(Run, JoinedPathTooLongFailsNamingTheWholePath) {
  std::string cwd = "C:\\" + std::string(200, 'c');
  fake::add_tree(cwd);
  fake::world().cwd = cwd;
  std::string answer(100, 'a');
  EXPECT_EQ(run(answer + "\n\n"), -1);
  EXPECT_EQ(err(), "Error: could not create " + cwd + "\\" + answer +
                       ".\nThe path is longer than 259 characters.\n");
  EXPECT_TRUE(fake::world().created.empty());
  EXPECT_TRUE(commands().empty());
}

TEST_F(Run, PercentOrQuoteInTargetNeverReachesTheInterpreter) {
  fake::add_tree("C:\\");
  EXPECT_EQ(run("C:\\%TEMP%\\rt\n\n"), -1);
  EXPECT_EQ(err(),
            "Error: could not run command 'ruduvizide.exe -qq -u -d \"C:\\%TEMP%\\rt\"'.\n"
            "The directory name contains '%', which the command interpreter would not pass "
            "on as typed.\n");
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(recorded(), "<none>");
}

}  // namespace
