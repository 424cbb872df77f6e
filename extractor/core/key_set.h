// One small set of 64-bit keys, open-addressed in slots its user owns. It
// serves every table the extraction keeps; each use decides how its names
// become keys (Unicode uppercase, ASCII fold, raw bytes) and what a full set
// means to it (refuse the archive, unpack in order, sweep again).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace rdz {

class KeySet {
 public:
  KeySet() = default;  // no slots yet: see move_to
  // Over `count` slots, a power of two, which it clears.
  KeySet(uint64_t* slots, size_t count) { move_to(slots, count); }

  enum class Put { added, found, full };

  // Adds `key`. Its low bit is the user's mark: kept, never compared. When
  // the key is there already, *mark gets the mark it came with. Full once
  // half the slots are taken, beyond which probes grow long.
  Put put(uint64_t key, bool* mark = nullptr) {
    const uint64_t m = key & 1;
    key &= ~uint64_t{1};
    if (key == 0) key = 2;  // 0 marks a free slot
    size_t i = slot_of(key);
    for (; slots_[i] != 0; i = (i + 1) & mask_) {
      if ((slots_[i] & ~uint64_t{1}) != key) continue;
      if (mark) *mark = (slots_[i] & 1) != 0;
      return Put::found;
    }
    if (used_ >= (mask_ + 1) / 2) return Put::full;
    ++used_;
    slots_[i] = key | m;
    return Put::added;
  }

  // Moves the keys into `count` other slots, more than it has, and uses
  // those from then on: for a set that grows. The old slots are the user's.
  void move_to(uint64_t* to, size_t count) {
    uint64_t* const old = slots_;
    const size_t old_count = slots();
    slots_ = to;
    mask_ = count - 1;
    std::memset(slots_, 0, count * sizeof *slots_);
    for (size_t j = 0; j < old_count; ++j) {
      if (old[j] == 0) continue;
      size_t i = slot_of(old[j] & ~uint64_t{1});
      while (slots_[i] != 0) i = (i + 1) & mask_;
      slots_[i] = old[j];
    }
  }

  size_t slots() const { return slots_ ? mask_ + 1 : 0; }

 private:
  // Keys are hashes whose low bits may be poor: the slot comes from the
  // mixed high bits.
  size_t slot_of(uint64_t key) const {
    key ^= key >> 29;
    return static_cast<size_t>(key * 0x9e3779b97f4a7c15ULL >> 32) & mask_;
  }

  uint64_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t used_ = 0;
};

// A KeySet in memory of its own: it starts at the size `expected` keys call
// for and doubles when full, up to `most` slots, so that a small archive
// costs little and a large one no more than that bound. Full, too, when
// the memory cannot be had.
class GrowingKeySet {
 public:
  GrowingKeySet(uint64_t expected, size_t most) : most_(most) {
    size_t want = 1024;
    while (want < most && want / 2 < expected) want *= 2;
    slots_ = static_cast<uint64_t*>(std::malloc(want * sizeof *slots_));
    if (slots_) set_.move_to(slots_, want);
  }
  ~GrowingKeySet() { std::free(slots_); }
  GrowingKeySet(const GrowingKeySet&) = delete;
  GrowingKeySet& operator=(const GrowingKeySet&) = delete;

  KeySet::Put put(uint64_t key, bool* mark = nullptr) {
    if (slots_ == nullptr) return KeySet::Put::full;
    KeySet::Put p = set_.put(key, mark);
    if (p == KeySet::Put::full && grow()) p = set_.put(key, mark);
    return p;
  }

 private:
  bool grow() {
    const size_t now = set_.slots();
    if (now >= most_) return false;
    auto* more = static_cast<uint64_t*>(std::malloc(2 * now * sizeof(uint64_t)));
    if (more == nullptr) return false;
    set_.move_to(more, 2 * now);
    std::free(slots_);
    slots_ = more;
    return true;
  }

  size_t most_;
  uint64_t* slots_ = nullptr;
  KeySet set_;
};

}  // namespace rdz
