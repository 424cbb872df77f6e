// The installer run: the console dialogue from the banner to the final key
// press, and the installation steps in between.
#pragma once

#include <cstddef>

#include "installer/dirs.h"
#include "ravozi_version.h"

namespace installer {

constexpr char kVersion[] = RAVOZI_VERSION_STR;  // the CMake project version

// The extractor lies next to the installer in the current directory and is
// deleted after every run, whatever happened. The command names its folder,
// so that the interpreter cannot find a file of that name anywhere else.
constexpr char kExtractorFile[] = "ruduvizide.exe";
constexpr char kExtractorCommand[] = ".\\ruduvizide.exe -qq -u -d \"%s\"";
// The command for the longest target: the format without its "%s", a path
// of kPathCapacity-1 bytes, the terminator.
constexpr std::size_t kCommandCapacity =
    (sizeof kExtractorCommand - 1 - 2) + (kPathCapacity - 1) + 1;

// Forms the target path from the answer in place, in the one spelling used
// for the tree, the command and the record: an empty answer takes the
// default directory; the path is then resolved as the system resolves it
// from the current directory and drive ("." and ".." removed, '/' read as
// '\'), keeping the letter case typed, and a trailing separator is dropped
// unless it ends a root (C:\). Returns -1, leaving answer unchanged, when
// the result would not fit in kPathCapacity, and ops::kNotHeld when the
// ANSI code page cannot hold it exactly.
int form_target_path(const char* default_dir, char* answer);

// Runs the installer once. Returns 0 for success, -1 for failure: the
// process exit status.
int run_installer();

}  // namespace installer
