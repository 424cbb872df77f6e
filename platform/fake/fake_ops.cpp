#include "platform/fake/fake_ops.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "platform/ops.h"

namespace fake {

World& world() {
  static World w;
  return w;
}

void reset() { world() = World(); }

std::string normalise(const std::string& path) {
  std::string n;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' && !n.empty() && n.back() == '\\' && i > 1) continue;
    n += path[i];
  }
  bool drive_root = n.size() == 3 && n[1] == ':';
  while (n.size() > 1 && n.back() == '\\' && !drive_root) n.pop_back();
  return n;
}

void add_tree(const std::string& path) {
  std::string n = normalise(path);
  for (std::size_t i = 0; i < n.size(); ++i)
    if (n[i] == '\\' && i > 0) world().dirs.insert(normalise(n.substr(0, i + (n[i - 1] == ':'))));
  world().dirs.insert(n);
}

int event_index(const std::string& e) {
  auto& ev = world().events;
  for (std::size_t i = 0; i < ev.size(); ++i)
    if (ev[i] == e) return static_cast<int>(i);
  return -1;
}

namespace {

// Parent as Windows sees it when creating: everything before the last
// backslash, keeping the root's own backslash; or a drive prefix "C:".
std::string parent_of(const std::string& n) {
  std::size_t slash = n.rfind('\\');
  if (slash != std::string::npos) {
    if (slash > 0 && n[slash - 1] == ':') return n.substr(0, slash + 1);
    return n.substr(0, slash);
  }
  std::size_t colon = n.rfind(':');
  if (colon != std::string::npos && colon + 1 < n.size()) return n.substr(0, colon + 1);
  return std::string();
}

}  // namespace
}  // namespace fake

namespace ops {

using fake::world;
using fake::World;

long reg_open_read(const char* path, RegKey* key) {
  auto it = world().registry.find(path);
  if (it == world().registry.end()) return 2;  // ERROR_FILE_NOT_FOUND
  ++world().open_keys;
  *key = &it->second;
  return 0;
}

long reg_query_value(RegKey key, const char* name, std::uint32_t* type,
                     unsigned char* data, std::uint32_t* size) {
  auto& values = *static_cast<std::map<std::string, fake::Value>*>(key);
  auto it = values.find(name);
  if (it == values.end()) return 2;
  const fake::Value& v = it->second;
  *type = v.type;
  std::uint32_t capacity = *size;
  *size = static_cast<std::uint32_t>(v.data.size());
  if (v.data.size() > capacity) return 234;  // ERROR_MORE_DATA
  std::memcpy(data, v.data.data(), v.data.size());
  return 0;
}

long reg_create_write(const char* path, RegKey* key) {
  if (world().create_key_status != 0) return world().create_key_status;
  ++world().open_keys;
  *key = &world().registry[path];
  return 0;
}

long reg_set_value(RegKey key, const char* name, std::uint32_t type,
                   const unsigned char* data, std::uint32_t size) {
  if (world().set_value_status != 0) return world().set_value_status;
  auto& values = *static_cast<std::map<std::string, fake::Value>*>(key);
  values[name] = fake::Value{type, std::string(reinterpret_cast<const char*>(data), size)};
  world().events.push_back(std::string("set:") + name);
  return 0;
}

void reg_close(RegKey) { --world().open_keys; }

std::uint32_t file_attributes(const char* path) {
  world().attribute_queries.push_back(path);
  std::string n = fake::normalise(path);
  if (world().dirs.count(n)) return kAttributeDirectory;
  if (world().files.count(n)) return 0x20;  // FILE_ATTRIBUTE_ARCHIVE
  return kInvalidAttributes;
}

int create_directory(const char* path) {
  std::string n = fake::normalise(path);
  if (n.empty() || world().refuse_create.count(n) || world().dirs.count(n) ||
      world().files.count(n) || !world().dirs.count(fake::parent_of(n)))
    return -1;
  world().dirs.insert(n);
  world().created.push_back(path);
  return 0;
}

void current_directory(char* buf, std::size_t capacity) {
  const std::string& cwd = world().cwd;
  if (cwd.empty() || cwd.size() >= capacity) return;
  std::memcpy(buf, cwd.c_str(), cwd.size() + 1);
}

int delete_file(const char* name) {
  world().deleted.push_back(name);
  world().events.push_back(std::string("delete:") + name);
  return world().files.erase(fake::normalise(name)) ? 0 : -1;
}

std::uint32_t last_error() { return world().last_error; }
void set_last_error(std::uint32_t code) { world().last_error = code; }

char* acquire_error_text(std::uint32_t code) {
  auto it = world().error_texts.find(code);
  if (it == world().error_texts.end()) return nullptr;
  ++world().texts_outstanding;
  return strdup(it->second.c_str());
}

void release_error_text(char* text) {
  if (text == nullptr) return;
  --world().texts_outstanding;
  free(text);
}

int run_command(const char* command) {
  world().commands.push_back(command);
  world().events.push_back(std::string("run:") + command);
  return world().on_command(command);
}

void print(Stream stream, const char* format, ...) {
  char buf[4096];
  std::va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return;
  std::string text(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
  (stream == Stream::out ? world().out : world().err) += text;
  world().events.push_back((stream == Stream::out ? "out:" : "err:") + text);
}

void flush_output() { world().events.push_back("flush"); }

int read_line(char* buf, std::size_t capacity) {
  World& w = world();
  w.events.push_back("read_line");
  if (w.input_pos >= w.input.size()) return -1;
  std::size_t n = 0;
  while (n + 1 < capacity && w.input_pos < w.input.size()) {
    char c = w.input[w.input_pos++];
    buf[n++] = c;
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return 0;
}

int read_char() {
  World& w = world();
  w.events.push_back("read_char");
  if (w.input_pos >= w.input.size()) return -1;
  return static_cast<unsigned char>(w.input[w.input_pos++]);
}

void unread_char(int c) {
  World& w = world();
  if (c < 0 || w.input_pos == 0) return;
  w.input[--w.input_pos] = static_cast<char>(c);
}

}  // namespace ops
