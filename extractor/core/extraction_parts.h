// The parts of one extraction: what all workers share, and each worker.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extraction.h"
#include "held_lines.h"
#include "key_set.h"
#include "may_land_on_one_file.h"
#include "names_given_twice.h"
#include "window.h"

namespace rdz {

// Why an entry's data did not reach the disk; err is set for OS failures.
struct Failure {
  const char* what = nullptr;
  Err err = 0;
};

// A path on this system, target included, is split as the system splits it:
// on a POSIX system a backslash belongs to the name.
inline bool is_path_sep(char c) { return c == '/' || (kBackslashIsSeparator && c == '\\'); }

inline uint64_t add_capped(uint64_t a, uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// Puts the files (or directories, `dirs`) `h` on disk, one call to the host
// for each file system among them: the host's flush may reach no further
// than the file system of the first handle it is given. Reorders `h`.
Err flush_each_device(Host& host, Handle* h, size_t n, bool dirs);
// One flush per file system for the files `f`, which also puts on disk the
// directories `d` on each file system where the host's file flush covers
// names; the other directories are flushed by themselves. Reorders both.
Err flush_round(Host& host, Handle* f, size_t nf, Handle* d, size_t nd);

class Worker;
class Extraction;
using Batch = Workspace::Batch;

// Writes `n` bytes at `at` of the file `f`. A large file is written back
// as it grows (`written_back` bytes so far): its flush then finds little
// left to do, and the disk works while the data is being made.
Err write_growing(Host& host, Handle f, const void* p, size_t n, uint64_t at,
                  uint64_t* written_back);

// Writes a large file's data on a thread of its own while its worker
// inflates what comes next, so that each takes a processor. The worker's
// buffers take turns: it fills one while the others are written, so a write
// that stalls in the system does not stop the inflating at once.
class Flusher;
class WriteBehind {
 public:
  WriteBehind(Host& host, Workspace& ws, Flusher& flusher)
      : host_(host), flusher_(flusher) {
    for (unsigned i = 0; i < kParts; ++i) part_[i].p = ws.behind_[i];
  }
  static void enter(void* self) { static_cast<WriteBehind*>(self)->run(); }
  static constexpr size_t kPart = sizeof Workspace::behind_[0];
  static constexpr unsigned kParts = Workspace::kBehind;
  // The worker's side, one file at a time. A buffer of kPart bytes to fill,
  // once it is free.
  unsigned char* next();
  // The CRC-32 of the file's data before its first part: the writer goes on
  // with it over the parts.
  void begin(uint32_t crc);
  // Queues next()'s buffer, `n` bytes of it, to be written to `f` at `at`;
  // answers the first failure among those written so far.
  Err put(Handle f, size_t n, uint64_t at);
  // Waits until all is written; the first failure, which is then forgotten.
  // A file that went behind gets its CRC-32 in *crc.
  Err finish(uint32_t* crc);
  // Ends the thread once all is written.
  void stop();

 private:
  void run();
  struct Part {
    unsigned char* p;
    Handle f = kNoHandle;
    size_t n = 0;
    uint64_t at = 0;
    bool full = false;  // under the host's lock
  };
  Host& host_;
  Flusher& flusher_;
  Part part_[kParts];
  bool put_ = false;               // whether the file went behind: the worker's
  unsigned fill_ = 0, write_ = 0;  // which part the worker fills, the thread writes
  Err err_ = 0;                    // under the host's lock
  bool stop_ = false;
  uint64_t written_back_ = 0;      // the thread's own
  uint32_t crc_ = 0;               // the thread's while parts are queued
};

// The one thread that puts the workers' batches on disk. Each round takes
// every batch queued by every worker: one flush per file system for all
// their files (and for the names the round before made), then the renames.
// A batch goes back to its worker, with its directories, once a flush after
// its renames has run; so every file's data is on disk before its rename,
// and every directory after its renames.
class Flusher {
 public:
  explicit Flusher(Extraction& x) : x_(x) {}
  static void enter(void* self) { static_cast<Flusher*>(self)->run(); }
  // Rounds until every worker has ended and has its batches back.
  void run();
  // One round with whatever is queued; a round with nothing queued flushes
  // the directories still waiting. For a run without a flusher thread.
  void step();
  // With the host's lock held.
  void queue(Batch* b);
  void worker_starts() { ++working_; }
  void worker_ends() { --working_; }
  // A worker waits for a batch to come back (+1) or no longer (-1).
  void starving(int d) { starving_ += d; }
  // With the host's lock held. A file written behind its worker, some of it
  // now written back: what it holds so far is flushed once no batch waits,
  // so that its own flush at the end finds little left for the disk. One
  // file at a time; a later one takes the place of one not yet begun.
  void flush_early(Handle f);
  // With the host's lock held: no file is to be flushed early, nor is being
  // flushed early (the writer's may then be closed).
  void forget_early();
  const Totals& totals() const { return t_; }

 private:
  static constexpr size_t kMostBatches = kMostWorkspaces * Workspace::kRing;
  // What the workers queued, into `now`; with the host's lock held.
  size_t take(Batch** now);
  void round(Batch* const* now, size_t n);
  void flush_early_now(Handle f);
  void fail(Workspace::Pending& p, Err e);
  void rename(Workspace::Pending& p);
  void dir_error(const Batch& b, Err e);
  // Gives `b` back to its worker, which may be waiting for it.
  void give_back(Batch* b);

  Extraction& x_;
  // Under the host's lock.
  Batch* queued_[kMostBatches];
  size_t n_queued_ = 0;
  int working_ = 0, starving_ = 0;  // workers running, and waiting for a batch
  // The flusher's own: renamed, their directories waiting for a flush.
  Batch* waiting_[kMostBatches];
  size_t n_waiting_ = 0;
  Handle files_[kMostBatches * Workspace::kBatch];
  Handle dirs_[kMostBatches * Workspace::kBatch];
  Handle early_ = kNoHandle, flushing_early_ = kNoHandle;  // under the host's lock
  Err failed_ = 0;  // the first failed flush; nothing is renamed after it
  Totals t_;
};

// What became of one entry in pass two; every entry gets one.
enum class Outcome : uint8_t {
  unpacked,    // a file, in place
  directory,   // a directory, in place
  up_to_date,  // -u: the file there is the entry's
  newer_kept,  // -u: the file there is newer, and stays
  failed,      // not in place; its error lines say why
  nothing,     // names the target itself: nothing to do, nothing to say
};

// What all workers share: the archive, the target, the options, and the
// order in which they take entries.
class Extraction {
 public:
  Extraction(Host& host, zip::Source& src, const ExtractOptions& opt, Workspace* const* ws,
             unsigned count, Reporter& rep)
      : host_(host), src_(src), opt_(opt),
        ws_(ws), count_(std::min(count, kMostWorkspaces)), rep_(rep, host) {}

  ~Extraction();
  int run(std::string_view target, Totals* totals);

  // Every line about one entry goes through these two, from whichever thread
  // learns it, without the host lock (they take it). An entry is settled
  // exactly once, and counted then; its error lines (whole, each ending in
  // a newline) come before that. The lines come out in archive order: an
  // entry's once every earlier entry is settled, by whoever settles the
  // last of them, so no thread ever waits for another's entry.
  void settle(uint64_t index, Outcome o);
  void entry_error(uint64_t index, std::string_view line);

 private:
  friend class Worker;
  friend class Flusher;

  // Entries worth starting with, so that a long one does not end up alone
  // on one processor at the end while the others wait.
  static constexpr size_t kFirst = 16;
  static constexpr uint64_t kFirstMin = 1 << 20;

  int open_and_check();
  int unpack_and_report();
  // Pass one: the whole directory, read and judged without touching the disk.
  int check_all();
  // One entry: refused (and said so) or counted. False when names can no
  // longer be checked, which refuses the archive.
  bool judge(const zip::Entry& e, uint64_t index, NamesGivenTwice& exact, MayLandOnOneFile* paths);
  // What the checks over the whole archive found, said: `claimed` bytes of
  // local headers and data.
  int verdict(uint64_t claimed);
  void note_size(uint64_t index, uint64_t size);
  unsigned plan_workers() const;
  bool prepare_target(std::string_view target);
  // Pass two: the workers take entries until none is left.
  int unpack_all(unsigned workers);
  // Reserves the handles the workers may hold and sizes their batches to
  // them; fewer workers when even small batches would not fit.
  unsigned size_batches(unsigned workers);
  // Starts the flusher's thread, or leaves the flushing to the one worker.
  unsigned start_flusher(unsigned workers);
  static constexpr unsigned kFlusherSlot = Host::kMostThreads - 1;
  static constexpr unsigned kPenSlot = kMostWorkspaces;  // the first worker's writer
  void put_big_first();
  // Entries a worker has claimed and not yet taken: [next, end).
  struct Run {
    uint64_t next = 0, end = 0;
  };
  static constexpr uint64_t kRun = 16;
  bool claim(Run* run, uint64_t* index);
  bool is_first(uint64_t index) const;
  // Says the archive changed underneath, once; `locked` when the caller
  // holds the host lock.
  void changed(zip::Error err, bool locked = false);
  std::string_view display_name(const zip::Entry& e, Workspace& ws, char* shown, size_t cap);

  // What says an entry's line after its worker moved on: the name read
  // again from the central directory, in archive order. Under the host lock.
  struct Says;
  Says* says_ = nullptr;
  bool start_saying();
  std::string_view name_of(uint64_t index);
  void say(uint64_t index, Outcome o);
  // Says the lines of the entries settled at the front, up to the first
  // not; to the end once the workers are done, counting those never started.
  void say_settled(bool to_the_end);
  void say_the_rest();
  // What became of each entry, once settled: a byte each, for the whole run.
  static constexpr uint8_t kUnsettled = 0xFF;
  uint8_t* outcome_ = nullptr;
  uint64_t front_ = 0;  // every entry before it is settled and said
  HeldLines held_;      // error lines of entries behind the front

  Host& host_;
  zip::Source& src_;
  const ExtractOptions& opt_;
  Workspace* const* ws_;
  const unsigned count_;
  SharedReporter rep_;
  zip::Archive ar_;
  Totals t_;
  const char* base_ = nullptr;  // the target, without trailing separators
  size_t base_len_ = 0;
  Handle target_ = kNoHandle;
  uint32_t run_id_ = 0;  // in this run's temporary names

  // Directories cleared of leftovers in this run, by the hash of their path.
  static constexpr size_t kSwept = 4096;
  uint64_t swept_slots_[kSwept];
  KeySet swept_{swept_slots_, kSwept};
  bool first_sweep(std::string_view rel);
  void out_of_space();
  // False when `e` is a full disk: then the whole extraction stops.
  bool check_space(Err e);
  // A line about entry `index`, shown as `name`.
  void error_line(uint64_t index, std::string_view name, std::string_view what,
                  std::string_view detail, Err e = 0);
  // An operation that a scanner or indexer may hold up for a moment, retried.
  template <class Op>
  Err patiently(Op op);
  void discard(Workspace::Pending& p);

  // What the run may still spend waiting for files held for a moment, all
  // workers together: a local user who holds files open must not be able to
  // stall an installation for longer than a scanner would.
  static constexpr int kMostWaitMs = 1000;
  std::atomic<int> wait_left_ms_{kMostWaitMs};
  // Whether `e` says that someone holds the file open, which may pass.
  bool in_use(Err e);
  // How long to wait before trying again after `e`, at most `want` ms; 0
  // when `e` cannot pass by itself or the run has waited enough.
  unsigned wait_for(Err e, unsigned want);

  // Learnt in pass one.
  uint64_t entries_ = 0;  // records in the directory
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;    // declared, capped
  bool ordered_ = false;  // entries must be unpacked in archive order
  struct Big {
    uint64_t index, size;
  } big_[kFirst] = {};
  size_t n_big_ = 0;
  uint64_t first_[kFirst];  // indices of big_, ascending
  size_t n_first_ = 0;

  // Pass two.
  std::atomic<size_t> next_first_{0};
  std::atomic<uint64_t> next_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> full_{false};
  std::atomic<bool> flush_failed_{false};  // nothing more is worth writing
  unsigned workers_ = 1;
  Flusher flusher_{*this};
  bool flusher_thread_ = false;
  // What each worker may hold, within the handles reserved.
  size_t ring_ = Workspace::kRing, batch_files_ = Workspace::kBatch,
         batch_dirs_ = Workspace::kBatch;
};

template <class Op>
Err Extraction::patiently(Op op) {
  // An antivirus or indexer holds a fresh file for a few milliseconds; a
  // program that loaded a library holds it until it ends. Wait out the first
  // kind, an eighth of a second a file and a second a run at most, and
  // report the second.
  constexpr int kTries = 7;
  unsigned delay_ms = 2;
  for (int i = 1;; ++i, delay_ms *= 2) {
    Err e = op();
    if (e == 0 || i == kTries) return e;
    const unsigned ms = wait_for(e, delay_ms);
    if (ms == 0) return e;
    host_.sleep_ms(ms);
  }
}


// One thread's share of pass two, with its own Workspace.
class Worker {
 public:
  // Directory levels a worker keeps open below the target.
  static constexpr size_t kLevels = 8;
  // `pen`, when there is one, writes behind the worker.
  Worker(Extraction& x, Workspace& ws, WriteBehind* pen)
      : x_(x), ws_(ws), win_(x.src_, ws.in_, sizeof ws.in_), pen_(pen) {}

  static void enter(void* self) { static_cast<Worker*>(self)->run(); }
  void run();

 private:
  void unpack(const zip::Entry& e, uint64_t index);
  bool unpack_file(const zip::Entry& e, size_t rel_len);
  bool unpack_dir(size_t rel_len);
  // Creates a temporary of this run's in dir_ for `p`; reports a failure.
  bool create_temp(Workspace::Pending& p);
  // Writes the entry's data, found at `data`, to `out`, and checks it.
  Failure copy_data(const zip::Entry& e, uint64_t data, Handle out);
  Failure copy_stored(const zip::Entry& e, uint64_t data, Handle out, uint32_t* crc,
                      uint64_t* produced);
  Failure copy_inflated(const zip::Entry& e, uint64_t data, Handle f, uint32_t* crc,
                        uint64_t* produced);
  // Makes ws_.rel_'s first `len` bytes the open directory dir_, one
  // component at a time from the deepest open level it shares with the last
  // one (or the target), following no link.
  bool enter_dir(size_t len);
  bool is_level(Handle d) const;
  // Leaves dir_ and every open level below the first `keep`.
  void close_levels(size_t keep);
  // Directories that got new names stay open, in the batch that flushes
  // them, until those names are on disk.
  bool held(Handle d) const;
  void hold(Handle d);
  // Closes `d` unless the worker still needs it.
  void release(Handle d);
  void remove_leftovers();
  struct Sweep;
  static void leftover(void* sweep, const char* name);
  // Hands the batch being filled to the flusher and takes an empty one,
  // waiting while all are out.
  void hand_over();
  void send();
  bool any_out() const;
  void wait_for_batches();
  // Takes back what the flusher gave back, closing what no batch holds;
  // with a flusher thread, waits for one at least.
  bool take_back();
  // Writes to `out`, at `at`; starts writing a large file back as it grows.
  Err write(Handle out, const void* p, size_t n, uint64_t at);
  void entry_error(std::string_view what, std::string_view detail, Err e = 0);

  Extraction& x_;
  Workspace& ws_;
  Window win_;
  std::string_view current_;  // the entry being worked on, for messages
  uint64_t index_ = 0;        // and its place in the archive
  Handle dir_ = kNoHandle;
  size_t dir_len_ = 0;        // of ws_.dir_rel_
  // The directories from the target down to dir_, as deep as kLevels, open:
  // a worker moving to a neighbouring directory opens only what differs.
  // Each ends in ws_.dir_rel_ at its level_end_.
  Handle levels_[kLevels];
  size_t level_end_[kLevels];
  size_t n_levels_ = 0;
  Batch* batch_ = nullptr;    // being filled
  uint64_t written_back_ = 0;  // of the file being written
  WriteBehind* const pen_;
  char shown_[512];
};

}  // namespace rdz
