// May two entries land on one file? If so, the archive is unpacked strictly
// in its own order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "key_set.h"

namespace rdz {

// The paths an archive puts on the disk, each under a key that is the same
// for any two paths one file system might take for one object, so that pass
// one can tell whether the order in which entries are unpacked can change
// the result. Windows compares names by upper-casing each UTF-16 unit: ASCII
// letters fold, every other character counts as one and the same (which
// merges more paths than Windows would; the two letters whose capitals are
// ASCII, dotless i and long s, never get here: names equal in Windows'
// letter case are refused first), and a name with '~' in it could be the
// short name of another. The keys are kept as fingerprints: a false match
// only makes a false clash. The set is sized from the records, as many slots
// as the names table (NamesGivenTwice) at most but half its memory, so that
// both together stay small; a full set counts as a clash, since nothing more
// can be told.
class MayLandOnOneFile {
 public:
  static constexpr size_t kMostSlots = size_t{1} << 21;  // 8 MiB

  explicit MayLandOnOneFile(uint64_t records) : set_(records, kMostSlots) {}

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

  // The mark tells directories.
  void insert(uint64_t key, bool dir) {
    bool was_dir = false;
    switch (set_.put((key & ~uint64_t{1}) | (dir ? 1 : 0), &was_dir)) {
      case KeySet::Put::added: break;
      case KeySet::Put::found: clash_ = clash_ || !dir || !was_dir; break;
      case KeySet::Put::full: clash_ = true; break;
    }
  }

  FingerprintSet set_;
  bool clash_ = false;
};

}  // namespace rdz
