// Refuse names given twice: an archive that names one file twice is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "upcase.h"

namespace rdz {

// The paths entries name, compared as Windows compares names (letter case
// folded by upcase()), to refuse an archive that names one file twice: which
// of the two would be "the" file is anybody's guess. Directories named twice
// are harmless; a file where a directory is named or implied is not. Keys are
// 64-bit hashes: two different names share one by accident about once in
// 10^19 pairs. The table is sized from the directory's size and capped, so a
// directory too large for it is refused rather than left unchecked.
class NamesGivenTwice {
 public:
  // Four slots a record: one for the path, the rest for the directories it
  // implies; half may fill.
  static constexpr size_t kMostSlots = size_t{1} << 21;  // 16 MiB

  explicit NamesGivenTwice(uint64_t records) {
    size_t want = 1024;
    while (want < kMostSlots && want / 8 < records) want *= 2;
    slots_ = static_cast<uint64_t*>(std::calloc(want, sizeof *slots_));
    mask_ = slots_ ? want - 1 : 0;
  }
  ~NamesGivenTwice() { std::free(slots_); }
  NamesGivenTwice(const NamesGivenTwice&) = delete;
  NamesGivenTwice& operator=(const NamesGivenTwice&) = delete;

  enum class Result { fresh, twice, full };

  Result add(std::string_view rel, bool is_dir) {
    if (slots_ == nullptr) return Result::full;
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

  Result insert(uint64_t key, bool dir) {
    key ^= key >> 31;
    key *= 0x7fb5d329728ea185ULL;
    key ^= key >> 27;
    key &= ~uint64_t{1};  // the low bit tells directories
    if (key == 0) key = 2;
    size_t i = static_cast<size_t>(key >> 20) & mask_;
    for (; slots_[i] != 0; i = (i + 1) & mask_) {
      if ((slots_[i] & ~uint64_t{1}) != key) continue;
      if (dir && (slots_[i] & 1)) return Result::fresh;
      return Result::twice;
    }
    if (++used_ > (mask_ + 1) / 2) return Result::full;
    slots_[i] = key | (dir ? 1 : 0);
    return Result::fresh;
  }

  uint64_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t used_ = 0;
};

}  // namespace rdz
