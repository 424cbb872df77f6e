// ruduvizide: a self-extracting archive. This program is the stub; the ZIP
// archive it unpacks is appended to its own executable file.
#include "cmdline.h"
#include "extraction.h"
#include "message.h"
#include "system.h"
#include "workspaces.h"

namespace {

using rdz::kProg;

class StdReporter final : public rdz::Reporter {
 public:
  void info(std::string_view line) override { rdz::sys::write_stdout(line); }
  void error(std::string_view line) override { rdz::sys::write_stderr(line); }
};

// One line to standard error: the program's name, `what` and `detail`.
void complain(std::string_view what, std::string_view detail = {}) {
  rdz::sys::write_stderr(kProg);
  rdz::sys::write_stderr(what);
  rdz::sys::write_stderr(detail);
  rdz::sys::write_stderr("\n");
}

int usage(std::string_view bad) {
  if (!bad.empty()) complain("unknown or incomplete option: ", bad);
  rdz::sys::write_stderr(rdz::cli::kUsage);
  return rdz::kExitUsage;
}

int extract_self(std::string_view dir, const rdz::ExtractOptions& opt) {
  rdz::sys::File self;
  uint64_t size = 0;
  if (rdz::Err e = rdz::sys::open_self(self, &size)) {
    char text[256];
    rdz::sys::error_text(e, text, sizeof text);
    complain("cannot open own executable: ", text);
    return rdz::kExitArchive;
  }
  rdz::Workspace* ws[rdz::cli::kMostWorkersWorthStarting];
  const unsigned made = rdz::cli::make_workspaces(rdz::sys::processor_count(), ws);
  if (made == 0) {
    complain("out of memory");
    return rdz::kExitInternal;
  }
  StdReporter rep;
  rdz::sys::FileSource src(self, size);
  rdz::sys::NativeHost host(!rdz::sys::bench_without_flush());
  const int rc = rdz::extract(host, src, dir, opt, ws, made, rep);
  rdz::cli::free_workspaces(ws, made);
  return rc;
}

int run(const std::string_view* args, int count) {
  rdz::cli::Options opt;
  std::string_view bad;
  if (!rdz::cli::parse(args, count, &opt, &bad)) return usage(bad);
  if (opt.dir.size() > rdz::kMaxPath) {
    complain("target directory name is too long");
    return rdz::kExitUsage;
  }
  return extract_self(opt.dir, opt);
}

// The arguments after the program's name, in UTF-8, into `args`, with
// `storage` for what a raw line splits into; or what split() says is wrong.
int arguments(int argc, char** argv, char* storage, size_t cap, std::string_view* args,
              int max_args) {
  std::u16string_view line;
  if (!rdz::sys::raw_command_line(&line)) {
    if (argc - 1 > max_args) return rdz::cli::kTooMany;
    for (int i = 1; i < argc; ++i) args[i - 1] = argv[i];
    return argc > 0 ? argc - 1 : 0;
  }
  const int n = rdz::cli::split(line, storage, cap, args, max_args);
  if (n <= 0) return n;
  for (int i = 1; i < n; ++i) args[i - 1] = args[i];  // the program's own name goes
  return n - 1;
}

}  // namespace

int main(int argc, char** argv) {
  rdz::sys::keep_going_on_closed_pipes();
  constexpr int kMaxArgs = 64;
  std::string_view args[kMaxArgs];
  // The longest command line Windows passes, 32767 UTF-16 units, takes at
  // most three bytes each in UTF-8.
  char storage[3 * 32768];
  const int n = arguments(argc, argv, storage, sizeof storage, args, kMaxArgs);
  if (n == rdz::cli::kNotUnicode) {
    complain("the command line holds half a surrogate pair, which names no character");
    return rdz::kExitUsage;
  }
  if (n < 0) return usage("(too many arguments)");
  return run(args, n);
}
