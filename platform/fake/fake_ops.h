// An in-memory stand-in for the platform operations, linked into the unit
// tests in place of platform/win32/: tests arrange fake::world() and read
// back what the code under test did.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/ops.h"

namespace fake {

struct Value {
  std::uint32_t type;
  std::string data;  // raw bytes, terminator included if it was stored
};

struct World {
  // Paths as normalise() spells them; creation refuses what Windows refuses.
  std::set<std::string> dirs, files;
  std::vector<std::string> created, deleted, commands;
  std::string cwd = "C:\\work";  // an empty one, or one holding an unheld character, cannot be had
  std::map<std::string, std::map<std::string, Value>> registry;  // key -> name -> value
  // Non-zero: the call fails with it (a query after filling in what it read).
  long create_key_status = 0, set_value_status = 0, query_status = 0;
  int open_keys = 0, texts_outstanding = 0;
  std::uint32_t last_error = 0;
  std::map<std::uint32_t, std::string> error_texts;
  ops::Interpreter interpreter = ops::Interpreter::cmd;
  std::function<int(const std::string&)> on_command = [](const std::string&) { return 0; };
  // Input is what the console layer hands over: ANSI bytes (1252, or 932
  // with its lead bytes), and a line holding one of the unheld characters is
  // refused as the console layer refuses letters the code page cannot hold;
  // so is a current directory or a full path that holds one.
  std::string unheld;
  int ansi_code_page = 1252;
  std::string input, out, err;
  std::size_t input_pos = 0;
  // "flush", "read_line", "read_char", "run:<command>", "set:<value>".
  std::vector<std::string> events;
};

World& world();
void reset();
// Adds a directory and all its ancestors ("C:\a\b" adds C:\, C:\a, C:\a\b).
void add_tree(const std::string& path);
// Index of the first event equal to e, or -1.
int event_index(const std::string& e);

}  // namespace fake
