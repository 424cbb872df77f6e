// A message assembled in a fixed buffer: no allocation on the way to the
// console, whatever goes wrong.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace rdz {

constexpr std::string_view kProg = "ruduvizide: ";

// Anything beyond the buffer is cut.
class Line {
 public:
  Line& operator<<(std::string_view s) {
    size_t take = std::min(s.size(), sizeof buf_ - n_);
    std::memcpy(buf_ + n_, s.data(), take);
    n_ += take;
    return *this;
  }
  Line& operator<<(uint64_t v) {
    char digits[20];
    size_t k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    while (k && n_ < sizeof buf_) buf_[n_++] = digits[--k];
    return *this;
  }
  std::string_view view() const { return {buf_, n_}; }

 private:
  char buf_[2048];
  size_t n_ = 0;
};

}  // namespace rdz
