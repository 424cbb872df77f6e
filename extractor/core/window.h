// A worker's window on the archive: one read brings a local header, its name
// and the start of its data, and for small files the next few entries too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zip.h"

namespace rdz {

// Reads through a buffer of the worker's workspace.
class Window final : public zip::Source {
 public:
  Window(zip::Source& src, unsigned char* buf, size_t cap) : src_(src), buf_(buf), cap_(cap) {}

  uint64_t size() const override { return src_.size(); }

  bool read(uint64_t offset, void* out, size_t n) override {
    if (n == 0 || n > cap_) return src_.read(offset, out, n);
    if (!holds(offset, n) && (!fill(offset) || len_ < n)) return false;
    std::memcpy(out, buf_ + (offset - begin_), n);
    return true;
  }

  // Up to `want` (> 0) bytes at `offset`, moving the window there when it
  // does not hold them. Null when the archive cannot be read there.
  unsigned char* fetch(uint64_t offset, uint64_t want, size_t* got) {
    if (!holds(offset, 1) && !fill(offset)) return nullptr;
    return peek(offset, want, got);
  }

  // As fetch, but null when the window does not hold `offset` already.
  unsigned char* peek(uint64_t offset, uint64_t want, size_t* got) {
    if (!holds(offset, 1)) return nullptr;
    const size_t at = static_cast<size_t>(offset - begin_);
    const size_t have = len_ - at;
    *got = static_cast<size_t>(std::min<uint64_t>(want, have));
    return buf_ + at;
  }

 private:
  bool holds(uint64_t offset, size_t n) const {
    if (offset < begin_ || offset - begin_ >= len_) return false;
    return n <= len_ - static_cast<size_t>(offset - begin_);
  }
  bool fill(uint64_t offset) {
    const uint64_t size = src_.size();
    len_ = 0;
    if (offset >= size) return false;
    const size_t len = static_cast<size_t>(std::min<uint64_t>(size - offset, cap_));
    if (!src_.read(offset, buf_, len)) return false;
    begin_ = offset;
    len_ = len;
    return true;
  }

  zip::Source& src_;
  unsigned char* buf_;
  size_t cap_;
  uint64_t begin_ = 0;
  size_t len_ = 0;
};

}  // namespace rdz
