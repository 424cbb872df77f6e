// Refuse names given twice: an archive that names one file twice is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "key_set.h"
#include "upcase.h"

namespace rdz {

// The paths entries name, compared as Windows compares names (letter case
// folded by upcase()), to refuse an archive that names one file twice: which
// of the two would be "the" file is anybody's guess. Directories named twice
// are harmless; a file where a directory is named or implied is not. Keys are
// 64-bit hashes: two different names share one by accident about once in
// 10^19 pairs. The set starts at the size the directory's records call for
// and grows with the files and folders the names really hold, up to a fixed
// memory cap; an archive holding more is refused rather than left unchecked.
class NamesGivenTwice {
 public:
  static constexpr size_t kMostSlots = size_t{1} << 21;  // 16 MiB
  static constexpr size_t kMostNames = kMostSlots / 2;   // files and folders

  explicit NamesGivenTwice(uint64_t records) : set_(records, kMostSlots) {}

  enum class Result { fresh, twice, full };

  Result add(std::string_view rel, bool is_dir) {
    while (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
    if (rel.empty()) return Result::fresh;
    uint64_t h = kFnvBasis;
    Result r = Result::fresh;
    for (size_t i = 0; i < rel.size();) {
      // Names are valid UTF-8 by now: one character at a time.
      uint32_t c = static_cast<unsigned char>(rel[i++]);
      if (c == '/') {
        Result d = insert(h, true);
        if (d != Result::fresh) r = d;
      } else if (c >= 0xC0) {
        const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        c &= 0x3Fu >> more;
        for (int k = 0; k < more && i < rel.size(); ++k) {
          c = c << 6 | (static_cast<unsigned char>(rel[i++]) & 0x3Fu);
        }
      }
      h = (h ^ upcase(c)) * kFnvPrime;
    }
    Result own = insert(h, is_dir);
    return own != Result::fresh ? own : r;
  }

 private:
  static constexpr uint64_t kFnvBasis = 0xcbf29ce484222325ULL, kFnvPrime = 0x100000001b3ULL;

  // The mark tells directories.
  Result insert(uint64_t key, bool dir) {
    key = (key & ~uint64_t{1}) | (dir ? 1 : 0);
    bool was_dir = false;
    const KeySet::Put p = set_.put(key, &was_dir);
    if (p == KeySet::Put::full) return Result::full;
    return p == KeySet::Put::found && !(dir && was_dir) ? Result::twice : Result::fresh;
  }

  GrowingKeySet set_;
};

}  // namespace rdz
