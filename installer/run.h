// The installer run: the console dialogue from the banner to the final key
// press, and the installation steps in between.
#pragma once

#include <cstddef>

#include "installer/dirs.h"

namespace installer {

constexpr char kVersion[] = RAVOZI_VERSION;  // the CMake project version

// The extractor lies next to the installer in the current directory and is
// deleted after every run, whatever happened. The command names its folder,
// so that the interpreter cannot find a file of that name anywhere else.
constexpr char kExtractorFile[] = "ruduvizide.exe";
constexpr char kExtractorCommand[] = ".\\ruduvizide.exe -qq -u -d \"%s\"";
// The command for the longest target: the format without its "%s", a path
// of kPathCapacity-1 bytes, the terminator.
constexpr std::size_t kCommandCapacity =
    (sizeof kExtractorCommand - 1 - 2) + (kPathCapacity - 1) + 1;

// Forms the target path from the answer in place: an empty answer takes the
// default directory, a relative one is joined onto it with a backslash. A
// target that is not fully qualified then (it starts with one '\' or '/',
// or with a drive but no separator after it) is resolved to the full path
// it names now, so that the record means the same place to every later
// run; a fully qualified answer keeps its spelling. Returns -1, leaving
// answer unchanged, when the result would not fit in kPathCapacity.
int form_target_path(const char* default_dir, char* answer);

// Runs the installer once. Returns 0 for success, -1 for failure: the
// process exit status.
int run_installer();

}  // namespace installer
