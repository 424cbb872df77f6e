// Letter case as Windows compares file names: each UTF-16 unit of the Basic
// Multilingual Plane to its Unicode simple uppercase, the way NTFS's upcase
// table maps it. One character never becomes two (no "ß" to "SS"), and
// nothing outside the plane folds.
#pragma once

#include <cstdint>

namespace rdz {

uint32_t upcase(uint32_t c);

}  // namespace rdz
