#include "installer/dirs.h"

#include <cstddef>
#include <initializer_list>

#include "platform/ops.h"

namespace installer {

const char* next_char(const char* p) {
  return ops::is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0' ? p + 2 : p + 1;
}

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_drive_root(const char* p) {
  char letter = static_cast<char>(p[0] | 0x20);
  return letter >= 'a' && letter <= 'z' && p[1] == ':' && is_separator(p[2]);
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether the length bytes at text are word (upper case), letter case aside.
bool equals_ignoring_case(const char* text, std::size_t length, const char* word) {
  for (std::size_t i = 0; i < length; ++i)
    if (word[i] == '\0' || upper(text[i]) != word[i]) return false;
  return word[length] == '\0';
}

// Windows opens a device for these names in any directory, whatever
// extension follows and whatever blanks precede it: COM1.txt is COM1. The
// superscript digits are their bytes in code page 1252; elsewhere those
// bytes are other letters, refused needlessly but harmlessly.
bool is_device_component(const char* start, const char* end) {
  std::size_t length = 0;
  while (start + length < end && start[length] != '.') ++length;
  while (length > 0 && start[length - 1] == ' ') --length;
  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (equals_ignoring_case(start, length, name)) return true;
  if (length != 4 || !(equals_ignoring_case(start, 3, "COM") || equals_ignoring_case(start, 3, "LPT")))
    return false;
  unsigned char digit = static_cast<unsigned char>(start[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// Whether a component of path, anywhere in it, is a device name: only the
// last one is turned into \\.\NAME when the path is resolved, so one in
// the middle would be met only once the directories before it are made.
bool has_device_component(const char* path) {
  const char* start = path;
  for (const char* p = path;; p = next_char(p)) {
    if (*p == '\0' || is_separator(*p) || *p == ':') {
      if (is_device_component(start, p)) return true;
      if (*p == '\0') return false;
      start = p + 1;
    }
  }
}

}  // namespace

bool names_device(const char* path) {
  if (has_device_component(path)) return true;
  if (!is_separator(path[0]) || !is_separator(path[1]) || (path[2] != '.' && path[2] != '?') ||
      !is_separator(path[3]))
    return false;
  const char* rest = path + 4;
  bool unc = (rest[0] | 0x20) == 'u' && (rest[1] | 0x20) == 'n' && (rest[2] | 0x20) == 'c' &&
             is_separator(rest[3]);
  return path[2] == '.' || !(is_drive_root(rest) || unc);
}

bool is_full_path(const char* path) {
  return is_drive_root(path) ||
         (is_separator(path[0]) && is_separator(path[1]) && !names_device(path));
}

int is_directory(const char* path) {
  std::uint32_t attributes = ops::file_attributes(path);
  if (attributes == ops::kInvalidAttributes) return 0;
  return (attributes & ops::kAttributeDirectory) != 0 ? 1 : 0;
}

namespace {

// Where the parent of path ends, or null when path has no parent. The root
// of a drive keeps its backslash (the parent of C:\dir is C:\), and a colon
// ends a drive prefix (the parent of C:dir is C:).
char* split_point(char* path) {
  const char* slash = nullptr;
  const char* colon = nullptr;
  bool colon_before_slash = false;
  const char* previous = nullptr;
  for (const char* p = path; *p != '\0'; previous = p, p = next_char(p)) {
    if (*p == '\\') {
      slash = p;
      colon_before_slash = previous != nullptr && *previous == ':';
    } else if (*p == ':') {
      colon = p;
    }
  }
  if (slash != nullptr) return path + (slash - path) + (colon_before_slash ? 1 : 0);
  if (colon != nullptr) return path + (colon - path) + 1;
  return nullptr;
}

}  // namespace

int make_directory_tree(char* path) {
  if (is_directory(path)) return 0;
  char* split = split_point(path);
  // No parent, or the parent is the whole path (a drive root that is not
  // there): nothing can be created.
  if (split == nullptr || *split == '\0') return -1;
  char saved = *split;
  *split = '\0';
  int parent = make_directory_tree(path);
  *split = saved;
  if (parent != 0) return -1;
  // "C:\dir\" and its parent "C:\dir" are one directory: once the parent is
  // there, creating it again under the other spelling could only be refused,
  // and would report a failure for a directory that exists.
  if (saved == '\\' && split[1] == '\0') return 0;
  return ops::create_directory(path) == 0 ? 0 : -1;
}

}  // namespace installer
