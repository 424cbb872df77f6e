// The extraction loop: checks a whole archive, then puts each entry in place
// under the target directory, safely and verifiably.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <zlib.h>

#include "cmdline.h"
#include "fs.h"
#include "names.h"
#include "zip.h"

namespace rdz {

enum ExitCode : int {
  kExitOk = 0,       // every entry is in place
  kExitEntries = 1,  // entries refused or not written
  kExitArchive = 2,  // the archive cannot be read
  kExitTarget = 3,   // the target directory cannot be made
  kExitUsage = 4,
  kExitInternal = 5,
};

// Where messages go: main sends them to the standard streams, tests keep them.
class Reporter {
 public:
  virtual void info(std::string_view line) = 0;   // progress and summary
  virtual void error(std::string_view line) = 0;  // always shown

 protected:
  ~Reporter() = default;
};

// Reads the archive from an open file, from any number of threads at once:
// every read says where it starts.
class FileSource final : public zip::Source {
 public:
  FileSource(const fs::File& f, uint64_t size) : f_(f), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* buf, size_t n) override {
    return fs::read_at(f_, offset, buf, n) == 0;
  }

 private:
  const fs::File& f_;
  uint64_t size_;
};

struct Totals {
  uint64_t files = 0;    // written
  uint64_t bytes = 0;    // written
  uint64_t skipped = 0;  // already up to date
  uint64_t dirs = 0;
  uint64_t refused = 0;
  uint64_t failed = 0;
  unsigned workers = 0;  // that unpacked side by side
};

// All memory one worker uses, fixed in size and allocated once by the
// caller; each worker that unpacks side by side with others has its own.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  bool ready() const { return inflate_ready_; }

 private:
  friend class Extraction;
  friend class Worker;
  static constexpr size_t kCd = zip::kMaxRecord > zip::kOpenScratch ? zip::kMaxRecord
                                                                   : zip::kOpenScratch;
  // Names pass one has seen, to tell whether entries may be unpacked in any
  // order; used in the first Workspace only, and only as far as the archive
  // needs: past this many names the archive is unpacked in its own order.
  static constexpr size_t kNameSlots = size_t{1} << 18;

  unsigned char cd_[kCd];           // central directory window
  unsigned char in_[64 * 1024];     // archive window: local headers, compressed data
  unsigned char out_[256 * 1024];   // data on its way to the file; also a local name
  char decoded_[3 * names::kMaxName + 1];
  char rel_[names::kMaxName + 1];
  char base_[fs::kMaxPath + 1];
  char path_[fs::kMaxPath + 1];
  char temp_[fs::kMaxPath + 1];
  char made_dir_[fs::kMaxPath + 1];  // the last directory known to exist
  uint64_t names_[kNameSlots];
  z_stream z_{};
  bool inflate_ready_ = false;
  uint32_t temp_serial_ = 0;
};

// Most workers one extraction runs, whatever it is given.
constexpr unsigned kMaxWorkers = 8;

// Unpacks the archive in `src` under `target` (UTF-8; empty means the
// current directory). Nothing is written unless every entry passes the
// checks; each file appears under its name only once complete and verified.
// Returns an ExitCode.
//
// Each of the `count` Workspaces can carry one worker; the first works in the
// calling thread. How many run is decided from the archive: one for a small
// one, and one for an archive whose entries could land on the same file (two
// names for one file, a file where another entry needs a directory), which
// is then unpacked strictly in its own order. With more than one, `src` is
// read from several threads at once; `rep` is still called by one at a time,
// and lines about separate entries may come in any order.
int extract(zip::Source& src, std::string_view target, const cli::Options& opt,
            Workspace* const* ws, unsigned count, Reporter& rep, Totals* totals = nullptr);

// One worker, entries in archive order.
int extract(zip::Source& src, std::string_view target, const cli::Options& opt,
            Workspace& ws, Reporter& rep, Totals* totals = nullptr);

// Continues the CRC-32 that ZIP uses (as zlib's crc32() does; start from 0)
// over `n` more bytes, at any length.
uint32_t crc32_update(uint32_t crc, const unsigned char* p, size_t n);

// The entry's modification time in seconds since 1970 UTC.
int64_t entry_mtime(const zip::Entry& e);

}  // namespace rdz
