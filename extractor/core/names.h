// What an entry name may be once it reaches the disk: decoded to UTF-8,
// relative, inside the target, and something Windows can hold. The rules are
// the same on every platform, so an archive that unpacks in the unit tests
// unpacks the same way for a user.
#pragma once

#include <cstddef>
#include <string_view>

#include "host.h"
#include "zip.h"

namespace rdz::names {

enum class Verdict {
  ok,
  empty,
  too_long,
  bad_utf8,
  absolute,
  drive,
  parent,
  reserved_name,
  bad_char,
  control_char,
  trailing_dot_or_blank,
  component_too_long,
  component_too_long_here,
  temporary_name,
};

const char* describe(Verdict v);

// Longest relative path accepted, in UTF-8 bytes: well inside kMaxPath
// so that any target directory of sensible length still fits.
constexpr size_t kMaxName = 1024;
// NTFS and FAT allow 255 UTF-16 units per component.
constexpr size_t kMaxComponentUnits = 255;

bool valid_utf8(std::string_view s);

// False when the result would not fit in `cap` bytes.
bool cp437_to_utf8(std::string_view in, char* out, size_t cap, size_t* len);

// The entry name as UTF-8: the stored bytes when flagged UTF-8, else the
// Info-ZIP Unicode Path when present, else the stored bytes when a Unix
// system wrote them and they are valid UTF-8, else the bytes read as CP437.
Verdict decode(const zip::Entry& e, char* out, size_t cap, size_t* len);

// Rules for one path component, already split off and known to be UTF-8,
// for a system whose components hold at most `here`.
Verdict check_component(std::string_view c, ComponentLimit here = {});

// Turns a decoded name into a relative path joined by '/': backslashes count
// as separators, empty and "." components vanish, every other component must
// pass check_component. *is_dir is set when the name ends in a separator.
// A directory name may come out empty (the target itself); a file name not.
Verdict normalize(std::string_view name, char* out, size_t cap, size_t* len, bool* is_dir,
                  ComponentLimit here = {});

// A copy of `name` safe to print: each control character, C1 ones
// (U+0080..U+009F) too, becomes '?' (and, with ascii_only, each byte beyond
// ASCII), long names are cut with "..." between characters. Always
// terminated; returns the length.
size_t printable(std::string_view name, char* out, size_t cap, bool ascii_only = false);

}  // namespace rdz::names
