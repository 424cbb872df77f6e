// When an entry was last changed, from its DOS date and time or from the
// Unix time an extra field carries.
#pragma once

#include <cstdint>

#include "host.h"
#include "zip.h"

namespace rdz {

// The entry's modification time in seconds since 1970 UTC; DOS times are
// local, so the host converts them.
int64_t entry_mtime(const zip::Entry& e, Host& host);

}  // namespace rdz
