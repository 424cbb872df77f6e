#include "crc32.h"

#include <zlib.h>

namespace rdz {

uint32_t crc32_update(uint32_t crc, const unsigned char* p, size_t n) {
#ifdef RDZ_CLMUL
  if (n >= 64 && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2")) {
    const size_t bulk = n & ~size_t{15};
    crc = ~crc32_folded(~crc, p, bulk);
    p += bulk;
    n -= bulk;
  }
#endif
  return static_cast<uint32_t>(crc32_z(crc, p, n));
}

}  // namespace rdz
