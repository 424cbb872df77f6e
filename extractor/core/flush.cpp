// Putting a batch on disk, one file system at a time: a folder below the
// target may be another file system mounted there.
#include <utility>

#include "extraction_parts.h"

namespace rdz {

Err flush_each_device(Host& host, Handle* h, size_t n, bool dirs) {
  for (size_t begin = 0; begin < n;) {
    uint64_t dev, other;
    if (Err e = host.device_of(h[begin], dirs, &dev)) return e;
    // Those on the first one's file system move up beside it.
    size_t end = begin + 1;
    for (size_t i = end; i < n; ++i) {
      if (Err e = host.device_of(h[i], dirs, &other)) return e;
      if (other == dev) std::swap(h[i], h[end++]);
    }
    Err e = dirs ? host.flush_dirs(h + begin, end - begin) : host.flush_files(h + begin, end - begin);
    if (e) return e;
    begin = end;
  }
  return 0;
}

}  // namespace rdz
