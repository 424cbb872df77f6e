// Small sets of 64-bit keys, open-addressed. They serve every table the
// extraction keeps; each use decides how its names become keys (Unicode
// uppercase, ASCII fold, raw bytes) and what a full set means to it (refuse
// the archive, unpack in order, sweep again).
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

// Keys kept as 32-bit fingerprints in slots allocated once: half a KeySet's
// memory per key, for a user to whom a rare false "found" costs only time
// (MayLandOnOneFile: a false clash unpacks in order, which is safe). It
// never grows, since a key cut to its fingerprint cannot be placed again.
class FingerprintSet {
 public:
  // Room for `expected` keys at half the slots, within `most` slots (a power
  // of two). Full from the start when the memory cannot be had.
  FingerprintSet(uint64_t expected, size_t most) {
    size_t want = 1024;
    while (want < most && want / 2 < expected) want *= 2;
    slots_ = static_cast<uint32_t*>(std::calloc(want, sizeof *slots_));
    if (slots_) mask_ = want - 1;
  }
  ~FingerprintSet() { std::free(slots_); }
  FingerprintSet(const FingerprintSet&) = delete;
  FingerprintSet& operator=(const FingerprintSet&) = delete;

  // As KeySet::put, the low bit of `key` being the user's mark. The key is
  // mixed first (its low bits may be poor), then its high half picks the
  // slot and its low half is kept: two keys pass for one only when they
  // agree in both. Full at three quarters of the slots: longer probes are
  // all a fuller table costs, while "full" costs its user more.
  KeySet::Put put(uint64_t key, bool* mark = nullptr) {
    if (slots_ == nullptr) return KeySet::Put::full;
    uint64_t h = key & ~uint64_t{1};
    h = (h ^ h >> 33) * 0xff51afd7ed558ccdULL;
    h = (h ^ h >> 33) * 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    uint32_t fp = static_cast<uint32_t>(h) & ~1u;
    if (fp == 0) fp = 2;  // 0 marks a free slot
    size_t i = static_cast<size_t>(h >> 32) & mask_;
    for (; slots_[i] != 0; i = (i + 1) & mask_) {
      if ((slots_[i] & ~1u) != fp) continue;
      if (mark) *mark = (slots_[i] & 1) != 0;
      return KeySet::Put::found;
    }
    if (used_ >= (mask_ + 1) / 4 * 3) return KeySet::Put::full;
    ++used_;
    slots_[i] = fp | static_cast<uint32_t>(key & 1);
    return KeySet::Put::added;
  }

 private:
  uint32_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t used_ = 0;
};

}  // namespace rdz
