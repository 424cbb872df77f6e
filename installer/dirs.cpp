#include <cstring>

#include "installer/paths.h"
#include "platform/ops.h"

namespace installer {

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
  if (char* slash = std::strrchr(path, '\\')) {
    if (slash != path && slash[-1] == ':') ++slash;
    return slash;
  }
  if (char* colon = std::strrchr(path, ':')) return colon + 1;
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
