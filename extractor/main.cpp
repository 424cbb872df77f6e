// ruduvizide: a self-extracting archive. This program is the stub; the ZIP
// archive it unpacks is appended to its own executable file.
#include <cstdlib>
#include <new>

#include "cmdline.h"
#include "extraction.h"
#include "system.h"

namespace {

class StdReporter final : public rdz::Reporter {
 public:
  void info(std::string_view line) override { rdz::sys::write_stdout(line); }
  void error(std::string_view line) override { rdz::sys::write_stderr(line); }
};

int usage(std::string_view bad) {
  if (!bad.empty()) {
    rdz::sys::write_stderr("ruduvizide: unknown or incomplete option: ");
    rdz::sys::write_stderr(bad);
    rdz::sys::write_stderr("\n");
  }
  rdz::sys::write_stderr(rdz::cli::kUsage);
  return rdz::kExitUsage;
}

int run(const std::string_view* args, int count) {
  rdz::cli::Options opt;
  std::string_view bad;
  if (!rdz::cli::parse(args, count, &opt, &bad)) return usage(bad);

  static_assert(rdz::kMaxPath < 8192);
  char dir[8192];
  size_t dir_len = 0;
  if (!rdz::sys::arg_to_utf8(opt.dir, dir, sizeof dir, &dir_len)) {
    rdz::sys::write_stderr("ruduvizide: target directory name is too long or unreadable\n");
    return rdz::kExitUsage;
  }

  rdz::sys::File self;
  uint64_t size = 0;
  if (rdz::Err e = rdz::sys::open_self(self, &size)) {
    char text[256];
    rdz::sys::error_text(e, text, sizeof text);
    rdz::sys::write_stderr("ruduvizide: cannot open own executable: ");
    rdz::sys::write_stderr(text);
    rdz::sys::write_stderr("\n");
    return rdz::kExitArchive;
  }
  StdReporter rep;
  // A worker per processor, up to four: past that the disk sets the pace, not
  // inflating. Each one's buffers in one block from malloc: operator new
  // would pull the C++ exception machinery into a program that has no use
  // for it.
  constexpr unsigned kMostWorkersWorthStarting = 4;
  static_assert(kMostWorkersWorthStarting <= rdz::kMostWorkspaces);
  unsigned workers = rdz::sys::processor_count();
  if (workers > kMostWorkersWorthStarting) workers = kMostWorkersWorthStarting;
  rdz::Workspace* ws[kMostWorkersWorthStarting];
  unsigned made = 0;
  for (; made < workers; ++made) {
    void* mem = std::malloc(sizeof(rdz::Workspace));
    if (!mem) break;
    auto* w = new (mem) rdz::Workspace;
    // A worker less rather than no extraction; the first one's failure is
    // for extract() to report.
    if (made > 0 && !w->ready()) {
      w->~Workspace();
      std::free(mem);
      break;
    }
    ws[made] = w;
  }
  int rc;
  if (made == 0) {
    rep.error("ruduvizide: out of memory\n");
    rc = rdz::kExitInternal;
  } else {
    rdz::sys::FileSource src(self, size);
    rdz::sys::NativeHost host(!rdz::sys::bench_without_flush());
    rc = rdz::extract(host, src, {dir, dir_len}, opt, ws, made, rep);
  }
  for (unsigned i = 0; i < made; ++i) {
    ws[i]->~Workspace();
    std::free(ws[i]);
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kMaxArgs = 64;
  std::string_view args[kMaxArgs];
  char storage[32768];  // the longest command line Windows passes
  const int n = rdz::sys::arguments(argc, argv, storage, sizeof storage, args, kMaxArgs);
  if (n < 0) return usage("(too many arguments)");
  return run(args, n);
}
