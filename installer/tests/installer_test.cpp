#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "installer/dirs.h"
#include "installer/record.h"
#include "installer/run.h"
#include "platform/fake/fake_ops.h"

namespace {

using Strings = std::vector<std::string>;

std::string prompt(const std::string& shown) {
  return "Enter the directory to which to install the run-time libraries\n  [default: " + shown + "]: ";
}
const std::string kSuccess = "\nFinished successfully. Press Enter key to exit the installer.\n";
const std::string kFailure = "\nFinished unsuccessfully. Press Enter key to exit the installer.\n";
const std::string kSjis = "\x83\x5C\x83\x74\x83\x67";  // three letters, 5C the first's second byte

std::string command(const std::string& target) { return ".\\ruduvizide.exe -qq -u -d \"" + target + "\""; }
std::string not_created(std::string target, std::string reason) {
  return "Error: could not create " + target + ".\n" + reason + "\n";
}
std::string not_run(std::string target, std::string reason) {
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
    EXPECT_EQ(out.find("DARADA Ravozi Run-Time Library Installer version 1.1.\n\n"
                       "This application installs the DARADA Ravozi Run-Time Libraries.\n"), 0u);
    const std::string notice_end = "      your PATH is configured correctly as mentioned above.\n\n";
    return out.substr(out.find(notice_end) + notice_end.size());
  }
  std::string recorded() {
    auto& values = fake::world().registry[installer::kRecordKey];
    return values.count(installer::kRecordValue) ? values[installer::kRecordValue].data : "";
  }
};

