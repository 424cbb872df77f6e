// The extraction: checks a whole archive, then puts each entry in place
// under the target directory, safely and verifiably, through the Host the
// program passes in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <zlib.h>

#include "host.h"
#include "names.h"
#include "options.h"
#include "reporter.h"
#include "temp_names.h"
#include "zip.h"

namespace rdz {

// All memory one worker uses, allocated once by the caller; each worker that
// unpacks side by side with others has its own. Its parts belong to the
// extraction: a caller only makes it, checks ready() and hands it over.
struct Workspace {
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  bool ready() const { return inflate_ready_; }

  static constexpr size_t kCd = std::max(zip::kMaxRecord, zip::kOpenScratch);

  unsigned char cd_[kCd];           // central directory window
  unsigned char in_[64 * 1024];     // archive window: local headers, compressed data
  unsigned char out_[256 * 1024];   // data on its way to the file; also a local name
  // A large file's data past out_, in parts that take turns: one is filled
  // while the others wait to be written, or are. Enough of them that
  // inflating goes on while the writer waits: a write that changes the
  // file's times waits while a journal commit writes the file's inode out,
  // tens of milliseconds on a slow disk. Touched only by the one entry
  // larger than all the others together.
  static constexpr unsigned kBehind = 16;
  unsigned char behind_[kBehind][1 << 20];
  char decoded_[3 * names::kMaxName + 1];
  char rel_[names::kMaxName + 1];
  char base_[kMaxPath + 1];
  char dir_rel_[names::kMaxName + 1];  // the directory being written, below the target
  z_stream z_{};
  bool inflate_ready_ = false;

  // Files written and not yet flushed and renamed, handed to the flusher in
  // batches: flushing them together costs the disk far less than one by one.
  // A batch goes at this many files or bytes, whichever comes first.
  static constexpr size_t kBatch = 64;
  static constexpr uint64_t kBatchBytes = 16 << 20;
  struct Pending {
    Handle dir, f;
    uint64_t index;  // the entry's place in the archive
    uint64_t size;
    size_t leaf_at;  // where the file's own name starts in rel
    char temp[kTempNameLen + 1];
    char rel[names::kMaxName + 1];
  };
  // One batch: its files, and the directories that get new names with it,
  // which stay open until those names are on disk.
  struct Batch {
    Pending files[kBatch];
    size_t n = 0;
    uint64_t bytes = 0;
    Handle dirs[kBatch];
    size_t n_dirs = 0;
    // The entry that last held a directory here, named if flushing fails.
    char dir_entry[512];
    bool out = false;   // with the flusher; under the host's lock
    bool busy = false;  // the worker's own view: filling, or not yet taken back
  };
  // A worker fills one batch while the flusher has the others, and waits
  // only when all are out. A batch is out for two rounds (its data's flush,
  // then the next one, which puts its names on disk too): with half as many,
  // two workers of small files both waited for a round of 400-600 files.
  static constexpr size_t kRing = 16;
  Batch ring_[kRing];
};

// The most Workspaces one extraction puts to work, however many it is given:
// one thread each.
// Each has a thread, and may have a second that writes for it; one more
// thread flushes for them all.
constexpr unsigned kMostWorkspaces = (Host::kMostThreads - 1) / 2;

// Unpacks the archive in `src` under `target` (UTF-8; empty means the
// current directory). Nothing is written unless every entry passes the
// checks; each file appears under its name only once complete and verified.
// Returns an ExitCode.
//
// Each of the `count` Workspaces can carry one worker; the first works in the
// calling thread. How many run is decided from the archive: one for a small
// one, and one for an archive whose entries could land on the same file (two
// names for one file, a file where another entry needs a directory), which
// is then unpacked strictly in its own order. Otherwise workers take entries
// in any order, the largest first. With more than one, `src` is read from
// several threads at once; `rep` is still called by one at a time, and the
// lines about the entries come in archive order all the same, the summary
// last.
int extract(Host& host, zip::Source& src, std::string_view target, const ExtractOptions& opt,
            Workspace* const* ws, unsigned count, Reporter& rep, Totals* totals = nullptr);

}  // namespace rdz
