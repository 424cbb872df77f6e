// The installation record: where the run-time libraries were put, kept in
// the machine-wide registry so that every application's copy of the
// installer finds the one installation.
#pragma once

#include <cstddef>

namespace installer {

// HKEY_LOCAL_MACHINE\kRecordKey, value kRecordValue, REG_SZ with its
// terminator. Other copies of the installer read and write the same value:
// these texts never change.
constexpr char kRecordKey[] = "SOFTWARE\\Vurarido\\DodiviZevEzorOzidadi\\6.0";
constexpr char kRecordValue[] = "InstallDir";

// Below the root, the directory whose existence marks a usable installation.
constexpr char kLibrarySuffix[] = "\\bin\\win32";

// Returns 1 when a root is recorded and its library directory exists, else
// 0. When the value could be read, buf holds the recorded root on return
// (terminated within capacity), whatever the result.
int read_installation_record(char* buf, std::size_t capacity);

// Records root. Failures are reported on standard output and otherwise
// ignored: the libraries are in place either way.
void write_installation_record(const char* root);

}  // namespace installer
