#include <algorithm>
#include <cstring>
#include <optional>

#include "crc32.h"
#include "entry_policy.h"
#include "entry_time.h"
#include "extraction_parts.h"
#include "message.h"

namespace rdz {

void Extraction::error_line(uint64_t index, std::string_view name, std::string_view what,
                            std::string_view detail, Err e) {
  Line l;
  l << kProg << name << ": " << what;
  if (!detail.empty()) l << ": " << detail;
  if (e) {
    char text[256];
    host_.error_text(e, text, sizeof text);
    l << ": " << std::string_view(text);
  }
  l << "\n";
  entry_error(index, l.view());
}

void Worker::entry_error(std::string_view what, std::string_view detail, Err e) {
  x_.error_line(index_, current_, what, detail, e);
}

bool Extraction::in_use(Err e) {
  // A directory or a read-only file stays what it is, and another run's
  // temporary stays held while that run goes on: only a file someone holds
  // open (an antivirus, an indexer, a program) may be free a moment later.
  if (e == kErrDirInTheWay || e == kErrReadOnly || e == kErrLiveTemp) return false;
  return host_.kind_of(e) == ErrKind::busy;
}

unsigned Extraction::wait_for(Err e, unsigned want) {
  if (!in_use(e)) return 0;
  int left = wait_left_ms_.load(std::memory_order_relaxed), take;
  do {
    if (left <= 0) return 0;
    take = std::min(left, static_cast<int>(want));
  } while (!wait_left_ms_.compare_exchange_weak(left, left - take, std::memory_order_relaxed));
  return static_cast<unsigned>(take);
}

void Extraction::out_of_space() {
  // The rest cannot succeed either: one line for them all.
  if (full_.exchange(true)) return;
  Line l;
  l << kProg << "the disk is full; unpacking stopped, and what was not finished was removed\n";
  rep_.error(l.view());
}

bool Extraction::check_space(Err e) {
  if (host_.kind_of(e) != ErrKind::no_space) return true;
  out_of_space();
  return false;
}

bool Worker::enter_dir(size_t len) {
  if (dir_ != kNoHandle && len == dir_len_ && std::memcmp(ws_.dir_rel_, ws_.rel_, len) == 0) {
    return true;
  }
  // The levels the new directory shares with the last one stay open.
  size_t keep = 0;
  while (keep < n_levels_ && level_end_[keep] <= len &&
         (level_end_[keep] == len || ws_.rel_[level_end_[keep]] == '/') &&
         std::memcmp(ws_.dir_rel_, ws_.rel_, level_end_[keep]) == 0) {
    ++keep;
  }
  close_levels(keep);
  Host& host = x_.host_;
  Handle at = keep ? levels_[keep - 1] : x_.target_;
  bool made = false;
  for (size_t i = keep ? level_end_[keep - 1] + 1 : 0; i < len;) {
    size_t j = i;
    while (j < len && ws_.rel_[j] != '/') ++j;
    char saved = ws_.rel_[j];
    ws_.rel_[j] = '\0';
    Handle next;
    Err e = host.open_dir(at, ws_.rel_ + i, true, &next, &made);
    // A new name in a directory is on disk only once the directory is.
    if (e == 0 && made) hold(at);
    release(at);
    if (e) {
      if (!x_.check_space(e)) {
        // said once for all
      } else if (e == kErrLink || e == kErrShortName) {
        Line l;
        l << kProg << current_ << ": not unpacked: " << std::string_view(ws_.rel_, j)
          << (e == kErrLink ? " is a link, and no link below the target is followed\n"
                            : " is a short name of another file or directory\n");
        x_.entry_error(index_, l.view());
      } else {
        entry_error("cannot create directory", "", e);
      }
      ws_.rel_[j] = saved;
      return false;
    }
    ws_.rel_[j] = saved;
    // A directory this run made holds no other run's leftovers.
    if (made) x_.first_sweep({ws_.rel_, j});
    if (n_levels_ < kLevels) {
      std::memcpy(ws_.dir_rel_, ws_.rel_, j);  // the levels name a prefix of it
      levels_[n_levels_] = next;
      level_end_[n_levels_++] = j;
    }
    at = next;
    i = j + 1;
  }
  dir_ = at;
  dir_len_ = len;
  std::memcpy(ws_.dir_rel_, ws_.rel_, len);
  if (!made && x_.first_sweep({ws_.rel_, len})) remove_leftovers();
  return true;
}

bool Worker::is_level(Handle d) const {
  for (size_t i = 0; i < n_levels_; ++i) {
    if (levels_[i] == d) return true;
  }
  return false;
}

void Worker::close_levels(size_t keep) {
  // Cleared first: release() keeps whatever is still the current directory
  // or a level.
  const Handle d = dir_;
  dir_ = kNoHandle;
  release(d);
  while (n_levels_ > keep) release(levels_[--n_levels_]);
}

bool Worker::held(Handle d) const {
  for (const Batch& b : ws_.ring_) {
    if (!b.busy) continue;
    for (size_t i = 0; i < b.n_dirs; ++i) {
      if (b.dirs[i] == d) return true;
    }
  }
  return false;
}

void Worker::hold(Handle d) {
  for (size_t i = 0; i < batch_->n_dirs; ++i) {
    if (batch_->dirs[i] == d) return;
  }
  if (batch_->n_dirs == x_.batch_dirs_) hand_over();
  batch_->dirs[batch_->n_dirs++] = d;
  const size_t n = current_.size() < sizeof batch_->dir_entry ? current_.size()
                                                              : sizeof batch_->dir_entry - 1;
  std::memcpy(batch_->dir_entry, current_.data(), n);
  batch_->dir_entry[n] = '\0';
}

void Worker::release(Handle d) {
  if (d != kNoHandle && d != x_.target_ && d != dir_ && !is_level(d) && !held(d)) {
    x_.host_.close_dir(d);
  }
}

bool Extraction::first_sweep(std::string_view rel) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (char c : rel) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  HostLock hold(host_);
  // A full set sweeps again: that costs time, never a file.
  return swept_.put(h) != KeySet::Put::found;
}

