// May two entries land on one file? If so, the archive is unpacked strictly
// in its own order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace rdz {

// The paths an archive puts on the disk, each under a key that is the same
// for any two paths one file system might take for one object, so that pass
// one can tell whether the order in which entries are unpacked can change
// the result. Windows compares names by upper-casing each UTF-16 unit: ASCII
// letters fold, every other character counts as one and the same (which
// merges more paths than Windows would; the two letters whose capitals are
// ASCII, dotless i and long s, never get here: names equal in Windows'
// letter case are refused first), and a name with '~' in it could be the
// short name of another. Keys live in a fixed open-addressed
// table; a full table counts as a clash, since nothing more can be told.
class MayLandOnOneFile {
 public:
  MayLandOnOneFile(uint64_t* slots, size_t count) : slots_(slots), mask_(count - 1) {
    std::memset(slots_, 0, count * sizeof *slots_);
  }

  // False once some path may be reached by two entries of which one is a
  // file (two directory entries for one directory are harmless).
  bool add(std::string_view rel, bool is_dir) {
    uint64_t h = kFnvBasis;
    for (size_t i = 0; i < rel.size() && !clash_; ++i) {
      auto c = static_cast<unsigned char>(rel[i]);
      if (c == '/') {
        insert(h, true);
      } else if (c == '~') {
        clash_ = true;
      } else if ((c & 0xC0) == 0x80) {
        continue;  // the rest of a character already counted
      } else if (c >= 0x80) {
        c = 0x80;
      } else if (c >= 'A' && c <= 'Z') {
        c = static_cast<unsigned char>(c - 'A' + 'a');
      }
      h = (h ^ c) * kFnvPrime;
    }
    if (!rel.empty() && !clash_) insert(h, is_dir);
    return !clash_;
  }

  bool clash() const { return clash_; }

 private:
  static constexpr uint64_t kFnvBasis = 0xcbf29ce484222325ULL, kFnvPrime = 0x100000001b3ULL;

  void insert(uint64_t key, bool dir) {
    key &= ~uint64_t{1};  // the low bit tells directories
    if (key == 0) key = 2;  // 0 marks a free slot
    size_t i = static_cast<size_t>((key ^ (key >> 29)) * 0x9e3779b97f4a7c15ULL >> 24) & mask_;
    for (; slots_[i] != 0; i = (i + 1) & mask_) {
      if ((slots_[i] & ~uint64_t{1}) == key) {
        if (!dir || !(slots_[i] & 1)) clash_ = true;
        return;
      }
    }
    if (++used_ > (mask_ + 1) / 2) {
      clash_ = true;
      return;
    }
    slots_[i] = key | (dir ? 1 : 0);
  }

  uint64_t* slots_;
  size_t mask_;
  size_t used_ = 0;
  bool clash_ = false;
};

}  // namespace rdz
