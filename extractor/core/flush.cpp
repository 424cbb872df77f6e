// Putting a batch on disk, one file system at a time: a folder below the
// target may be another file system mounted there.
#include <utility>

#include "extraction_parts.h"

namespace rdz {

namespace {

// Moves those of h[begin + 1, n) on h[begin]'s file system up beside it;
// *end is where they end, *dev that file system.
Err gather(Host& host, Handle* h, size_t begin, size_t n, bool dirs, uint64_t* dev, size_t* end) {
  uint64_t other;
  if (Err e = host.device_of(h[begin], dirs, dev)) return e;
  *end = begin + 1;
  for (size_t i = *end; i < n; ++i) {
    if (Err e = host.device_of(h[i], dirs, &other)) return e;
    if (other == *dev) std::swap(h[i], h[(*end)++]);
  }
  return 0;
}

}  // namespace

Err flush_each_device(Host& host, Handle* h, size_t n, bool dirs) {
  for (size_t begin = 0, end; begin < n; begin = end) {
    uint64_t dev;
    if (Err e = gather(host, h, begin, n, dirs, &dev, &end)) return e;
    Err e = dirs ? host.flush_dirs(h + begin, end - begin) : host.flush_files(h + begin, end - begin);
    if (e) return e;
  }
  return 0;
}

Err flush_round(Host& host, Handle* f, size_t nf, Handle* d, size_t nd) {
  // File systems whose one flush took their names along; a rare run over
  // more of them flushes the rest's directories by themselves, which costs
  // time, never a name.
  constexpr size_t kMostCovered = 16;
  uint64_t covered[kMostCovered];
  size_t n_covered = 0;
  for (size_t begin = 0, end; begin < nf; begin = end) {
    uint64_t dev;
    if (Err e = gather(host, f, begin, nf, false, &dev, &end)) return e;
    if (Err e = host.flush_files(f + begin, end - begin)) return e;
    if (n_covered < kMostCovered && host.flush_covers_names(f[begin])) covered[n_covered++] = dev;
  }
  size_t left = 0;
  for (size_t i = 0; i < nd; ++i) {
    uint64_t dev;
    if (Err e = host.device_of(d[i], true, &dev)) return e;
    bool done = false;
    for (size_t k = 0; k < n_covered && !done; ++k) done = covered[k] == dev;
    if (!done) d[left++] = d[i];
  }
  return flush_each_device(host, d, left, true);
}

}  // namespace rdz