// What one directory's sweep could not remove: counted, and the first named.
struct Worker::Sweep {
  Worker& w;
  uint64_t kept = 0;
  Err err = 0;
  char first[kTempNameLen + 1] = {};
};

void Worker::leftover(void* sweep, const char* name) {
  auto* s = static_cast<Sweep*>(sweep);
  Worker& w = s->w;
  if (!is_leftover(name, w.x_.run_id_)) return;
  const Err e = w.x_.patiently([&] { return w.x_.host_.remove_leftover(w.dir_, name); });
  // A running extraction's temporary is that run's business.
  if (e == 0 || e == kErrLiveTemp) return;
  if (s->kept++ == 0) {
    s->err = e;
    const size_t n = std::strlen(name);  // a leftover's name is never longer than ours
    std::memcpy(s->first, name, std::min(n, kTempNameLen));
  }
}

void Worker::remove_leftovers() {
  Sweep s{*this};
  x_.host_.list_dir(dir_, &Worker::leftover, &s);
  if (s.kept == 0) return;
  // Once a directory, however many: they cost disk space, never a file.
  char text[256], shown[512];
  x_.host_.error_text(s.err, text, sizeof text);
  const size_t shown_len = names::printable({ws_.dir_rel_, dir_len_}, shown, sizeof shown);
  Line l;
  l << kProg << (dir_len_ ? std::string_view(shown, shown_len) : std::string_view("."))
    << ": " << s.kept << (s.kept == 1 ? " leftover temporary" : " leftover temporaries")
    << " not removed (" << std::string_view(s.first) << ": " << std::string_view(text) << ")\n";
  x_.entry_error(index_, l.view());
}

void Extraction::discard(Workspace::Pending& p) {
  host_.close(p.f);
  patiently([&] { return host_.remove_file(p.dir, p.temp); });
}

