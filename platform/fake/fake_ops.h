// An in-memory stand-in for the platform operations, linked into the unit
// tests in place of platform/win32/. Tests arrange the world through
// fake::world() and read back what the code under test did.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fake {

struct Value {
  std::uint32_t type;
  std::string data;  // raw bytes, terminator included if it was stored
};

struct World {
  // File system: normalised paths (see normalise()). A path in neither set
  // does not exist. Directory creation refuses what Windows refuses.
  std::set<std::string> dirs;
  std::set<std::string> files;
  std::vector<std::string> created;  // in creation order
  std::string cwd = "C:\\work";  // an empty one makes the request fail

  // Registry: key path -> value name -> value.
  std::map<std::string, std::map<std::string, Value>> registry;
  long create_key_status = 0;  // non-zero: RegCreateKeyExA fails with it
  long set_value_status = 0;   // non-zero: RegSetValueExA fails with it
  int open_keys = 0;           // keys opened and not yet closed

  std::uint32_t last_error = 0;
  std::map<std::uint32_t, std::string> error_texts;
  int texts_outstanding = 0;

  // Commands handed to the interpreter, and what running one does.
  std::vector<std::string> commands;
  std::function<int(const std::string&)> on_command = [](const std::string&) { return 0; };
  std::vector<std::string> deleted;

  // Console. Typed input (console true) is UTF-8 text, converted to the
  // ANSI code page (1252 or 932; a few letters of each are known) as the
  // console layer converts; redirected input is taken as ANSI bytes.
  bool console = false;
  int ansi_code_page = 1252;
  std::string input;
  std::size_t input_pos = 0;
  std::string out;
  std::string err;
  // The calls that matter for the dialogue's order ("flush", "read_line",
  // "read_char", "run:", "set:").
  std::vector<std::string> events;
};

// The one world the fake operations act on; reset() starts a new one.
World& world();
void reset();

// The spelling under which the fake file system stores a path: repeated
// backslashes folded (but a leading "\\" of a network path kept), and a
// trailing backslash dropped unless it is a drive root such as C:\.
std::string normalise(const std::string& path);

// Adds a directory and all its ancestors ("C:\a\b" adds C:\, C:\a, C:\a\b).
void add_tree(const std::string& path);

// Index of the first event equal to e, or -1.
int event_index(const std::string& e);

}  // namespace fake
