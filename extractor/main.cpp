// ruduvizide: a self-extracting archive. This program is the stub; the ZIP
// archive it unpacks is appended to its own executable file.
#include <cstdlib>
#include <new>

#include "cmdline.h"
#include "extract.h"
#include "fs.h"

namespace {

class StdReporter final : public rdz::Reporter {
 public:
  void info(std::string_view line) override { rdz::fs::write_stdout(line); }
  void error(std::string_view line) override { rdz::fs::write_stderr(line); }
};

int usage(std::string_view bad) {
  if (!bad.empty()) {
    rdz::fs::write_stderr("ruduvizide: unknown or incomplete option: ");
    rdz::fs::write_stderr(bad);
    rdz::fs::write_stderr("\n");
  }
  rdz::fs::write_stderr(rdz::cli::kUsage);
  return rdz::kExitUsage;
}

int run(const std::string_view* args, int count) {
  rdz::cli::Options opt;
  std::string_view bad;
  if (!rdz::cli::parse(args, count, &opt, &bad)) return usage(bad);

  static_assert(rdz::fs::kMaxPath < 8192);
  char dir[8192];
  size_t dir_len = 0;
  if (!rdz::fs::arg_to_utf8(opt.dir, dir, sizeof dir, &dir_len)) {
    rdz::fs::write_stderr("ruduvizide: target directory name is too long or unreadable\n");
    return rdz::kExitUsage;
  }

  rdz::fs::File self;
  uint64_t size = 0;
  if (rdz::fs::Err e = rdz::fs::open_self(self, &size)) {
    char text[256];
    rdz::fs::error_text(e, text, sizeof text);
    rdz::fs::write_stderr("ruduvizide: cannot open own executable: ");
    rdz::fs::write_stderr(text);
    rdz::fs::write_stderr("\n");
    return rdz::kExitArchive;
  }
  StdReporter rep;
  // A worker per processor, up to four: past that the disk sets the pace, not
  // inflating. Each one's buffers in one block from malloc: operator new
  // would pull the C++ exception machinery into a program that has no use
  // for it.
  constexpr unsigned kMostWorkers = 4;
  unsigned workers = rdz::fs::processor_count();
  if (workers > kMostWorkers) workers = kMostWorkers;
  rdz::Workspace* ws[kMostWorkers];
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
    rdz::FileSource src(self, size);
    rc = rdz::extract(src, {dir, dir_len}, opt, ws, made, rep);
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
#ifdef _WIN32
  // The C runtime's argv would turn the installer's `-d "C:\x\"` into C:\x"
  // so the raw line is split by our own rules.
  (void)argc;
  (void)argv;
  std::string_view line = rdz::fs::raw_command_line();
  char storage[32768];
  if (line.size() > sizeof storage) return usage(line.substr(0, 80));
  int n = rdz::cli::split(line, storage, sizeof storage, args, kMaxArgs);
  if (n < 0) return usage("(too many arguments)");
  if (n == 0) return run(args, 0);
  return run(args + 1, n - 1);
#else
  if (argc - 1 > kMaxArgs) return usage("(too many arguments)");
  for (int i = 1; i < argc; ++i) args[i - 1] = argv[i];
  return run(args, argc > 0 ? argc - 1 : 0);
#endif
}
