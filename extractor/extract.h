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

// Reads the archive from an open file.
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
};

// All memory one extraction uses, fixed in size and allocated once by the
// caller; a second thread would get a second Workspace.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  bool ready() const { return inflate_ready_; }

 private:
  friend class Extraction;
  static constexpr size_t kCd = zip::kMaxRecord > zip::kOpenScratch ? zip::kMaxRecord
                                                                   : zip::kOpenScratch;
  unsigned char cd_[kCd];           // central directory window
  unsigned char in_[64 * 1024];     // compressed data; also a local name
  unsigned char out_[256 * 1024];   // data on its way to the file
  char decoded_[3 * names::kMaxName + 1];
  char rel_[names::kMaxName + 1];
  char base_[fs::kMaxPath + 1];
  char path_[fs::kMaxPath + 1];
  char temp_[fs::kMaxPath + 1];
  char made_dir_[fs::kMaxPath + 1];  // the last directory known to exist
  z_stream z_{};
  bool inflate_ready_ = false;
  uint32_t temp_serial_ = 0;
};

// Unpacks the archive in `src` under `target` (UTF-8; empty means the
// current directory). Nothing is written unless every entry passes the
// checks; each file appears under its name only once complete and verified.
// Returns an ExitCode.
int extract(zip::Source& src, std::string_view target, const cli::Options& opt,
            Workspace& ws, Reporter& rep, Totals* totals = nullptr);

// The entry's modification time in seconds since 1970 UTC.
int64_t entry_mtime(const zip::Entry& e);

}  // namespace rdz
