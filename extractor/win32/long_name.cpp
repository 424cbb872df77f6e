#include "win32/long_name.h"

#include <cstring>

#include "upcase.h"

namespace rdz::sys::win32 {

namespace {

bool same_name(const Unit* a, Units b) {
  for (size_t i = 0; i < b.n; ++i) {
    if (upcase(static_cast<uint32_t>(a[i])) != upcase(static_cast<uint32_t>(b.p[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool may_be_alias(const char* name) { return std::strchr(name, '~') != nullptr; }

Err may_land_at(const char* name, Err reached) {
  return reached == kErrLink && !may_be_alias(name) ? 0 : reached;
}

Err check_reached(PathQuery& q, Handle child, Units parent, Units name, Unit* out, size_t cap,
                  size_t* n) {
  // Only the long name tells an alias apart: NTFS answers the name as opened,
  // short components included, to every other query.
  if (Err e = q.path_of(child, Spelling::normalized, out, cap, n)) return e;
  size_t leaf = *n;
  while (leaf > 0 && out[leaf - 1] != u'\\') --leaf;
  // The directory is held, so its path cannot have changed: another one
  // means the name led elsewhere. Both come from the same query, exactly.
  if (leaf != parent.n + 1) return kErrLink;
  for (size_t i = 0; i < parent.n; ++i) {
    if (out[i] != parent.p[i]) return kErrLink;
  }
  // Only the last component: the target may be reached through an alias, a
  // junction or a substituted drive, and that is the user's choice.
  if (*n - leaf != name.n || !same_name(out + leaf, name)) return kErrShortName;
  return 0;
}

}  // namespace rdz::sys::win32
