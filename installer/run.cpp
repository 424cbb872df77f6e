#include "installer/run.h"

#include <cstdio>
#include <cstring>

#include "installer/paths.h"
#include "installer/record.h"
#include "platform/ops.h"

namespace installer {
namespace {

using ops::Stream;

constexpr const char* kNotice[] = {
    "This application installs the DARADA Ravozi Run-Time Libraries.\n",
    "These libraries are necessary to run applications built with the DARADA\n",
    "Ravozi compiler and linked against its run-time libraries.\n",
    "You may use and redistribute these libraries only under the terms of the\n",
    "licence agreement that came with the application you are installing.\n",
    "\n",
    "Once this installer has finished, you must add the directory <RAVOZI>\\bin\\win32\n",
    "to your PATH environment variable, where <RAVOZI> represents the directory to\n",
    "which you chose to install the run-time libraries. If you have a DARADA\n",
    "directory (from a DARADA installation) on your PATH, you must add the\n",
    "run-time libraries directory to the PATH before the DARADA directory.\n",
    "\n",
    "Note: If you already have installed the run-time libraries for another\n",
    "      application, you do not need to reinstall them. Simply make sure that\n",
    "      your PATH is configured correctly as mentioned above.\n",
    "\n",
};

enum class Answer { line, no_input, too_long };

// Reads the answer: one line, its line end removed. A line longer than a
// path can be is refused rather than cut, since a cut path would install
// somewhere the user never named; its rest is read and dropped so that the
// final key press still waits for the user.
Answer read_answer(char* answer) {
  if (ops::read_line(answer, kPathCapacity) != 0) return Answer::no_input;
  std::size_t length = std::strlen(answer);
  if (length > 0 && answer[length - 1] == '\n') {
    answer[length - 1] = '\0';
    return Answer::line;
  }
  if (length < kPathCapacity - 1) return Answer::line;  // input ended without a line end
  int c = ops::read_char();
  if (c == '\n' || c < 0) return Answer::line;
  while (c != '\n' && c >= 0) c = ops::read_char();
  return Answer::too_long;
}

// A character the command interpreter would act on even between the double
// quotes, or that would end them: '%' expands variables, so the extractor
// would unpack somewhere other than the root that gets recorded.
char unsafe_command_char(const char* path) {
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '%' || *p == '"') return *p;
  return '\0';
}

// Steps from the tree creation to the record. Returns the run result.
int install(const char* default_dir, char* target) {
  if (form_target_path(default_dir, target) != 0) {
    ops::print(Stream::err, "Error: could not create %s\\%s.\n", default_dir, target);
    ops::print(Stream::err, "The path is longer than %u characters.\n",
               static_cast<unsigned>(kPathCapacity - 1));
    return -1;
  }
  if (make_directory_tree(target) != 0) {
    ops::print(Stream::err, "Error: could not create %s.\n", target);
    return -1;
  }
  char command[kCommandCapacity];
  std::snprintf(command, sizeof command, kExtractorCommand, target);
  if (char c = unsafe_command_char(target)) {
    ops::print(Stream::err, "Error: could not run command '%s'.\n", command);
    ops::print(Stream::err,
               "The directory name contains '%c', which the command interpreter "
               "would not pass on as typed.\n",
               c);
    return -1;
  }
  // What is still buffered must reach the console before the extractor
  // writes to it, or a log would show the extractor's lines first.
  ops::flush_output();
  if (ops::run_command(command) != 0) {
    ops::print(Stream::err, "Error: could not run command '%s'.\n", command);
    return -1;
  }
  write_installation_record(target);
  return 0;
}

}  // namespace

int form_target_path(const char* default_dir, char* answer) {
  if (answer[0] == '\0') {
    std::size_t length = std::strlen(default_dir);
    if (length >= kPathCapacity) return -1;
    std::memcpy(answer, default_dir, length + 1);
    return 0;
  }
  bool relative = answer[0] != '\\' && answer[0] != '/' && answer[1] != ':';
  if (!relative) return 0;
  char joined[kPathCapacity];
  int n = std::snprintf(joined, sizeof joined, "%s\\%s", default_dir, answer);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof joined) return -1;
  std::memcpy(answer, joined, static_cast<std::size_t>(n) + 1);
  return 0;
}

int run_installer() {
  int result = -1;
  char default_dir[kPathCapacity];
  char answer[kPathCapacity];

  ops::print(Stream::out, "DARADA Ravozi Run-Time Library Installer version %s.\n", kVersion);
  ops::print(Stream::out, "\n");
  for (const char* line : kNotice) ops::print(Stream::out, "%s", line);

  if (read_installation_record(default_dir, sizeof default_dir) == 1) {
    ops::print(Stream::out,
               "Run-time libraries already installed at '%s'. Not reinstalling.\n"
               "To uninstall previous installation, delete the directories\n"
               "\"%s\\bin\" and \"%s\\toolbox\".\n",
               default_dir, default_dir, default_dir);
    result = 0;
  } else {
    default_dir[0] = '\0';
    ops::current_directory(default_dir, sizeof default_dir);
    ops::print(Stream::out,
               "Enter the directory to which to install the run-time libraries\n"
               "  [default: %s]: ",
               default_dir);
    ops::flush_output();
    switch (read_answer(answer)) {
      case Answer::line:
        result = install(default_dir, answer);
        break;
      case Answer::no_input:
        ops::print(Stream::err,
                   "Error: the input ended before a directory was entered; "
                   "nothing was installed.\n");
        break;
      case Answer::too_long:
        ops::print(Stream::err,
                   "Error: the directory entered is longer than %u characters; "
                   "nothing was installed.\n",
                   static_cast<unsigned>(kPathCapacity - 1));
        break;
    }
  }

  ops::delete_file(kExtractorFile);
  ops::print(Stream::out, "\nFinished %s. Press Enter key to exit the installer.\n",
             result == 0 ? "successfully" : "unsuccessfully");
  ops::flush_output();
  ops::read_char();
  return result;
}

}  // namespace installer