bool Worker::take_back() {
  Batch* back[Workspace::kRing];
  size_t n = 0;
  {
    HostLock lock(x_.host_);
    // A flusher with nothing queued flushes the directories it holds back
    // once someone waits for their batch.
    const bool waits = x_.flusher_thread_;
    if (waits) x_.flusher_.starving(1), x_.host_.notify_all();
    while (true) {
      for (Batch& b : ws_.ring_) {
        if (b.busy && !b.out && &b != batch_) back[n++] = &b;
      }
      if (n || !waits) break;
      x_.host_.wait();
    }
    if (waits) x_.flusher_.starving(-1);
  }
  // One at a time: a directory two batches hold closes with the second.
  for (size_t i = 0; i < n; ++i) {
    back[i]->busy = false;
    for (size_t k = 0; k < back[i]->n_dirs; ++k) release(back[i]->dirs[k]);
    back[i]->n = back[i]->n_dirs = 0;
    back[i]->bytes = 0;
  }
  return n > 0;
}

void Worker::send() {
  if (batch_->n || batch_->n_dirs) {
    HostLock lock(x_.host_);
    batch_->out = true;
    x_.flusher_.queue(batch_);
    x_.host_.notify_all();
  } else {
    batch_->busy = false;
  }
  batch_ = nullptr;
}

bool Worker::any_out() const {
  for (const Batch& b : ws_.ring_) {
    if (b.busy && &b != batch_) return true;
  }
  return false;
}

// Without a thread of its own, the flusher runs in the one worker, when it
// must: all batches are out.
void Worker::wait_for_batches() {
  if (!take_back() && !x_.flusher_thread_) x_.flusher_.step();
}

void Worker::hand_over() {
  send();
  while (!batch_) {
    for (size_t i = 0; i < x_.ring_ && !batch_; ++i) {
      if (!ws_.ring_[i].busy) batch_ = &ws_.ring_[i];
    }
    if (!batch_) wait_for_batches();
  }
  batch_->busy = true;
}

bool Worker::unpack_dir(size_t rel_len) {
  if (rel_len == 0) {  // the target itself
    x_.settle(index_, Outcome::nothing);
    return true;
  }
  if (!enter_dir(rel_len)) return false;
  x_.settle(index_, Outcome::directory);
  return true;
}

Failure Worker::copy_stored(const zip::Entry& e, uint64_t data, Handle out, uint32_t* crc,
                            uint64_t* produced) {
  for (uint64_t left = e.csize; left;) {
    // What the window already holds goes straight to the file; the rest
    // in reads as large as the output buffer.
    size_t n;
    const unsigned char* p = win_.peek(data, left, &n);
    if (!p) {
      n = static_cast<size_t>(std::min<uint64_t>(left, sizeof ws_.out_));
      if (!x_.src_.read(data, ws_.out_, n)) return {"cannot read the archive"};
      p = ws_.out_;
    }
    *crc = crc32_update(*crc, p, n);
    if (Err err = write(out, p, n, *produced)) return {"cannot write", err};
    data += n;
    left -= n;
    *produced += n;
  }
  return {};
}

