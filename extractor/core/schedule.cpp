// Who unpacks what: how many workers an archive earns, and the order in which
// they take its entries.
#include <algorithm>
#include <optional>

#include "extraction_parts.h"
#include "message.h"

namespace rdz {

void Extraction::note_size(uint64_t index, uint64_t size) {
  if (size < kFirstMin) return;
  size_t at = n_big_;
  if (at == kFirst) {
    if (size <= big_[kFirst - 1].size) return;
    --at;
  } else {
    ++n_big_;
  }
  while (at > 0 && big_[at - 1].size < size) {
    big_[at] = big_[at - 1];
    --at;
  }
  big_[at] = {index, size};
}

unsigned Extraction::plan_workers() const {
  if (count_ <= 1 || ordered_) return 1;
  // A worker earns its start-up when it has about this much to do; a file
  // costs its system calls on top of its bytes.
  constexpr uint64_t kPerFile = 16 << 10, kPerWorker = 1 << 20;
  const uint64_t work = add_capped(bytes_, files_ > UINT64_MAX / kPerFile ? UINT64_MAX
                                                                           : files_ * kPerFile);
  const uint64_t n = work / kPerWorker;
  return static_cast<unsigned>(std::clamp<uint64_t>(n, 1, count_));
}

bool Extraction::is_first(uint64_t index) const {
  for (size_t i = 0; i < n_first_; ++i) {
    if (first_[i] == index) return true;
  }
  return false;
}

bool Extraction::claim(Run* run, uint64_t* index) {
  if (stop_.load(std::memory_order_relaxed) || full_.load(std::memory_order_relaxed) ||
      flush_failed_.load(std::memory_order_relaxed)) {
    return false;
  }
  if (n_first_) {
    size_t k = next_first_.fetch_add(1, std::memory_order_relaxed);
    if (k < n_first_) {
      *index = first_[k];
      return true;
    }
  }
  while (true) {
    if (run->next == run->end) {
      // A run of neighbours at a time: they mostly share a directory, and
      // two workers creating files in one directory wait for each other's
      // lock on it. Shorter runs towards the end keep the finish even.
      uint64_t at = next_.load(std::memory_order_relaxed), n;
      do {
        if (at >= entries_) return false;
        n = (entries_ - at) / (4 * workers_);
        n = std::clamp<uint64_t>(n, 1, kRun);
      } while (!next_.compare_exchange_weak(at, at + n, std::memory_order_relaxed));
      run->next = at;
      run->end = at + n;
    }
    uint64_t i = run->next++;
    if (!is_first(i)) {
      *index = i;
      return true;
    }
  }
}

unsigned Extraction::size_batches(unsigned workers) {
  // Besides its batches, a worker holds its open levels, the directory it
  // walks down from below them, the next one, and one it lists.
  constexpr size_t kWalk = Worker::kLevels + 3;
  const size_t got =
      host_.reserve_handles(workers * (Workspace::kRing * 2 * Workspace::kBatch + kWalk));
  // Fewer workers only when even two batches of one file each would not fit.
  while (workers > 1 && got / workers < kWalk + 2 * 2) --workers;
  const size_t each = got / workers > kWalk ? got / workers - kWalk : 0;
  // Fewer batches first, then smaller ones.
  ring_ = each / (2 * Workspace::kBatch);
  ring_ = std::clamp<size_t>(ring_, 2, Workspace::kRing);
  batch_files_ = each / (2 * ring_);
  batch_files_ = std::clamp<size_t>(batch_files_, 1, Workspace::kBatch);
  batch_dirs_ = batch_files_;
  return workers;
}

unsigned Extraction::start_flusher(unsigned workers) {
  flusher_.worker_starts();  // the calling thread's
  flusher_thread_ = host_.start_thread(kFlusherSlot, &Flusher::enter, &flusher_) == 0;
  // Without it, one worker does its own flushing.
  return flusher_thread_ ? workers : 1;
}

void Extraction::put_big_first() {
  // Big entries first, in archive order, each worker's directory walk moving
  // only forward through them; unordered archives only.
  n_first_ = 0;
  if (workers_ < 2) return;
  for (size_t i = 0; i < n_big_; ++i) {
    size_t at = n_first_++;
    while (at > 0 && first_[at - 1] > big_[i].index) {
      first_[at] = first_[at - 1];
      --at;
    }
    first_[at] = big_[i].index;
  }
}

int Extraction::unpack_all(unsigned workers) {
  workers_ = start_flusher(size_batches(std::min(workers, kFlusherSlot)));
  put_big_first();
  // The entry that is more than all the others together is written behind
  // its worker: that worker then carries most of the run alone while a
  // processor would sit idle. The other workers finish first whatever they
  // unpack, and keep the processors busy themselves; writers would only cost.
  const bool behind = n_big_ && big_[0].size > bytes_ - big_[0].size && flusher_thread_;
  std::optional<WriteBehind> pens[kMostWorkspaces];
  for (unsigned i = 0; i < workers_ && behind; ++i) {
    pens[i].emplace(host_, *ws_[i], flusher_);
    if (host_.start_thread(kPenSlot + i, &WriteBehind::enter, &*pens[i]) != 0) pens[i].reset();
  }
  std::optional<Worker> crew[kMostWorkspaces];
  for (unsigned i = 0; i < workers_; ++i) crew[i].emplace(*this, *ws_[i], pens[i] ? &*pens[i] : nullptr);
  // A thread the system will not give is a worker less, not a failure.
  t_.workers = 1;
  while (t_.workers < workers_) {
    {
      HostLock lock(host_);
      flusher_.worker_starts();
    }
    if (host_.start_thread(t_.workers, &Worker::enter, &*crew[t_.workers]) == 0) {
      ++t_.workers;
      continue;
    }
    HostLock lock(host_);
    flusher_.worker_ends();
    break;
  }
  crew[0]->run();
  for (unsigned i = 1; i < t_.workers; ++i) host_.join_thread(i);
  for (unsigned i = 0; i < workers_; ++i) {
    if (pens[i]) pens[i]->stop(), host_.join_thread(kPenSlot + i);
  }
  if (flusher_thread_) host_.join_thread(kFlusherSlot);
  say_the_rest();
  // Entries are counted as they are settled; bytes and directories' flushes
  // by the flusher.
  t_.bytes += flusher_.totals().bytes;
  t_.failed += flusher_.totals().failed;
  if (stop_.load()) return kExitArchive;
  if (full_.load()) return kExitEntries;
  return t_.failed ? kExitEntries : kExitOk;
}

}  // namespace rdz
