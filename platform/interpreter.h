// Choosing the command interpreter that runs a command line.
//
// The choice is kept apart from the process creation so that it can be
// tested on any host: start_interpreter() walks the candidate programs in
// order and hands each, with the full command line, to a caller-supplied
// starter, which does the real work (CreateProcessA on Windows).
#pragma once

#include <cstddef>

namespace ops {

enum class StartResult {
  started,    // the program runs; the starter has what it needs to wait
  not_found,  // not there, or access denied: the next candidate may do
  failed,     // any other refusal: give up
};

using StartFn = StartResult (*)(const char* program, char* command_line,
                                void* context);

// Longest command line handed to a starter, terminator included; Windows
// itself refuses anything longer.
constexpr std::size_t kMaxCommandLine = 32768;

// Tries the program named by comspec (null when the variable is not set):
// a name that is no full path (bare, or relative to the current directory
// or drive) in system_dir only, a name without extension with .com, .exe,
// .bat and .cmd in that order. When comspec is unset or none of its candidates is found, falls back to "cmd.exe"
// ("command.com" on the Windows 95 family) in system_dir. The current
// directory and PATH are never searched: the installer runs elevated from a
// download folder, where anyone may have left a program of that name.
// Each command line is the program, " /c " and command, nothing quoted; for
// cmd.exe " /d /v:off /c ", so that no AutoRun command runs first and no
// '!' is expanded. Another interpreter is never handed a command holding
// '!' (failed). Returns started as soon as one starts, failed on the first
// refusal other than not_found, failed when nothing was found.
StartResult start_interpreter(const char* comspec, const char* system_dir,
                              bool windows95_family, const char* command,
                              StartFn start, void* context);

// Whether start_interpreter can only ever hand a command to cmd.exe, which
// then takes '!' as typed.
bool interpreter_is_cmd(const char* comspec, bool windows95_family);

}  // namespace ops
