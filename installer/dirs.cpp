#include "installer/dirs.h"

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

}  // namespace

bool names_device(const char* path) {
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
