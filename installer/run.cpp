#include "installer/run.h"

#include <cstdio>
#include <cstring>

#include "installer/dirs.h"
#include "installer/record.h"
#include "installer/system_error.h"
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

enum class Answer { line, no_input, too_long, unconvertible, nul };

// Reads the answer: one line, its line end removed. A line longer than a
// path can be is refused rather than cut, since a cut path would install
// somewhere the user never named; so is a NUL byte, which would end the
// path early.
Answer read_answer(char* answer) {
  std::size_t length = 0;
  switch (ops::read_line(answer, kPathCapacity, &length)) {
    case ops::Line::end: return Answer::no_input;
    case ops::Line::too_long: return Answer::too_long;
    case ops::Line::unconvertible: return Answer::unconvertible;
    case ops::Line::read: break;
  }
  return std::strlen(answer) == length ? Answer::line : Answer::nul;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Relative: neither a leading separator nor a drive ("D:").
bool is_relative(const char* path) {
  if (is_separator(path[0])) return false;
  return path[0] == '\0' || next_char(path) != path + 1 || path[1] != ':';
}

// Drops a separator that ends path, unless it ends a root such as C:\.
void drop_trailing_separator(char* path) {
  char* last = nullptr;
  const char* before = nullptr;
  for (char* p = path; *p != '\0'; p = path + (next_char(p) - path)) {
    before = last;
    last = p;
  }
  if (last != nullptr && *last == '\\' && before != nullptr && *before != ':') *last = '\0';
}

// A character the command interpreter would act on even between the double
// quotes, or that would end them: '%' expands variables, so the extractor
// would unpack somewhere other than the root that gets recorded; so does '!'
// where delayed expansion is on, which only cmd.exe can be told to ignore.
char unsafe_command_char(const char* path, ops::Interpreter interpreter) {
  for (const char* p = path; *p != '\0'; p = next_char(p))
    if (*p == '%' || *p == '"' || (*p == '!' && interpreter != ops::Interpreter::cmd)) return *p;
  return '\0';
}

// Whether a component ends in a blank or a dot: Windows drops those when it
// creates the directory but not when the extractor joins its paths, so the
// tree and the files would part. "." and ".." are components of their own;
// a colon ends a component wherever it stands, as it does for the tree.
bool has_component_windows_trims(const char* path) {
  const char* start = path;
  const char* last = nullptr;  // the last character of the current component
  for (const char* p = path;; p = next_char(p)) {
    if (*p == '\0' || is_separator(*p) || *p == ':') {
      bool dots_only = std::strspn(start, ".") >= static_cast<std::size_t>(p - start);
      if (last != nullptr && (*last == ' ' || *last == '.') && !(dots_only && p - start <= 2))
        return true;
      if (*p == '\0') return false;
      start = next_char(p);
      last = nullptr;
    } else {
      last = p;
    }
  }
}

// The first reason to refuse target before anything is created: printed
// on standard error, -1; or 0 when there is none.
int refuse_target(const char* target, const char* command) {
  constexpr std::size_t kMostBytes = kPathCapacity - 1;
  if (names_device(target)) {
    ops::print(Stream::err, "Error: could not create %s.\n", target);
    ops::print(Stream::err, "The path names a device, not a directory.\n");
    return -1;
  }
  if (std::strlen(target) + std::strlen(kLibrarySuffix) > kMostBytes) {
    ops::print(Stream::err, "Error: could not create %s.\n", target);
    ops::print(Stream::err, "The library directory %s%s would be longer than %u characters.\n",
               target, kLibrarySuffix, static_cast<unsigned>(kMostBytes));
    return -1;
  }
  ops::Interpreter interpreter = ops::interpreter();
  if (interpreter == ops::Interpreter::none) {
    ops::print(Stream::err, "Error: could not run command '%s'.\n", command);
    ops::print(Stream::err, "There is no command interpreter: neither COMSPEC's nor the system's.\n");
    return -1;
  }
  if (char c = unsafe_command_char(target, interpreter)) {
    ops::print(Stream::err, "Error: could not run command '%s'.\n", command);
    ops::print(Stream::err,
               "The directory name contains '%c', which the command interpreter "
               "would not pass on as typed.\n",
               c);
    return -1;
  }
  std::uint32_t attributes = ops::file_attributes(kExtractorFile);
  if (attributes == ops::kInvalidAttributes || (attributes & ops::kAttributeDirectory) != 0) {
    ops::print(Stream::err, "Error: could not run command '%s'.\n", command);
    ops::print(Stream::err, "There is no %s in the current directory.\n", kExtractorFile);
    return -1;
  }
  return 0;
}

// The extractor's status says its archive unpacked, not that it held the
// libraries where every run looks for them: a payload packed one level off
// ends 0 too, and its record would name no installation.
bool libraries_are_there(const char* target) {
  char libraries[kPathCapacity];
  std::snprintf(libraries, sizeof libraries, "%s%s", target, kLibrarySuffix);
  if (is_directory(libraries)) return true;
  ops::print(Stream::err,
             "Error: the extractor ended without the library directory %s; "
             "nothing usable was installed.\n",
             libraries);
  return false;
}

// Steps from the tree creation to the record. Returns the run result.
int install(const char* default_dir, char* target) {
  // The answer as the user named it, for what is said about the answer itself.
  bool joined = target[0] != '\0' && is_relative(target);
  const char* base = joined ? default_dir : "";
  const char* sep = joined ? "\\" : "";
  // With no current directory read exactly, an empty or relative answer
  // would name a place nobody typed: a look-alike of the folder, or none.
  if (default_dir[0] == '\0' && is_relative(target)) {
    ops::print(Stream::err,
               "Error: the current directory could not be read exactly (its name is too long, or "
               "holds a character that this system's code page for file names cannot hold), so "
               "only a full path can be entered; nothing was installed.\n");
    return -1;
  }
  // Judged as typed: resolving the path would silently drop the blanks and dots.
  if (has_component_windows_trims(target)) {
    ops::print(Stream::err, "Error: could not create %s%s%s.\n", base, sep, target);
    ops::print(Stream::err,
               "A directory name ends in a blank or a dot, which Windows would drop.\n");
    return -1;
  }
  if (int formed = form_target_path(default_dir, target)) {
    ops::print(Stream::err, "Error: could not create %s%s%s.\n", base, sep, target);
    if (formed == ops::kNotHeld)
      ops::print(Stream::err, "The full path holds a character that this system's code page for "
                              "file names cannot hold.\n");
    else
      ops::print(Stream::err, "The path is longer than %u characters.\n",
                 static_cast<unsigned>(kPathCapacity - 1));
    return -1;
  }
  char command[kCommandCapacity];
  std::snprintf(command, sizeof command, kExtractorCommand, target);
  if (refuse_target(target, command) != 0) return -1;
  if (make_directory_tree(target) != 0) {
    // Printing may change the last-error code the reason is taken from.
    std::uint32_t reason = ops::last_error();
    ops::print(Stream::err, "Error: could not create %s.\n", target);
    ops::set_last_error(reason);
    report_system_error(Stream::err);
    return -1;
  }
  // What is still buffered must reach the console before the extractor
  // writes to it, or a log would show the extractor's lines first.
  ops::flush_output();
  if (ops::run_command(command) != 0) {
    ops::print(Stream::err, "Error: could not run command '%s'.\n", command);
    return -1;
  }
  if (!libraries_are_there(target)) return -1;
  write_installation_record(target);
  return 0;
}

}  // namespace

int form_target_path(const char* default_dir, char* answer) {
  const char* named = answer[0] == '\0' ? default_dir : answer;
  char full[kPathCapacity] = "";
  int resolved = named[0] == '\0' ? 0 : ops::full_path(named, full, sizeof full);
  if (resolved != 0) return resolved;
  drop_trailing_separator(full);
  std::memcpy(answer, full, std::strlen(full) + 1);
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
      case Answer::unconvertible:
        ops::print(Stream::err,
                   "Error: the directory entered holds a character that this system's "
                   "code page for file names cannot hold; nothing was installed.\n");
        break;
      case Answer::nul:
        ops::print(Stream::err,
                   "Error: the directory entered holds a NUL character; "
                   "nothing was installed.\n");
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
