#include "platform/fake/fake_ops.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ops.h"

namespace fake {

World& world() {
  static World w;
  return w;
}

void reset() { world() = World(); }

namespace {

// Byte length of the character at s[i], as Windows steps through it.
std::size_t char_size(const std::string& s, std::size_t i) {
  return ops::is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

// Offset of the last backslash that is a character of its own, or npos.
std::size_t last_slash(const std::string& s) {
  std::size_t found = std::string::npos;
  for (std::size_t i = 0; i < s.size(); i += char_size(s, i))
    if (s[i] == '\\') found = i;
  return found;
}

// Parent as Windows sees it when creating: everything before the last
// backslash, keeping the root's own backslash; or a drive prefix "C:".
std::string parent_of(const std::string& n) {
  std::size_t slash = last_slash(n);
  if (slash != std::string::npos) return n.substr(0, slash + (slash > 0 && n[slash - 1] == ':'));
  std::size_t colon = n.rfind(':');
  return colon != std::string::npos && colon + 1 < n.size() ? n.substr(0, colon + 1) : "";
}

// The letters the tests type, in UTF-8 and in the code page that holds them.
struct Letter {
  int code_page;
  const char* utf8;
  const char* ansi;
};
constexpr Letter kLetters[] = {
    {1252, "\xC3\xA8", "\xE8"},          {1252, "\xC3\xBC", "\xFC"},
    {932, "\xE3\x82\xBD", "\x83\x5C"},   {932, "\xE3\x83\x95", "\x83\x74"},
    {932, "\xE3\x83\x88", "\x83\x67"},
};

// Typed text as the ANSI code page holds it; false when a letter has no form.
bool to_ansi(const std::string& typed, std::string* ansi) {
  for (std::size_t i = 0; i < typed.size();) {
    auto it = std::find_if(std::begin(kLetters), std::end(kLetters), [&](const Letter& l) {
      return l.code_page == world().ansi_code_page && typed.compare(i, std::strlen(l.utf8), l.utf8) == 0;
    });
    if (static_cast<unsigned char>(typed[i]) < 0x80) *ansi += typed[i++];
    else if (it == std::end(kLetters)) return false;
    else *ansi += it->ansi, i += std::strlen(it->utf8);
  }
  return true;
}

}  // namespace

std::string normalise(const std::string& path) {
  std::string n;
  for (std::size_t i = 0; i < path.size(); i += char_size(path, i)) {
    if (path[i] == '\\' && i > 1 && n.size() == last_slash(n) + 1) continue;
    n += path.substr(i, char_size(path, i));
  }
  bool drive_root = n.size() == 3 && n[1] == ':';
  while (n.size() > 1 && last_slash(n) == n.size() - 1 && !drive_root) n.pop_back();
  return n;
}

void add_tree(const std::string& path) {
  std::string n = normalise(path);
  for (; !n.empty() && !world().dirs.count(n); n = parent_of(n)) world().dirs.insert(n);
}

int event_index(const std::string& e) {
  auto& ev = world().events;
  auto it = std::find(ev.begin(), ev.end(), e);
  return it == ev.end() ? -1 : static_cast<int>(it - ev.begin());
}

}  // namespace fake

namespace ops {

using fake::world;
using fake::World;
using Values = std::map<std::string, fake::Value>;

long reg_open_read(const char* path, RegKey* key) {
  auto it = world().registry.find(path);
  if (it == world().registry.end()) return 2;  // ERROR_FILE_NOT_FOUND
  ++world().open_keys;
  *key = &it->second;
  return 0;
}

long reg_query_value(RegKey key, const char* name, std::uint32_t* type, unsigned char* data,
                     std::uint32_t* size) {
  auto& values = *static_cast<Values*>(key);
  auto it = values.find(name);
  if (it == values.end()) return 2;
  *type = it->second.type;
  std::uint32_t capacity = *size;
  *size = static_cast<std::uint32_t>(it->second.data.size());
  if (*size > capacity) return 234;  // ERROR_MORE_DATA
  std::memcpy(data, it->second.data.data(), *size);
  return 0;
}

long reg_create_write(const char* path, RegKey* key) {
  if (world().create_key_status != 0) return world().create_key_status;
  ++world().open_keys;
  *key = &world().registry[path];
  return 0;
}

long reg_set_value(RegKey key, const char* name, std::uint32_t type, const unsigned char* data,
                   std::uint32_t size) {
  if (world().set_value_status != 0) return world().set_value_status;
  (*static_cast<Values*>(key))[name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
  world().events.push_back(std::string("set:") + name);
  return 0;
}

void reg_close(RegKey) { --world().open_keys; }

std::uint32_t file_attributes(const char* path) {
  std::string n = fake::normalise(path);
  if (world().dirs.count(n)) return kAttributeDirectory;
  if (world().files.count(n)) return 0x20;  // FILE_ATTRIBUTE_ARCHIVE
  world().last_error = 2;                   // ERROR_FILE_NOT_FOUND
  return kInvalidAttributes;
}

int create_directory(const char* path) {
  World& w = world();
  std::string n = fake::normalise(path);
  if (std::strlen(path) > 248) w.last_error = 206;  // ERROR_FILENAME_EXCED_RANGE
  else if (w.dirs.count(n) || w.files.count(n)) w.last_error = 183;  // ERROR_ALREADY_EXISTS
  else if (n.empty() || !w.dirs.count(fake::parent_of(n))) w.last_error = 3;  // PATH_NOT_FOUND
  else return w.dirs.insert(n), w.created.push_back(path), 0;
  return -1;
}

void current_directory(char* buf, std::size_t capacity) {
  const std::string& cwd = world().cwd;
  if (!cwd.empty() && cwd.size() < capacity) std::memcpy(buf, cwd.c_str(), cwd.size() + 1);
}

int delete_file(const char* name) {
  world().deleted.push_back(name);
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
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  (stream == Stream::out ? world().out : world().err) += buf;
  world().last_error = 6;  // printing touches the last-error code on Windows too
}

void flush_output() { world().events.push_back("flush"); }

Line read_line(char* buf, std::size_t capacity, std::size_t* length) {
  World& w = world();
  w.events.push_back("read_line");
  if (w.input_pos >= w.input.size()) return Line::end;
  std::size_t end = std::min(w.input.find('\n', w.input_pos), w.input.size());
  std::string line = w.input.substr(w.input_pos, end - w.input_pos), ansi;
  w.input_pos = std::min(end + 1, w.input.size());
  if (w.console && !fake::to_ansi(line, &ansi)) return Line::unconvertible;
  if (w.console) line = ansi;
  if (line.size() >= capacity) return Line::too_long;
  std::memcpy(buf, line.c_str(), line.size() + 1);
  *length = line.size();
  return Line::read;
}

int read_char() {
  World& w = world();
  w.events.push_back("read_char");
  return w.input_pos < w.input.size() ? static_cast<unsigned char>(w.input[w.input_pos++]) : -1;
}

bool is_lead_byte(unsigned char c) {
  return world().ansi_code_page == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

int full_path(const char* path, char* buf, std::size_t capacity) {
  std::string p(path), cwd = world().cwd, full;
  std::replace(p.begin(), p.end(), '/', '\\');
  if (p[0] == '\\') full = cwd.substr(0, 2) + p;
  else if (p.compare(0, 2, cwd, 0, 2) == 0) full = cwd + "\\" + p.substr(2);
  else full = p.substr(0, 2) + "\\" + p.substr(2);
  if (full.size() >= capacity) return -1;
  std::memcpy(buf, full.c_str(), full.size() + 1);
  return 0;
}

}  // namespace ops