Failure Worker::copy_inflated(const zip::Entry& e, uint64_t data, Handle f, uint32_t* crc,
                              uint64_t* produced) {
  z_stream& z = ws_.z_;
  inflateReset(&z);
  z.avail_in = 0;
  uint64_t left = e.csize;
  int rc = Z_OK;
  // Once the entry outgrows one buffer, its writing goes behind; only the
  // entry larger than all the others together does, so that one writer's
  // parts at most take memory.
  WriteBehind* const pen = e.usize >= x_.big_[0].size ? pen_ : nullptr;
  bool behind = false;
  while (rc != Z_STREAM_END) {
    unsigned char* out = behind ? pen->next() : ws_.out_;
    const size_t cap = behind ? WriteBehind::kPart : sizeof ws_.out_;
    z.next_out = out;
    z.avail_out = static_cast<uInt>(cap);
    // The buffer is filled whole, however many reads that takes: a write,
    // and a hand-over to the writer, costs more than a read.
    do {
      if (z.avail_in == 0 && left) {
        size_t n;
        unsigned char* p = win_.fetch(data, left, &n);
        if (!p) return {"cannot read the archive"};
        z.next_in = p;
        z.avail_in = static_cast<uInt>(n);
        data += n;
        left -= n;
      }
      // Z_FINISH: an entry that fits the output buffer is inflated without
      // zlib copying it into its window as well; a larger one goes on as
      // with Z_NO_FLUSH, each call that does not end the stream answering
      // Z_BUF_ERROR.
      rc = inflate(&z, Z_FINISH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        return {"compressed data is corrupt"};
      }
    } while (rc != Z_STREAM_END && z.avail_out && z.avail_in == 0 && left);
    const size_t n = cap - z.avail_out;
    if (rc == Z_BUF_ERROR && n == 0 && z.avail_in == 0 && left == 0) {
      return {"compressed data ends early"};
    }
    // Stop a stream that inflates past its declared size at once, rather
    // than after it has filled the disk.
    if (n > e.usize - *produced) return {"data is longer than declared"};
    if (n) {
      // Behind, the writer checks what it writes: the worker only inflates.
      if (!behind) *crc = crc32_update(*crc, out, n);
      if (Err err = behind ? pen->put(f, n, *produced) : write(f, out, n, *produced)) {
        return {"cannot write", err};
      }
      *produced += n;
      if (!behind && pen && rc != Z_STREAM_END) pen->begin(*crc);
      behind = pen && rc != Z_STREAM_END;
    }
  }
  return {};
}

Err Worker::write(Handle out, const void* p, size_t n, uint64_t at) {
  return write_growing(x_.host_, out, p, n, at, &written_back_);
}

Failure Worker::copy_data(const zip::Entry& e, uint64_t data, Handle out) {
  uint32_t crc = 0;
  uint64_t produced = 0;
  Failure f = e.method == 0 ? copy_stored(e, data, out, &crc, &produced)
                            : copy_inflated(e, data, out, &crc, &produced);
  // What went behind is written, or failed, before the file is touched again.
  const Err late = pen_ ? pen_->finish(&crc) : 0;
  if (f.what) return f;
  if (late) return {"cannot write", late};
  if (produced != e.usize) return {"data is shorter than declared"};
  if (crc != e.crc) return {"CRC-32 mismatch"};
  return {};
}

bool Worker::create_temp(Workspace::Pending& p) {
  Host& host = x_.host_;
  p.dir = dir_;
  Err err = 0;
  for (int tries = 0; tries < 16; ++tries) {
    uint32_t r;
    if ((err = host.random(&r, sizeof r)) != 0) break;
    make_temp_name(x_.run_id_, r, p.temp);
    err = host.create_new(dir_, p.temp, &p.f);
    if (!err) break;
    // Gone before it was held: a sweep took it for a leftover.
    if (host.kind_of(err) == ErrKind::missing) continue;
    Stat st;
    if (host.stat(dir_, p.temp, &st) != 0 || st.kind == Stat::Kind::missing) break;
  }
  if (err == 0) return true;
  if (x_.check_space(err)) entry_error("cannot create file", "", err);
  return false;
}

