// The flusher: the workers' batches put on disk together, off the workers'
// path, so that inflating goes on while the disk writes.
#include <cstring>

#include "extraction_parts.h"
#include "message.h"

namespace rdz {

void Flusher::queue(Batch* b) { queued_[n_queued_++] = b; }

size_t Flusher::take(Batch** now) {
  const size_t n = n_queued_;
  std::memcpy(now, queued_, n * sizeof *now);
  n_queued_ = 0;
  return n;
}

void Flusher::flush_early(Handle f) {
  early_ = f;
  x_.host_.notify_all();
}

void Flusher::forget_early() {
  // Another writer's file, if that is the one, asks again with its next part.
  early_ = kNoHandle;
  while (flushing_early_ != kNoHandle) x_.host_.wait();
}

void Flusher::run() {
  Host& host = x_.host_;
  while (true) {
    Batch* now[kMostBatches];
    size_t n;
    Handle early;
    {
      HostLock lock(host);
      // Directories renamed into wait for the next round's flush, unless a
      // worker waits for their batch meanwhile.
      while (n_queued_ == 0 && !(n_waiting_ && starving_) && early_ == kNoHandle && working_ > 0) {
        host.wait();
      }
      // A worker ends only once all its batches are back.
      if (n_queued_ == 0 && working_ == 0) return;
      // A file's early flush only fills time that no batch wants.
      early = n_queued_ || (n_waiting_ && starving_) ? kNoHandle : early_;
      if (early != kNoHandle) {
        flushing_early_ = early;
        early_ = kNoHandle;
      }
      n = take(now);
    }
    if (early != kNoHandle) {
      flush_early_now(early);
    } else {
      round(now, n);
    }
  }
}

void Flusher::flush_early_now(Handle f) {
  // A failure here is the file's: its data may be lost, and a later flush
  // need not say so again.
  const Err e = failed_ ? 0 : x_.host_.flush_files(&f, 1);
  if (e && !failed_) {
    failed_ = e;
    x_.flush_failed_.store(true);
  }
  HostLock lock(x_.host_);
  flushing_early_ = kNoHandle;
  x_.host_.notify_all();
}

void Flusher::step() {
  Batch* now[kMostBatches];
  size_t n;
  {
    HostLock lock(x_.host_);
    n = take(now);
  }
  round(now, n);
}

void Flusher::give_back(Batch* b) {
  HostLock lock(x_.host_);
  b->out = false;
  x_.host_.notify_all();
}

void Flusher::fail(Workspace::Pending& p, Err e) {
  if (e && x_.check_space(e)) {
    char shown[512];
    x_.error_line(p.index, {shown, names::printable(p.rel, shown, sizeof shown)}, "cannot write",
                  "", e);
  }
  x_.discard(p);
  x_.settle(p.index, Outcome::failed);
}

void Flusher::dir_error(const Batch& b, Err e) {
  // Not one entry's failure: the names of all in the batch may be lost.
  if (x_.check_space(e)) {
    char text[256];
    x_.host_.error_text(e, text, sizeof text);
    Line l;
    l << kProg << std::string_view(b.dir_entry) << ": cannot write the directory: "
      << std::string_view(text) << "\n";
    x_.rep_.error(l.view());
  }
  ++t_.failed;
}

void Flusher::rename(Workspace::Pending& p) {
  Host& host = x_.host_;
  const char* leaf = p.rel + p.leaf_at;
  const Err e = x_.patiently([&] { return host.rename_over(p.dir, p.f, p.temp, leaf); });
  if (e) {
    char shown[512];
    const std::string_view name(shown, names::printable(p.rel, shown, sizeof shown));
    x_.error_line(p.index, name, "cannot replace file",
                  x_.in_use(e) ? "it is in use: a library stays locked while a running program "
                                 "has it loaded; close the programs that use the libraries, "
                                 "then run again"
                               : "",
                  e);
    x_.discard(p);
    x_.settle(p.index, Outcome::failed);
    return;
  }
  host.close(p.f);
  t_.bytes += p.size;
  x_.settle(p.index, Outcome::unpacked);
}

// Whether every directory of `b` is on a file system whose file flush puts
// names on disk too: then the next round's flush covers them.
static bool names_ride_along(Host& host, const Batch& b) {
  for (size_t i = 0; i < b.n_dirs; ++i) {
    if (!host.flush_covers_names(b.dirs[i])) return false;
  }
  return true;
}

void Flusher::round(Batch* const* now, size_t n) {
  Host& host = x_.host_;
  size_t nf = 0, nd = 0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t k = 0; k < now[i]->n; ++k) files_[nf++] = now[i]->files[k].f;
  }
  for (size_t i = 0; i < n_waiting_; ++i) {
    for (size_t k = 0; k < waiting_[i]->n_dirs; ++k) dirs_[nd++] = waiting_[i]->dirs[k];
  }
  // A full disk stops everything, said once; a failed flush stops the
  // renames: no file gets its name unless its data is known to be on disk.
  const bool full = x_.full_.load();
  Err e = full ? 0 : failed_ ? failed_ : flush_round(host, files_, nf, dirs_, nd);
  if (e && !failed_) {
    failed_ = e;
    x_.flush_failed_.store(true);
  }
  for (size_t i = 0; i < n_waiting_; ++i) {
    if (e) dir_error(*waiting_[i], e);
    give_back(waiting_[i]);
  }
  n_waiting_ = 0;
  nd = 0;
  bool rides[kMostBatches];
  for (size_t i = 0; i < n; ++i) {
    Batch& b = *now[i];
    for (size_t k = 0; k < b.n; ++k) {
      if (full || e) fail(b.files[k], e);
      else rename(b.files[k]);
    }
    rides[i] = !full && !e && names_ride_along(host, b);
    if (rides[i]) {
      waiting_[n_waiting_++] = &b;
    } else if (!full && !e) {
      for (size_t k = 0; k < b.n_dirs; ++k) dirs_[nd++] = b.dirs[k];
    }
  }
  // Where a file flush leaves names out, the directories now.
  const Err de = nd ? flush_each_device(host, dirs_, nd, true) : 0;
  if (de && !failed_) {
    failed_ = de;
    x_.flush_failed_.store(true);
  }
  for (size_t i = 0; i < n; ++i) {
    if (rides[i]) continue;
    if (de && now[i]->n_dirs) dir_error(*now[i], de);
    give_back(now[i]);
  }
}

}  // namespace rdz
