// What may follow the ZIP archive appended to the extractor: nothing, or the
// Authenticode signature a vendor adds afterwards. A signer appends the
// certificate table after everything else, pads the file with up to seven
// zero bytes so that the table starts 8-byte aligned, and points the PE
// header's security directory at it. Anything else after the archive means
// the file is not what was built (cut short, or with bytes added), and the
// archive is not looked for elsewhere.
//
// Plain functions over bytes the caller has read; no I/O here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rdz::signed_tail {

// How much of the file's start find_table() needs: the DOS header, the PE
// header and its data directories, at the offsets linkers put them.
constexpr size_t kHeadSize = 1024;

// Signers pad to 8 bytes; the padding is zero.
constexpr size_t kMaxPadding = 7;

struct Table {
  uint64_t offset = 0;  // the table's first byte, 8-byte aligned
  uint64_t size = 0;
};

enum class Tail {
  none,   // not a PE file, or one without a signature: the archive ends the file
  table,  // a certificate table ends the file: the archive ends before it
  bad,    // the security directory points elsewhere than the file's end
};

// Reads the security directory from `head`, the first `n` bytes of a file of
// `file_size` bytes.
Tail find_table(const unsigned char* head, size_t n, uint64_t file_size, Table* t);

// True when `table` is nothing but WIN_CERTIFICATE records, each of them a
// revision 2 PKCS#7 signature, 8-byte aligned, filling the table exactly.
bool well_formed(const unsigned char* table, size_t n);

// True when the `n` bytes between the archive's end and a certificate table
// are a signer's padding.
bool is_padding(const unsigned char* gap, size_t n);

}  // namespace rdz::signed_tail
