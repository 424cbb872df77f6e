// Choosing the command interpreter that runs a command line.
//
// The choice is kept apart from the process creation so that it can be
// tested on any host: choose_interpreter() asks a caller-supplied probe
// which candidate is a file (GetFileAttributes on Windows).
#pragma once

#include <cstddef>

namespace ops {

// Whether path names an existing file (not a directory).
using IsFileFn = bool (*)(const char* path, void* context);

// Longest program name, terminator included.
constexpr std::size_t kMaxProgram = 260;

// Longest command line handed to the system, terminator included; Windows
// itself refuses anything longer.
constexpr std::size_t kMaxCommandLine = 32768;

// Picks the interpreter into program (kMaxProgram bytes): the program comspec
// names (null when the variable is not set or could not be read exactly),
// without one pair of surrounding double quotes, when it is a file: a full
// path as it is; a bare file name (no separator, drive or "..") in
// system_dir only; a name without extension with .com, .exe, .bat and .cmd in
// that order. Any other comspec, or none that is a file, falls back to
// "cmd.exe" ("command.com" on the Windows 95 family) in system_dir. The
// current directory and PATH are never searched: the installer runs elevated
// from a download folder, where anyone may have left a program of that name.
// Returns false when not even the fallback is a file.
bool choose_interpreter(const char* comspec, const char* system_dir, bool windows95_family,
                        IsFileFn is_file, void* context, char* program);

// Whether program is cmd.exe, judged by the name Windows opens: without the
// dots and blanks that end it.
bool is_cmd(const char* program);

// The command line for program: program, " /c " and command, nothing quoted;
// for cmd.exe " /d /v:off /c ", so that no AutoRun command runs first and no
// '!' is expanded. False when it does not fit in capacity, or when command
// holds a '!' and the interpreter is not cmd.exe, which alone can be told to
// take it as typed.
bool interpreter_command_line(const char* program, const char* command, char* line,
                              std::size_t capacity);

}  // namespace ops
