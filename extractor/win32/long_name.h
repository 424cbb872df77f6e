// What a name opened below a held directory really reached, told from the
// path the system reports for the opened handle: the directory's own entry
// of that long name, or a link's target, or another entry reached through
// its short (8.3) alias. Free of system calls, so that it is built and
// tested on every platform; on Windows win32/open_at_win32.cpp supplies the paths.
#pragma once

#include <cstddef>

#include "host.h"

namespace rdz::sys::win32 {

#ifdef _WIN32
using Unit = wchar_t;
#else
using Unit = char16_t;
#endif

struct Units {
  const Unit* p;
  size_t n;
};

// How the system may spell the path of an open handle.
enum class Spelling {
  // The components as the name that opened it gave them, short aliases
  // included: what NTFS answers for FileNameInfo or FILE_NAME_OPENED.
  as_opened,
  // Each component by its long name, links resolved.
  normalized,
};

class PathQuery {
 public:
  // The full path of `h`, spelled so, into `out` (`cap` units, no
  // terminator needed); *n is its length.
  virtual Err path_of(Handle h, Spelling s, Unit* out, size_t cap, size_t* n) = 0;

 protected:
  ~PathQuery() = default;
};

// Whether `name` (UTF-8) may be the short alias of another name: the
// system makes every alias with a '~' (BINARI~1), and only an administrator
// can choose one. Other names need no check.
bool may_be_alias(const char* name);

// Checks that `child`, opened as `name` in the directory whose normalized
// path is `parent`, is that directory's entry of that very name, letter case
// aside. kErrLink when it lies elsewhere (a link was followed);
// kErrShortName when its long name differs. The child's normalized path goes
// to `out` (`cap` units), its length to *n.
Err check_reached(PathQuery& q, Handle child, Units parent, Units name, Unit* out, size_t cap,
                  size_t* n);

// Whether a file may be put at `name`, given what check_reached said of
// what an open of that name, not following links, reached. A link standing
// at its own name is replaced as a name, never written through (kErrLink
// passes), but not at a name that may be an alias: NTFS opens the link
// itself and answers its long name, while Wine follows the link and answers
// its target's path, which hides whose alias the name is; the rename would
// then replace the link (`verylongfilename.dll`, reached as VERY~VUN.DLL)
// under a long name no entry gave.
Err may_land_at(const char* name, Err reached);

}  // namespace rdz::sys::win32