TEST_F(Run, AnswersLandWhereTheySayOrAreRefusedBeforeAnythingIsMade) {
  const std::string long_dir = "C:\\" + std::string(246, 'a'), a252(252, 'a'), a256(256, 'a');
  const std::string trims = "A directory name ends in a blank or a dot, which Windows would drop.";
  const std::string device = "The path names a device, not a directory.";
  const std::string no_cwd = refused("the current directory could not be read exactly (its name is too long, or holds "
                                     "a character that this system's code page for file names cannot hold), so only "
                                     "a full path can be entered"), unheld = "C:\\\x7F";
  using ops::Interpreter;
  struct Case {  // no target: refused
    std::string input, target, err; Strings made = {}; int code_page = 1252;
    Interpreter interpreter = Interpreter::cmd; std::string cwd = "C:\\work";
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
      {"C:\\" + a256 + "a\nK", "", refused("the directory entered is longer than 259 characters")},
      {"C:\\" + a256 + "\n", "", not_created("C:\\" + a256, "The library directory C:\\" + a256 +
                                                              "\\bin\\win32 would be longer than 259 characters.")},
      {a252, "", not_created("C:\\work\\" + a252, "The path is longer than 259 characters.")},
      {long_dir + "a", "", not_created(long_dir + "a", "The library directory " + long_dir +
                                       "a\\bin\\win32 would be longer than 259 characters.")},
      {long_dir, "", not_created(long_dir, "Error: Too long.\r\n")},
      {"Q:\\rt\n", "", not_created("Q:\\rt", "Error: Not found.\r\n")},
      {"C:\\rt\\libs \n", "", not_created("C:\\rt\\libs ", trims)},
      {"a.\\b\n", "", not_created("C:\\work\\a.\\b", trims)}, {"\\x.\n", "", not_created("\\x.", trims)},
      {"%TEMP%\n", "", not_run("C:\\work\\%TEMP%", "The directory name contains '%', which the "
                               "command interpreter would not pass on as typed.\n")},
      {"a!b\n", "C:\\work\\a!b", "", {"C:\\work\\a!b"}},
      {"a!b\n", "", not_run("C:\\work\\a!b", "The directory name contains '!', which the "
                             "command interpreter would not pass on as typed.\n"), {}, 1252, Interpreter::other},
      {"rt\n", "", not_run("C:\\work\\rt", "There is no command interpreter: neither COMSPEC's nor the system's.\n"),
       {}, 1252, Interpreter::none},
      {"\n", "", no_cwd, {}, 1252, Interpreter::cmd, unheld}, {"rt\n", "", no_cwd, {}, 1252, Interpreter::cmd, ""},
      {"C:rt\n", "", not_created("C:rt", "The full path holds a character that this system's code page for file "
                                  "names cannot hold."), {}, 1252, Interpreter::cmd, unheld},
      {"C:\\rt\n", "C:\\rt", "", {"C:\\rt"}, 1252, Interpreter::cmd, unheld},
      {"C:/new/./a/../b/\n", "C:\\new\\b", "", {"C:\\new", "C:\\new\\b"}},
      {"//./C:/x\n", "", not_created("\\\\.\\C:\\x", device)},
      {"\\\\?\\Volume{1}\\rt\n", "", not_created("\\\\?\\Volume{1}\\rt", device)},
      {"C:\\x\\COM1\\y\n", "", not_created("C:\\x\\COM1\\y", device)},
      {"a\"b\n", "", not_run("C:\\work\\a\"b", "The directory name contains '\"', which the "
                              "command interpreter would not pass on as typed.\n")},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::world().ansi_code_page = c.code_page;
    fake::world().interpreter = c.interpreter;
    fake::world().cwd = c.cwd;
    bool ok = !c.target.empty();
    EXPECT_EQ(run(c.input, ok ? 0 : -1), prompt(c.cwd == unheld ? "" : c.cwd) + (ok ? kSuccess : kFailure));
    EXPECT_EQ(fake::world().err, c.err);
    EXPECT_EQ(recorded(), ok ? c.target + '\0' : "");
    EXPECT_EQ(fake::world().commands, ok ? Strings{command(c.target)} : Strings{});
    EXPECT_EQ(fake::world().created, c.made);
    // The prompt is shown before the answer is awaited; the record follows the extractor.
    EXPECT_EQ(fake::event_index("flush") + 1, fake::event_index("read_line"));
    // What is buffered reaches a log before the extractor's own lines.
    int run = fake::event_index("run:" + command(c.target));
    EXPECT_TRUE(!ok || (fake::world().events[run - 1] == "flush" && run < fake::event_index("set:InstallDir")));
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

TEST_F(Run, OnlyAnExtractorThatLeavesTheLibrariesMakesASuccessAndOnlyThatIsRecorded) {
  const std::string no_libraries = "Error: the extractor ended without the library directory "
                                   "C:\\work\\rt\\bin\\win32; nothing usable was installed.\n";
  struct Case { bool there; int status; bool libraries; long registry; std::string err, out = ""; } cases[] = {
      {false, 0, true, 0, not_run("C:\\work\\rt", "There is no ruduvizide.exe in the current directory.\n")},
      {true, 7, true, 0, not_run("C:\\work\\rt", "")}, {true, 0, false, 0, no_libraries},
      {true, 0, true, 5, "", "Error: Access is denied.\r\n\n"},  // installed, the record not stored
  };
  for (const Case& c : cases) {
    SetUp();
    if (!c.there) fake::world().files.clear(), fake::world().dirs.insert("ruduvizide.exe");
    fake::world().set_value_status = c.registry;
    fake::world().error_texts[5] = "Access is denied.\r\n";
    fake::world().on_command = [c](const std::string&) {
      return c.libraries ? fake::add_tree("C:\\work\\rt\\bin\\win32") : void(), c.status;
    };
    bool ok = c.err.empty();
    EXPECT_EQ(run("rt\n\n", ok ? 0 : -1), prompt("C:\\work") + c.out + (ok ? kSuccess : kFailure));
    EXPECT_EQ(fake::world().err, c.err);
    EXPECT_EQ(fake::world().commands.size() + fake::world().created.size(), c.there ? 2u : 0u);
    EXPECT_EQ(recorded(), "");
  }
}

TEST(FormTargetPath, AnswersAreResolvedToOneSpelling) {
  struct Case { std::string answer, target, cwd = "C:\\work"; } cases[] = {
      {"x", "C:\\work\\x"},    {" a ", "C:\\work\\ a "},  {"\\rt\\", "C:\\rt"},
      {"/rt", "C:\\rt"},       {"D:sub", "D:\\sub"},      {"C:sub", "C:\\work\\sub"},
      {"D:\\rt\\", "D:\\rt"},  {"d:/Rt/./a/../b/", "d:\\Rt\\b"}, {"\\\\srv\\share", "\\\\srv\\share"},
      {"libs", "C:\\libs", "C:\\"}, {"C:\\", "C:\\"},  {"\\\\?\\C:\\x\\", "\\\\?\\C:\\x"}, {"", "", ""},
      {"C:\\" + std::string(256, 'a'), "C:\\" + std::string(256, 'a')},  // the longest fills its buffer
  };
  for (const Case& c : cases) {
    fake::reset();
    fake::world().cwd = c.cwd;
    std::string answer = c.answer;
    answer.resize(installer::kPathCapacity), answer += 'G';  // G: the byte after the buffer
    EXPECT_EQ(installer::form_target_path(c.cwd.c_str(), answer.data()), 0);
    EXPECT_EQ(answer.back(), 'G');
    EXPECT_EQ(answer.c_str(), c.target) << c.answer;
  }
}

TEST(NamesDevice, AnyComponentWindowsOpensAsADeviceAndTheDeviceNamespace) {
  for (const char* path : {"C:\\x\\COM1\\y", "C:\\x\\Con .txt", "\\\\s\\LPT9.a.b\\c", "C:NUL", "C:\\aux:s",
                           "C:\\conout$", "C:\\CONIN$\\x", "C:\\prn", "C:\\com0", "C:\\lpt\xB9", "\\\\.\\C:\\x"})
    EXPECT_TRUE(installer::names_device(path)) << path;
  for (const char* path : {"C:\\COM10", "C:\\co", "C:\\xcon", "C:\\COMa", "C:\\LPT", "C:\\lpt/", "C:\\nul_\\x",
                           "C:\\conin", "C:\\con$", "C:\\com\xB4", "\\\\?\\a:\\x", "\\\\?\\Z:\\x",
                           "\\\\?\\UNC\\s\\t", ""})
    EXPECT_FALSE(installer::names_device(path)) << path;
}

TEST(MakeDirectoryTree, CreatesMissingDirectoriesOutermostFirst) {
  const std::string so = "\x83\x5C";  // a letter whose second byte is a backslash
  struct Case { std::string existing, path; int result; Strings created; int code_page = 1252; } cases[] = {
      {"C:\\", "C:\\a\\b\\c", 0, {"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}},
      {"C:\\a\\b", "C:\\a\\b\\", 0, {}}, {"C:\\", "C:\\dir\\", 0, {"C:\\dir"}},
      {"ab:", "ab:cd", 0, {"ab:cd"}}, {"C:", "C:/a/b", 0, {"C:/a/b"}},  // '/' separates nothing
      {"\\\\server\\share", "\\\\server\\share\\dir", 0, {"\\\\server\\share\\dir"}},
      {"C:\\", "C:\\" + so + "\\x", 0, {"C:\\" + so, "C:\\" + so + "\\x"}, 932},
      {"C:\\", "C:\\a\\" + std::string(250, 'b'), -1, {"C:\\a"}},  // refused midway
      {"C:\\f", "C:\\f\\file\\g", -1, {}},                         // a file in the way
      {"C:\\", "\\dir", -1, {}},  {"C:\\", "Q:\\x", -1, {}}, {"C:\\", "Q:", -1, {}}, {"C:\\", "libs", -1, {}},
  };
  for (const Case& c : cases) {
    fake::reset();
    fake::world().ansi_code_page = c.code_page;
    fake::add_tree(c.existing);
    fake::world().files.insert("C:\\f\\file");
    std::string buf = c.path;
    EXPECT_EQ(installer::make_directory_tree(buf.data()), c.result) << c.path;
    EXPECT_EQ(buf.c_str(), c.path) << "the text is restored";
    EXPECT_EQ(fake::world().created, c.created) << c.path;
  }
}

TEST(Record, OnlyARootWithItsLibraryDirectoryIsAnInstallation) {
  const std::string root249 = "C:\\" + std::string(246, 'r'), root250 = root249 + 'r';
  struct Case { std::string data; int found; std::string root; std::uint32_t type = 1; } cases[] = {
      {std::string("C:\\rt", 6), 1, "C:\\rt"},           {"C:\\rt", 1, "C:\\rt"},  // no terminator
      {std::string("C:\\rt\0junk\0", 11), 1, "C:\\rt"},  {std::string("C:\\no", 6), 0, "C:\\no"},
      {std::string("C:\\lib", 7), 0, "C:\\lib"},  // bin\win32 is a file
      {"", 0, ""},  // not the current drive's \bin\win32
      {root249 + '\0', 1, root249},
      {root250 + '\0', 0, root250},  // its library directory cannot be named
      {std::string(260, 'x'), 0, std::string(259, 'x')},
      {"%SystemDrive%\\rt", 0, "%SystemDrive%\\rt", 2}, {"C:\\rt", 1, "C:\\rt", 2},  // REG_EXPAND_SZ as text
      {"C:\\rt", 0, "C:\\rt", 3},  // REG_BINARY
      {"\\\\srv\\s", 1, "\\\\srv\\s"}, {"\\\\?\\C:\\rt", 1, "\\\\?\\C:\\rt"},
      {"\\\\?\\unc\\s\\t", 1, "\\\\?\\unc\\s\\t"},
      {"rt", 0, "rt"}, {"\\\\.\\C:\\rt", 0, "\\\\.\\C:\\rt"},  // not a full path
  };
  for (const Case& c : cases) {
    fake::reset();
    for (std::string root :
         {"C:\\rt", "", "\\\\srv\\s", "\\\\?\\C:\\rt", "\\\\?\\unc\\s\\t", "rt", "\\\\.\\C:\\rt"})
      fake::add_tree(root + "\\bin\\win32");
    fake::add_tree(root249 + "\\bin\\win32"), fake::add_tree(root250 + "\\bin\\win32");
    fake::world().files.insert("C:\\lib\\bin\\win32");
    fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {c.type, c.data};
    char buf[installer::kPathCapacity + 16];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(installer::read_installation_record(buf, installer::kPathCapacity), c.found);
    EXPECT_EQ(std::string(buf, strnlen(buf, sizeof buf)), c.root);
    EXPECT_EQ(std::string(buf + installer::kPathCapacity, 16), std::string(16, 'G'));
    EXPECT_EQ(fake::world().open_keys, 0);
  }
  EXPECT_EQ(installer::read_installation_record(nullptr, 0), 0);
  char small[4];  // the stored value does not fit
  EXPECT_EQ(installer::read_installation_record(small, sizeof small), 0);
  fake::reset();  // no record at all
  EXPECT_EQ(installer::read_installation_record(small, sizeof small), 0);
  fake::add_tree("C:\\rt\\bin\\win32");  // read, but not exactly: the text is not the record
  fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {1, "C:\\rt"};
  fake::world().query_status = 1113;
  char buf[installer::kPathCapacity];
  EXPECT_EQ(installer::read_installation_record(buf, sizeof buf), 0);
}

TEST(Record, WriteStoresTheRootOrReportsTheRegistryStatus) {
  fake::reset();
  auto& values = fake::world().registry[installer::kRecordKey];
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(values[installer::kRecordValue].type, 1u);  // REG_SZ
  EXPECT_EQ(values[installer::kRecordValue].data, std::string("D:\\x", 5));
  values.clear();
  fake::world().error_texts[5] = "Access is denied.\r\n";
  fake::world().create_key_status = 5;
  installer::write_installation_record("D:\\x");
  fake::world().create_key_status = 0;
  fake::world().set_value_status = 1021;  // no text for it
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(fake::world().out, "Error: Access is denied.\r\n\nError: system error 1021.\n");
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(fake::world().open_keys, 0);
  EXPECT_EQ(fake::world().texts_outstanding, 0);
}

}  // namespace
