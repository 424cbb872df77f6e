#include "platform/fake/fake_ops.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ops.h"

namespace fake {

World& world() { static World w; return w; }

void reset() { world() = World(); }

namespace {

// Offset of the last backslash that is a character of its own, or npos.
std::size_t last_slash(const std::string& s) {
  std::size_t found = std::string::npos;
  for (std::size_t i = 0; i < s.size(); i += ops::is_lead_byte(s[i]) ? 2 : 1)
    if (s[i] == '\\') found = i;
  return found;
}

// Parent as Windows sees it when creating: everything before the last
// backslash, keeping the root's own backslash; or a drive prefix "C:".
std::string parent_of(const std::string& n) {
  std::size_t slash = last_slash(n), colon = n.rfind(':');
  if (slash != std::string::npos) return n.substr(0, slash + (slash > 0 && n[slash - 1] == ':'));
  return colon != std::string::npos && colon + 1 < n.size() ? n.substr(0, colon + 1) : "";
}

// The spelling paths are kept under: without a trailing backslash, unless
// it is a drive root such as C:\.
std::string normalise(std::string path) {
  if (path.size() > 3 && last_slash(path) == path.size() - 1) path.pop_back();
  return path;
}

}  // namespace

void add_tree(const std::string& path) {
  for (std::string n = normalise(path); !n.empty() && !world().dirs.count(n); n = parent_of(n))
    world().dirs.insert(n);
}

int event_index(const std::string& e) {
  auto& ev = world().events;
  auto at = std::find(ev.begin(), ev.end(), e);
  return at == ev.end() ? -1 : static_cast<int>(at - ev.begin());
}

}  // namespace fake

namespace ops {

using fake::world;
using Values = std::map<std::string, fake::Value>;

long reg_open_read(const char* path, RegKey* key) {
  auto it = world().registry.find(path);
  if (it == world().registry.end()) return 2;  // ERROR_FILE_NOT_FOUND
  return *key = &it->second, ++world().open_keys, 0;
}

long reg_query_value(RegKey key, const char* name, std::uint32_t* type, unsigned char* data,
                     std::uint32_t* size) {
  auto it = static_cast<Values*>(key)->find(name);
  if (it == static_cast<Values*>(key)->end()) return 2;
  const std::string& v = it->second.data;
  std::uint32_t capacity = *size;
  *type = it->second.type, *size = static_cast<std::uint32_t>(v.size());
  if (v.size() > capacity) return 234;  // ERROR_MORE_DATA
  return std::memcpy(data, v.data(), v.size()), world().query_status;
}

long reg_create_write(const char* path, RegKey* key) {
  if (world().create_key_status != 0) return world().create_key_status;
  return *key = &world().registry[path], ++world().open_keys, 0;
}

long reg_set_value(RegKey key, const char* name, std::uint32_t type, const unsigned char* data,
                   std::uint32_t size) {
  if (world().set_value_status != 0) return world().set_value_status;
  (*static_cast<Values*>(key))[name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
  return world().events.push_back(std::string("set:") + name), 0;
}

void reg_close(RegKey) { --world().open_keys; }

std::uint32_t file_attributes(const char* path) {
  std::string n = fake::normalise(path);
  if (world().dirs.count(n)) return kAttributeDirectory;
  if (world().files.count(n)) return 0x20;  // FILE_ATTRIBUTE_ARCHIVE
  return world().last_error = 2, kInvalidAttributes;  // ERROR_FILE_NOT_FOUND
}

int create_directory(const char* path) {
  fake::World& w = world();
  std::string n = fake::normalise(path);
  if (n.size() > 248) w.last_error = 206;  // ERROR_FILENAME_EXCED_RANGE
  else if (w.dirs.count(n) || w.files.count(n)) w.last_error = 183;  // ERROR_ALREADY_EXISTS
  else if (!w.dirs.count(fake::parent_of(n))) w.last_error = 3;      // ERROR_PATH_NOT_FOUND
  else return w.dirs.insert(n), w.created.push_back(path), 0;
  return -1;
}

void current_directory(char* buf, std::size_t capacity) {
  const std::string& cwd = world().cwd;
  bool held = cwd.find_first_of(world().unheld) == std::string::npos;
  if (!cwd.empty() && held && cwd.size() < capacity) std::memcpy(buf, cwd.c_str(), cwd.size() + 1);
}

int delete_file(const char* name) {
  return world().deleted.push_back(name), world().files.erase(name) ? 0 : -1;
}

std::uint32_t last_error() { return world().last_error; }
void set_last_error(std::uint32_t code) { world().last_error = code; }

char* acquire_error_text(std::uint32_t code) {
  auto it = world().error_texts.find(code);
  if (it == world().error_texts.end()) return nullptr;
  return ++world().texts_outstanding, strdup(it->second.c_str());
}

void release_error_text(char* text) { --world().texts_outstanding, free(text); }

int run_command(const char* command) {
  world().commands.push_back(command), world().events.push_back(std::string("run:") + command);
  return world().on_command(command);
}

Interpreter interpreter() { return world().interpreter; }

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
  fake::World& w = (world().events.push_back("read_line"), world());
  if (w.input_pos >= w.input.size()) return Line::end;
  std::size_t end = std::min(w.input.find('\n', w.input_pos), w.input.size());
  std::string line = w.input.substr(w.input_pos, end - w.input_pos);
  w.input_pos = std::min(end + 1, w.input.size());
  if (line.find_first_of(w.unheld) != std::string::npos) return Line::unconvertible;
  if (line.size() >= capacity) return Line::too_long;
  return std::memcpy(buf, line.c_str(), line.size() + 1), *length = line.size(), Line::read;
}

int read_char() {
  fake::World& w = (world().events.push_back("read_char"), world());
  return w.input_pos < w.input.size() ? static_cast<unsigned char>(w.input[w.input_pos++]) : -1;
}

bool is_lead_byte(unsigned char c) {
  return world().ansi_code_page == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

// As GetFullPathNameA resolves: '/' read as '\'; a rooted path on the
// current drive, a drive-relative one in that drive's directory (another
// drive's is its root), a relative one in the current directory; then "."
// and ".." dropped. \\?\ and \\.\ paths pass as they are.
int full_path(const char* path, char* buf, std::size_t capacity) {
  std::string p(path), cwd = world().cwd, out;
  std::replace(p.begin(), p.end(), '/', '\\');
  bool drive = p.size() > 1 && p[1] == ':', unc = p.compare(0, 2, "\\\\") == 0;
  if (!unc && !(drive && p[2] == '\\'))
    p = p[0] == '\\' ? cwd.substr(0, 2) + p
        : !drive     ? cwd + (cwd.back() == '\\' ? "" : "\\") + p
                     : (p.compare(0, 2, cwd, 0, 2) == 0 ? cwd : p.substr(0, 2)) + "\\" + p.substr(2);
  std::vector<std::string> parts;
  for (std::size_t at = 0, end = 0; end < p.size(); at = end + 1) {
    end = std::min(p.find('\\', at), p.size());
    parts.push_back(p.substr(at, end - at));
    if (unc && (p[2] == '?' || p[2] == '.')) continue;
    if (parts.back() == "." || parts.back() == "..") parts.pop_back();
    if (p.compare(at, end - at, "..") == 0 && parts.size() > (unc ? 4u : 1u)) parts.pop_back();
  }
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  if (out.find_first_of(world().unheld) != std::string::npos) return kNotHeld;
  return out.size() < capacity ? (std::memcpy(buf, out.c_str(), out.size() + 1), 0) : -1;
}

}  // namespace ops
