#include "platform/interpreter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace ops {
namespace {

using std::string_view;

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::size_t base_of(string_view name) {
  std::size_t base = name.find_last_of("\\/:");
  return base == string_view::npos ? 0 : base + 1;
}

// A drive path (C:\...) or a network one (\\server\...).
bool is_full_path(string_view name) {
  return (name.size() > 2 && name[1] == ':' && is_separator(name[2])) ||
         (name.size() > 1 && is_separator(name[0]) && is_separator(name[1]));
}

// A name the system directory itself holds: joined onto it, anything with a
// separator, a drive or ".." could name a program elsewhere.
bool is_bare_name(string_view name) {
  return !name.empty() && name.find_first_of("\\/:") == string_view::npos &&
         name.find("..") == string_view::npos;
}

struct Search {
  IsFileFn is_file;
  void* context;
  char* program;
};

// Takes dir, name and extension as the program when they name a file.
bool take_if_file(Search& s, string_view dir, string_view name, string_view extension) {
  char path[kMaxProgram];
  const char* sep = dir.empty() || is_separator(dir.back()) ? "" : "\\";
  int n = std::snprintf(path, sizeof path, "%.*s%s%.*s%.*s", static_cast<int>(dir.size()),
                        dir.data(), sep, static_cast<int>(name.size()), name.data(),
                        static_cast<int>(extension.size()), extension.data());
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof path || !s.is_file(path, s.context))
    return false;
  std::memcpy(s.program, path, static_cast<std::size_t>(n) + 1);
  return true;
}

bool take_named(Search& s, string_view dir, string_view name) {
  if (name.find('.', base_of(name)) != string_view::npos) return take_if_file(s, dir, name, "");
  for (const char* extension : {".com", ".exe", ".bat", ".cmd"})
    if (take_if_file(s, dir, name, extension)) return true;
  return false;
}

}  // namespace

bool choose_interpreter(const char* comspec, const char* system_dir, bool windows95_family,
                        IsFileFn is_file, void* context, char* program) {
  Search s{is_file, context, program};
  string_view dir = system_dir != nullptr ? system_dir : "";
  if (comspec != nullptr) {
    string_view name = comspec;
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
      name = name.substr(1, name.size() - 2);
    if (is_full_path(name) ? take_named(s, "", name)
                           : !dir.empty() && is_bare_name(name) && take_named(s, dir, name))
      return true;
  }
  return !dir.empty() && take_if_file(s, dir, windows95_family ? "command.com" : "cmd.exe", "");
}

bool is_cmd(const char* program) {
  string_view base = string_view(program).substr(base_of(program));
  base = base.substr(0, base.find_last_not_of(". ") + 1);  // npos + 1: nothing is left
  constexpr string_view kCmd = "cmd.exe";
  return base.size() == kCmd.size() &&
         std::equal(base.begin(), base.end(), kCmd.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == y;
         });
}

bool interpreter_command_line(const char* program, const char* command, char* line,
                              std::size_t capacity) {
  // /d keeps an AutoRun command from changing the directory or what runs,
  // and /v:off keeps the DelayedExpansion setting from expanding '!' even
  // between quotes. Other interpreters know neither switch, so they are
  // given no '!' at all.
  bool cmd = is_cmd(program);
  if (!cmd && std::strchr(command, '!') != nullptr) return false;
  int n = std::snprintf(line, capacity, "%s %s %s", program, cmd ? "/d /v:off /c" : "/c", command);
  return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

}  // namespace ops
