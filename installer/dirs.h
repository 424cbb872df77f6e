// The directory operations, on path text as the installer handles it: bytes
// in the system's ANSI code page, split only on '\' and ':', scanned a whole
// character at a time so that the second byte of a double-byte character is
// never taken for either.
#pragma once

#include <cstddef>

namespace installer {

// The platform's path limit: 259 characters and a terminator.
constexpr std::size_t kPathCapacity = 260;

// The character after the one at p (p must not be at the terminator).
const char* next_char(const char* p);

// Whether path lies in the device namespace (\\.\ or \\?\), other than a
// drive or network path written with the long-path prefix (\\?\C:\,
// \\?\UNC\): a device names no directory to install into.
// So does a path any of whose components is a device name (CON, NUL, COM1,
// LPT1.txt, ...), wherever it stands: C:\x\COM1\y.
bool names_device(const char* path);

// Whether path reads the same from any current directory and drive: a
// drive letter with a separator, or a network path, and not a device.
bool is_full_path(const char* path);

// Tells whether path names an existing directory: 1 or 0.
int is_directory(const char* path);

// Makes sure path exists as a directory, creating every missing directory
// from the first existing ancestor inwards. Returns 0 when the path already
// was a directory or its creation succeeded, -1 otherwise, with the
// system's reason in its last-error code; directories created on the way
// stay. The text is modified while parents are worked on and restored
// before the call returns.
int make_directory_tree(char* path);

}  // namespace installer