bool Worker::unpack_file(const zip::Entry& e, size_t rel_len) {
  size_t leaf_at = rel_len;
  while (leaf_at > 0 && ws_.rel_[leaf_at - 1] != '/') --leaf_at;
  if (!enter_dir(leaf_at ? leaf_at - 1 : 0)) return false;
  Host& host = x_.host_;
  const char* leaf = ws_.rel_ + leaf_at;
  const int64_t mtime = entry_mtime(e, host);
  if (x_.opt_.update) {
    Stat st;
    Err err = host.stat(dir_, leaf, &st);
    if (err) {
      entry_error(err == kErrShortName ? "not unpacked" : "cannot check existing file", "", err);
      return false;
    }
    const Update u = judge_update(st, mtime, !e.has_unix_mtime, e.usize);
    if (u != Update::write) {
      x_.settle(index_, u == Update::same ? Outcome::up_to_date : Outcome::newer_kept);
      return true;
    }
  }

  uint64_t data;
  zip::Error zerr = zip::locate_data(win_, x_.ar_, e, ws_.out_, sizeof ws_.out_, &data);
  if (zerr != zip::Error::none) {
    entry_error("damaged entry", zip::describe(zerr));
    return false;
  }

  // The temporary lives beside the final file, so the closing rename never
  // crosses a file system.
  hold(dir_);  // before the batch may be handed over to make room
  Workspace::Pending& p = batch_->files[batch_->n];
  if (!create_temp(p)) return false;
  written_back_ = 0;

  Failure f = copy_data(e, data, p.f);
  if (Err err; !f.what && (err = host.set_mtime(p.f, mtime)) != 0) {
    f = {"cannot set modification time", err};
  }
  if (f.what) {
    if (!f.err) {
      entry_error("not unpacked", f.what);
    } else if (x_.check_space(f.err)) {
      entry_error(f.what, "", f.err);
    }
    x_.discard(p);
    return false;
  }
  p.size = e.usize;
  p.index = index_;
  p.leaf_at = leaf_at;
  std::memcpy(p.rel, ws_.rel_, rel_len);
  p.rel[rel_len] = '\0';
  batch_->bytes += e.usize;
  if (++batch_->n == x_.batch_files_ || batch_->bytes >= Workspace::kBatchBytes) hand_over();
  return true;
}

void Worker::unpack(const zip::Entry& e, uint64_t index) {
  index_ = index;
  size_t rel_len;
  Refusal r;
  Kind kind = classify(e, ws_.decoded_, sizeof ws_.decoded_, ws_.rel_, sizeof ws_.rel_, &rel_len, &r);
  if (kind == Kind::refused) {
    // Pass one let it through, so the archive changed in between.
    current_ = x_.display_name(e, ws_, shown_, sizeof shown_);
    entry_error("refused", r.reason);
    x_.settle(index, Outcome::failed);
    return;
  }
  current_ = {shown_, names::printable({ws_.rel_, rel_len}, shown_, sizeof shown_)};
  bool ok = kind == Kind::dir ? unpack_dir(rel_len) : unpack_file(e, rel_len);
  if (!ok) x_.settle(index, Outcome::failed);
}

void Extraction::changed(zip::Error err, bool locked) {
  if (stop_.exchange(true)) return;  // told once is enough
  Line l;
  l << kProg << "archive changed while unpacking: " << std::string_view(zip::describe(err)) << "\n";
  if (locked) {
    rep_.held().error(l.view());
  } else {
    rep_.error(l.view());
  }
}

void Worker::run() {
  // Each worker walks the directory itself, up to the entries it claims;
  // only the step from the big entries back to the others starts it again.
  std::optional<zip::Cursor> cur;
  uint64_t at = 0;  // the index of the record cur reads next
  uint64_t index;
  zip::Entry e;
  Extraction::Run run;
  batch_ = &ws_.ring_[0];
  batch_->busy = true;
  while (x_.claim(&run, &index)) {
    if (!cur || index < at) {
      cur.emplace(x_.src_, x_.ar_, ws_.cd_, sizeof ws_.cd_);
      at = 0;
    }
    bool done = false;
    zip::Error err = zip::Error::none;
    while (at <= index) {
      err = cur->next(&e, &done);
      if (err != zip::Error::none || done) break;
      ++at;
    }
    if (err != zip::Error::none || done) {
      // The directory was read in full once already; failing now means the
      // file changed underneath.
      x_.changed(done ? zip::Error::cd_count_mismatch : err);
      break;
    }
    unpack(e, index);
  }
  // The last batch goes as it is; the worker is done once all are back.
  send();
  while (any_out()) wait_for_batches();
  close_levels(0);
  HostLock lock(x_.host_);
  x_.flusher_.worker_ends();
  x_.host_.notify_all();
}

}  // namespace rdz
