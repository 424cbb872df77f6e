// What one entry is allowed to become: refused, a directory, or a file.
#pragma once

#include <cstddef>

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
Kind classify(const zip::Entry& e, char* decoded, size_t decoded_cap, char* rel, size_t rel_cap,
              size_t* rel_len, Refusal* r);

}  // namespace rdz
