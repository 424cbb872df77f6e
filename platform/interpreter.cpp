#include "platform/interpreter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace ops {
namespace {

constexpr std::size_t kMaxProgram = 260;

struct Attempt {
  const char* command;
  const char* system_dir;
  StartFn start;
  void* context;
  char line[kMaxCommandLine];
};

std::size_t base_of(std::string_view name) {
  std::size_t base = name.find_last_of("\\/:");
  return base == std::string_view::npos ? 0 : base + 1;
}

bool is_cmd(std::string_view program) {
  std::string_view base = program.substr(base_of(program));
  constexpr std::string_view kCmd = "cmd.exe";
  return base.size() == kCmd.size() &&
         std::equal(base.begin(), base.end(), kCmd.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == y;
         });
}

// Starts one candidate. A program name or command line too long for the
// system counts as not found: the system could not have started it either.
StartResult try_program(Attempt& a, std::string_view program) {
  if (program.size() >= kMaxProgram) return StartResult::not_found;
  char name[kMaxProgram];
  std::memcpy(name, program.data(), program.size());
  name[program.size()] = '\0';
  // /d keeps an AutoRun command from changing the directory or what runs,
  // and /v:off keeps the DelayedExpansion setting from expanding '!' even
  // between quotes. Other interpreters know neither switch, so they are
  // given no '!' at all.
  bool cmd = is_cmd(program);
  if (!cmd && std::strchr(a.command, '!') != nullptr) return StartResult::failed;
  const char* options = cmd ? "/d /v:off /c" : "/c";
  int n = std::snprintf(a.line, sizeof a.line, "%s %s %s", name, options, a.command);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof a.line)
    return StartResult::not_found;
  return a.start(name, a.line, a.context);
}

bool has_extension(std::string_view name) {
  return name.find('.', base_of(name)) != std::string_view::npos;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// A full path (C:\..., \\server\...) as it is; any other name, bare or
// relative to the current directory or drive, in the system directory:
// never from the current directory or PATH.
StartResult try_located(Attempt& a, std::string_view program) {
  bool is_full = (program.size() > 2 && program[1] == ':' && is_separator(program[2])) ||
                 (program.size() > 1 && is_separator(program[0]) && is_separator(program[1]));
  if (is_full) return try_program(a, program);
  if (a.system_dir == nullptr || a.system_dir[0] == '\0') return StartResult::not_found;
  std::string_view dir(a.system_dir);
  const char* sep = (dir.back() == '\\' || dir.back() == '/') ? "" : "\\";
  char full[kMaxProgram];
  int n = std::snprintf(full, sizeof full, "%s%s%.*s", a.system_dir, sep,
                        static_cast<int>(program.size()), program.data());
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof full) return StartResult::not_found;
  return try_program(a, full);
}

StartResult try_comspec(Attempt& a, std::string_view comspec) {
  if (has_extension(comspec)) return try_located(a, comspec);
  for (const char* ext : {".com", ".exe", ".bat", ".cmd"}) {
    char name[kMaxProgram];
    int n = std::snprintf(name, sizeof name, "%.*s%s",
                          static_cast<int>(comspec.size()), comspec.data(), ext);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof name) continue;
    StartResult r = try_located(a, name);
    if (r != StartResult::not_found) return r;
  }
  return StartResult::not_found;
}

}  // namespace

StartResult start_interpreter(const char* comspec, const char* system_dir,
                              bool windows95_family, const char* command,
                              StartFn start, void* context) {
  Attempt a{command, system_dir, start, context, {}};
  if (comspec != nullptr && comspec[0] != '\0') {
    StartResult r = try_comspec(a, comspec);
    if (r != StartResult::not_found) return r;
  }
  StartResult r = try_located(a, windows95_family ? "command.com" : "cmd.exe");
  return r == StartResult::started ? r : StartResult::failed;
}

bool interpreter_is_cmd(const char* comspec, bool windows95_family) {
  if (windows95_family) return false;
  return comspec == nullptr || comspec[0] == '\0' || is_cmd(comspec);
}

}  // namespace ops
