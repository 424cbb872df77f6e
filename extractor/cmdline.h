// The command line: splitting the raw Windows string and reading options.
#pragma once

#include <cstddef>
#include <string_view>

#include "options.h"

namespace rdz::cli {

// Splits a raw command line, UTF-16 as Windows holds it, into arguments
// in UTF-8. Blanks and tabs separate arguments outside double quotes; a
// double quote only opens or closes a quoted run and is dropped; backslashes
// are always literal. The installer quotes a typed path without escaping it,
// so a path that ends in a backslash arrives as `"C:\libs\"` (a root always
// does: `"C:\"`); the usual C runtime rules would read the last quote as a
// literal one, this reading keeps `C:\libs\` as typed. Windows names cannot
// contain quotes, so nothing is lost. Every other character is converted
// exactly: a letter no code page holds, or a fullwidth quote, stays itself.
// Arguments are copied, unquoted, into `storage` (3 * line.size() bytes
// always suffice). Returns the number of arguments; kTooMany when more than
// max_args or `storage` is full; kNotUnicode for half a surrogate pair,
// which UTF-8 cannot hold and which no replacement may stand in for (it
// would name another folder).
constexpr int kTooMany = -1, kNotUnicode = -2;
int split(std::u16string_view line, char* storage, size_t storage_size,
          std::string_view* args, int max_args);

// What the extraction is told, and where it unpacks.
struct Options : ExtractOptions {
  std::string_view dir;  // empty: the current directory
};

// Reads the arguments after the program name. False on anything it does not
// know, with the offending argument in *bad.
bool parse(const std::string_view* args, int count, Options* opt, std::string_view* bad);

extern const char kUsage[];

}  // namespace rdz::cli
