// A large file written on one thread while its data is made on another.
#include <utility>

#include "crc32.h"
#include "extraction_parts.h"

namespace rdz {

Err write_growing(Host& host, Handle f, const void* p, size_t n, uint64_t at,
                  uint64_t* written_back) {
  constexpr uint64_t kWriteBack = 16 << 20;
  if (Err e = host.write_all(f, p, n)) return e;
  if (at + n - *written_back >= kWriteBack &&
      host.start_writeback(f, *written_back, at + n - *written_back)) {
    *written_back = at + n;
  }
  return 0;
}

unsigned char* WriteBehind::next() {
  HostLock lock(host_);
  while (part_[fill_].full) host_.wait();
  return part_[fill_].p;
}

Err WriteBehind::put(Handle f, size_t n, uint64_t at) {
  HostLock lock(host_);
  Part& p = part_[fill_];
  p.f = f, p.n = n, p.at = at, p.full = true;
  put_ = true;
  fill_ = (fill_ + 1) % kParts;
  host_.notify_all();
  return err_;
}

void WriteBehind::begin(uint32_t crc) {
  HostLock lock(host_);
  crc_ = crc;
}

Err WriteBehind::finish(uint32_t* crc) {
  HostLock lock(host_);
  for (const Part& p : part_) {
    while (p.full) host_.wait();
  }
  // The file may be closed once this returns.
  if (std::exchange(put_, false)) flusher_.forget_early(), *crc = crc_;
  const Err e = err_;
  err_ = 0;
  return e;
}

void WriteBehind::stop() {
  HostLock lock(host_);
  stop_ = true;
  host_.notify_all();
}

void WriteBehind::run() {
  while (true) {
    Part* p;
    Err failed;
    {
      HostLock lock(host_);
      while (!part_[write_].full && !stop_) host_.wait();
      if (!part_[write_].full) return;
      p = &part_[write_];
      failed = err_;
    }
    // After a failure the rest of the file only goes back to be discarded.
    // One file a run goes behind (see copy_inflated), so what was written
    // back is always this file's.
    const uint64_t was = written_back_;
    crc_ = crc32_update(crc_, p->p, p->n);
    const Err e = failed ? 0 : write_growing(host_, p->f, p->p, p->n, p->at, &written_back_);
    HostLock lock(host_);
    if (e && !err_) err_ = e;
    if (written_back_ != was && !err_) flusher_.flush_early(p->f);
    p->full = false;
    write_ = (write_ + 1) % kParts;
    host_.notify_all();
  }
}

}  // namespace rdz
