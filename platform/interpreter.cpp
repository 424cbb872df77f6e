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
  // /d keeps an AutoRun command from changing the directory or what runs;
  // other interpreters do not know the switch.
  const char* options = is_cmd(program) ? "/d /c" : "/c";
  int n = std::snprintf(a.line, sizeof a.line, "%s %s %s", name, options, a.command);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof a.line)
    return StartResult::not_found;
  return a.start(name, a.line, a.context);
}

bool has_extension(std::string_view name) {
  return name.find('.', base_of(name)) != std::string_view::npos;
}

StartResult try_comspec(Attempt& a, std::string_view comspec) {
  if (has_extension(comspec)) return try_program(a, comspec);
  for (const char* ext : {".com", ".exe", ".bat", ".cmd"}) {
    char name[kMaxProgram];
    int n = std::snprintf(name, sizeof name, "%.*s%s",
                          static_cast<int>(comspec.size()), comspec.data(), ext);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof name) continue;
    StartResult r = try_program(a, name);
    if (r != StartResult::not_found) return r;
  }
  return StartResult::not_found;
}

StartResult try_fallback(Attempt& a, const char* path_env, const char* name) {
  StartResult r = try_program(a, name);
  if (r != StartResult::not_found || path_env == nullptr) return r;
  std::string_view rest(path_env);
  while (!rest.empty()) {
    std::size_t end = rest.find(';');
    std::string_view dir = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    // PATH entries are sometimes quoted to protect a ';' or blanks.
    if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"')
      dir = dir.substr(1, dir.size() - 2);
    if (dir.empty()) continue;
    const char* sep = (dir.back() == '\\' || dir.back() == '/') ? "" : "\\";
    char full[kMaxProgram];
    int n = std::snprintf(full, sizeof full, "%.*s%s%s",
                          static_cast<int>(dir.size()), dir.data(), sep, name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof full) continue;
    r = try_program(a, full);
    if (r != StartResult::not_found) return r;
  }
  return StartResult::not_found;
}

}  // namespace

StartResult start_interpreter(const char* comspec, const char* path_env,
                              bool windows95_family, const char* command,
                              StartFn start, void* context) {
  Attempt a{command, start, context, {}};
  if (comspec != nullptr && comspec[0] != '\0') {
    StartResult r = try_comspec(a, comspec);
    if (r != StartResult::not_found) return r;
  }
  StartResult r = try_fallback(a, path_env, windows95_family ? "command.com" : "cmd.exe");
  return r == StartResult::started ? r : StartResult::failed;
}

}  // namespace ops
