// CRC-32 as ZIP uses it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rdz {

// Continues the CRC-32 that ZIP uses (as zlib's crc32() does; start from 0)
// over `n` more bytes, at any length.
uint32_t crc32_update(uint32_t crc, const unsigned char* p, size_t n);

#if defined(__x86_64__) || defined(__i386__)
#define RDZ_CLMUL 1
// The register itself (not inverted) over `n` bytes, `n` at least 64 and a
// multiple of 16, by carry-less multiplication; only on processors that
// have the instruction.
uint32_t crc32_folded(uint32_t crc, const unsigned char* p, size_t n);
#endif

}  // namespace rdz
