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
  // does not exist.
  std::set<std::string> dirs;
  std::set<std::string> files;
  std::set<std::string> refuse_create;     // CreateDirectoryA refuses these
  std::vector<std::string> created;        // in creation order
  std::vector<std::string> attribute_queries;

  // Registry: key path -> value name -> value.
  std::map<std::string, std::map<std::string, Value>> registry;
  long create_key_status = 0;  // non-zero: RegCreateKeyExA fails with it
  long set_value_status = 0;   // non-zero: RegSetValueExA fails with it
  int open_keys = 0;           // keys opened and not yet closed

  // Current directory; an empty one makes the request fail.
  std::string cwd = "C:\\work";

  // Errors.
  std::uint32_t last_error = 0;
  std::map<std::uint32_t, std::string> error_texts;
  int texts_outstanding = 0;

  // Commands handed to the interpreter, and what running one does.
  std::vector<std::string> commands;
  std::function<int(const std::string&)> on_command = [](const std::string&) { return 0; };

  std::vector<std::string> deleted;

  // Console: scripted input, captured output, and the order of the calls
  // that matter for the dialogue ("out:", "err:", "flush", "read_line",
  // "read_char", "run:", "delete:", "set:").
  std::string input;
  std::size_t input_pos = 0;
  std::string out;
  std::string err;
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
