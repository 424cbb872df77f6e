#include "signed_tail.h"

namespace rdz::signed_tail {

namespace {

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const unsigned char* p) {
  return static_cast<uint32_t>(u16(p)) | static_cast<uint32_t>(u16(p + 2)) << 16;
}

constexpr uint16_t kPe32 = 0x10b, kPe32Plus = 0x20b;
constexpr size_t kSecurityEntry = 4;  // index among the data directories
constexpr uint16_t kRevision2 = 0x0200, kPkcsSignedData = 0x0002;

}  // namespace

Tail find_table(const unsigned char* head, size_t n, uint64_t file_size, Table* t) {
  *t = Table{};
  if (n < 64 || head[0] != 'M' || head[1] != 'Z') return Tail::none;
  const uint64_t pe = u32(head + 0x3C), opt = pe + 24;
  if (opt + 2 > n || u32(head + pe) != 0x00004550) return Tail::none;
  const uint16_t magic = u16(head + opt);
  if (magic != kPe32 && magic != kPe32Plus) return Tail::none;
  // The directory count and the directories follow the fields whose size
  // differs between the 32- and the 64-bit header.
  const uint64_t count_at = opt + (magic == kPe32 ? 92 : 108);
  const uint64_t entry_end = count_at + 4 + (kSecurityEntry + 1) * 8;
  if (entry_end > opt + u16(head + pe + 20) || entry_end > n ||
      u32(head + count_at) <= kSecurityEntry) {
    return Tail::none;
  }
  const uint64_t offset = u32(head + entry_end - 8), size = u32(head + entry_end - 4);
  if (size == 0) return Tail::none;
  if (offset % 8 != 0 || size > file_size || offset != file_size - size) return Tail::bad;
  t->offset = offset;
  t->size = size;
  return Tail::table;
}

bool well_formed(const unsigned char* table, size_t n) {
  size_t pos = 0;
  while (n - pos >= 8) {
    const uint32_t len = u32(table + pos);
    if (len < 8 || u16(table + pos + 4) != kRevision2 || u16(table + pos + 6) != kPkcsSignedData) {
      return false;
    }
    // Each record but the last is padded to 8 bytes; the last may be too.
    const size_t padded = (static_cast<size_t>(len) + 7) & ~size_t{7};
    if (len == n - pos || padded == n - pos) return true;
    if (padded > n - pos) return false;
    pos += padded;
  }
  return false;
}

bool is_padding(const unsigned char* gap, size_t n) {
  if (n > kMaxPadding) return false;
  for (size_t i = 0; i < n; ++i) {
    if (gap[i] != 0) return false;
  }
  return true;
}

}  // namespace rdz::signed_tail
