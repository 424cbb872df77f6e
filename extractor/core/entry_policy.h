// What one entry is allowed to become: refused, a directory, or a file.
#pragma once

#include <cstddef>

#include "host.h"
#include "zip.h"

namespace rdz {

enum class Kind { refused, dir, file };

// Why an entry cannot be unpacked at all, found before anything is written.
struct Refusal {
  const char* reason = nullptr;
  unsigned method = 0;  // for the unsupported-method message
};

// Decides what one entry is: refused (r says why), a directory, or a file;
// for the last two, the relative path it goes to is left in `rel`.
// Each path component must fit in `here`.
Kind classify(const zip::Entry& e, char* decoded, size_t decoded_cap, char* rel, size_t rel_cap,
              size_t* rel_len, Refusal* r, ComponentLimit here = {});

// What an update (-u) does with an entry whose file `st` describes.
enum class Update {
  write,  // missing, older than the entry, or of the entry's time but another size (damaged)
  same,   // the entry's time and size: up to date
  newer,  // newer than the entry, whatever its size: another release's, kept
};

// "The entry's time" allows for the 2 s steps of DOS times and, for an entry
// that has only a DOS time (`dos_only`), which is local, for a shift of
// exactly an hour, since daylight saving moves such times.
Update judge_update(const Stat& st, int64_t entry_time, bool dos_only, uint64_t entry_size);

}  // namespace rdz
