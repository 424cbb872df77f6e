// The extraction on the real system, always flushing: what the tests and the
// fuzz target that unpack onto the disk call. The program builds its own
// NativeHost, which the benchmark may tell not to flush.
#pragma once

#include "cmdline.h"
#include "crc32.h"
#include "entry_time.h"
#include "extraction.h"
#include "system.h"

namespace rdz {

inline int extract(zip::Source& src, std::string_view target, const ExtractOptions& opt,
                   Workspace* const* ws, unsigned count, Reporter& rep,
                   Totals* totals = nullptr) {
  sys::NativeHost host;
  return extract(host, src, target, opt, ws, count, rep, totals);
}

inline int64_t entry_mtime(const zip::Entry& e) {
  sys::NativeHost host;
  return entry_mtime(e, host);
}

}  // namespace rdz
