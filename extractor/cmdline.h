// The command line: splitting the raw Windows string and reading options.
#pragma once

#include <cstddef>
#include <string_view>

#include "options.h"

namespace rdz::cli {

// Splits a raw command line into arguments. Blanks and tabs separate
// arguments outside double quotes; a double quote only opens or closes a
// quoted run and is dropped; backslashes are always literal. The installer
// quotes a typed path without escaping it, so a path that ends in a
// backslash arrives as `"C:\libs\"`; the usual C runtime rules would read the
// last quote as a literal one, this reading keeps `C:\libs\` as typed.
// Windows names cannot contain quotes, so nothing is lost.
// Arguments are copied, unquoted, into `storage` (line.size() bytes always
// suffice). Returns the number of arguments, or -1 when more than max_args.
int split(std::string_view line, char* storage, size_t storage_size,
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
