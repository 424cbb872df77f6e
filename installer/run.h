// The installer run: the console dialogue from the banner to the final key
// press, and the installation steps in between.
#pragma once

#include <cstddef>

namespace installer {

constexpr char kVersion[] = RAVOZI_VERSION;  // the CMake project version

// The extractor lies next to the installer in the current directory and is
// deleted after every run, whatever happened.
constexpr char kExtractorFile[] = "ruduvizide.exe";
constexpr char kExtractorCommand[] = "ruduvizide.exe -qq -u -d \"%s\"";
constexpr std::size_t kCommandCapacity = 1284;

// Forms the target path from the answer in place: an empty answer takes the
// default directory, a relative one is joined onto it with a backslash, an
// answer starting with '\' or '/' or with ':' as its second character is
// kept as typed. Returns -1, leaving answer unchanged, when the joined path
// would not fit in kPathCapacity.
int form_target_path(const char* default_dir, char* answer);

// Runs the installer once. Returns 0 for success, -1 for failure: the
// process exit status.
int run_installer();

}  // namespace installer
