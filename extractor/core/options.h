// What a caller tells the extraction and what it hears back: all the
// command line needs, without the extraction's buffers or zlib.
#pragma once

#include <cstdint>

namespace rdz {

enum ExitCode : int {
  kExitOk = 0,       // every entry is in place
  kExitEntries = 1,  // entries refused or not written
  kExitArchive = 2,  // the archive cannot be read
  kExitTarget = 3,   // the target directory cannot be made
  kExitUsage = 4,
  kExitInternal = 5,
};

struct ExtractOptions {
  bool update = false;  // keep files of the entry's size at least as new as it
  int quiet = 0;        // 0: a line per entry, 1: a summary, 2: errors only
};

struct Totals {
  uint64_t files = 0;    // written
  uint64_t bytes = 0;    // written
  uint64_t skipped = 0;  // already up to date
  uint64_t dirs = 0;
  uint64_t refused = 0;
  uint64_t failed = 0;
  unsigned workers = 0;  // that unpacked side by side
};

}  // namespace rdz
