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

uint64_t le(const unsigned char* p, int n) {
  uint64_t v = 0;
  for (int i = n; i-- > 0;) v = v << 8 | p[i];
  return v;
}

// Where the program itself ends in its file, from its own headers (ELF or
// PE); 0 when they cannot be read. Anything after that was appended.
uint64_t program_end(const rdz::fs::File& f, uint64_t size) {
  using rdz::fs::read_at;
  unsigned char h[64];
  if (size < sizeof h || read_at(f, 0, h, sizeof h) != 0) return 0;
  uint64_t end = 0;
  auto extend = [&](uint64_t at, uint64_t len) {
    if (at <= size && len <= size - at && at + len > end) end = at + len;
  };
  if (h[0] == 0x7F && h[1] == 'E' && h[2] == 'L' && h[3] == 'F' && (h[4] == 1 || h[4] == 2) &&
      h[5] == 1) {
    const bool wide = h[4] == 2;
    const uint64_t shoff = wide ? le(h + 0x28, 8) : le(h + 0x20, 4);
    const uint64_t shsize = le(h + (wide ? 0x3A : 0x2E), 2), shnum = le(h + (wide ? 0x3C : 0x30), 2);
    const uint64_t phoff = wide ? le(h + 0x20, 8) : le(h + 0x1C, 4);
    const uint64_t phsize = le(h + (wide ? 0x36 : 0x2A), 2), phnum = le(h + (wide ? 0x38 : 0x2C), 2);
    extend(0, wide ? 64 : 52);
    extend(shoff, shsize * shnum);
    extend(phoff, phsize * phnum);
    for (uint64_t i = 0; i < shnum && shsize >= (wide ? 40u : 24u); ++i) {
      unsigned char sh[40];
      if (read_at(f, shoff + i * shsize, sh, wide ? 40 : 24) != 0) return 0;
      if (le(sh + 4, 4) == 8) continue;  // NOBITS: no bytes in the file
      extend(wide ? le(sh + 24, 8) : le(sh + 16, 4), wide ? le(sh + 32, 8) : le(sh + 20, 4));
    }
    return end;
  }
  if (h[0] == 'M' && h[1] == 'Z') {
    const uint64_t pe = le(h + 0x3C, 4);
    unsigned char coff[24];
    if (pe > size || read_at(f, pe, coff, sizeof coff) != 0 || le(coff, 4) != 0x4550) return 0;
    const uint64_t sections = le(coff + 6, 2), table = pe + 24 + le(coff + 20, 2);
    extend(0, table + 40 * sections);
    for (uint64_t i = 0; i < sections; ++i) {
      unsigned char sec[40];
      if (read_at(f, table + 40 * i, sec, sizeof sec) != 0) return 0;
      extend(le(sec + 20, 4), le(sec + 16, 4));
    }
    // An unstripped build keeps its symbols and their names after the sections.
    const uint64_t symbols = le(coff + 8, 4), count = le(coff + 12, 4);
    unsigned char names[4];
    if (symbols && read_at(f, symbols + 18 * count, names, 4) == 0) {
      extend(symbols, 18 * count + le(names, 4));
    }
    return end;
  }
  return 0;
}

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
  // Nothing appended: say so, rather than search the program's own code for
  // the end of an archive, where some instruction may happen to look like one.
  if (program_end(self, size) == size) {
    rep.error("ruduvizide: cannot read the archive: ");
    rep.error(rdz::zip::describe(rdz::zip::Error::no_archive));
    rep.error("\n");
    return rdz::kExitArchive;
  }
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
