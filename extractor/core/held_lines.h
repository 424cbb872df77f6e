// Error lines of entries that wait for an earlier entry to be settled: kept
// until their turn, and given back in archive order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace rdz {

// Errors are rare, so they cost memory only when they happen: the text in
// one growing buffer, and a heap of where each line lies, least entry first
// and, within an entry, in the order they came. The buffer starts over once
// every line in it was given back.
class HeldLines {
 public:
  HeldLines() = default;
  ~HeldLines() {
    std::free(text_);
    std::free(heap_);
  }
  HeldLines(const HeldLines&) = delete;
  HeldLines& operator=(const HeldLines&) = delete;

  // False when memory ran out: the caller must say the line at once.
  bool keep(uint64_t index, std::string_view line) {
    if (!room(&text_, &text_cap_, used_ + line.size(), 1) ||
        !room(&heap_, &heap_cap_, n_ + 1, sizeof *heap_)) {
      return false;
    }
    std::memcpy(text_ + used_, line.data(), line.size());
    size_t at = n_++;
    const Held h{index, seq_++, used_, line.size()};
    used_ += line.size();
    for (; at > 0 && before(h, heap_[(at - 1) / 2]); at = (at - 1) / 2) heap_[at] = heap_[(at - 1) / 2];
    heap_[at] = h;
    return true;
  }

  // The first line kept for `index`, if any; valid until the next call.
  bool take(uint64_t index, std::string_view* line) {
    if (n_ == 0 || heap_[0].index != index) return false;
    *line = {text_ + heap_[0].at, heap_[0].len};
    const Held last = heap_[--n_];
    size_t at = 0;
    for (size_t kid; (kid = 2 * at + 1) < n_; at = kid) {
      if (kid + 1 < n_ && before(heap_[kid + 1], heap_[kid])) ++kid;
      if (!before(heap_[kid], last)) break;
      heap_[at] = heap_[kid];
    }
    heap_[at] = last;
    // The text stays where it is until the caller has said it.
    if (n_ == 0) used_ = 0;
    return true;
  }

 private:
  struct Held {
    uint64_t index, seq;
    size_t at, len;
  };
  static bool before(const Held& a, const Held& b) {
    return a.index != b.index ? a.index < b.index : a.seq < b.seq;
  }
  template <class T>
  static bool room(T** p, size_t* cap, size_t need, size_t size) {
    if (need <= *cap) return true;
    size_t more = *cap ? 2 * *cap : 64;
    while (more < need) more *= 2;
    void* q = std::realloc(*p, more * size);
    if (q == nullptr) return false;
    *p = static_cast<T*>(q);
    *cap = more;
    return true;
  }

  char* text_ = nullptr;
  size_t used_ = 0, text_cap_ = 0;
  Held* heap_ = nullptr;
  size_t n_ = 0, heap_cap_ = 0;
  uint64_t seq_ = 0;
};

}  // namespace rdz
