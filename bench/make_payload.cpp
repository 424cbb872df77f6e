// Writes the benchmark payload: a run-time library tree of about 4,000
// files and 200 MB, four folders deep, the same bytes on every machine and
// every run (one fixed seed, our own generator, no library randomness).
//
// Its shape follows what the installer ships: a few large libraries and
// symbol files, many small headers, sources and documents, and media that
// does not compress, so that both inflating and storing show in the timings.
//
// The other shapes trace the cost curve at its two ends: many small files,
// where the cost per file rules, and one large file, where inflating and
// writing back rule.
//
//   make-payload DIR [SCALE]             SCALE multiplies every size (default 1)
//   make-payload DIR --small N [FOLDERS] N small files, spread over FOLDERS
//                                        folders (default: all in DIR itself)
//   make-payload DIR --large MIB         one file of MIB MiB of machine code
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: tiny, fast, and fully specified, so the payload never depends
// on a standard library's distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  uint64_t below(uint64_t n) { return n ? next() % n : 0; }
  // Skewed towards 0, as word and instruction frequencies are.
  uint64_t skewed(uint64_t n) {
    double u = static_cast<double>(next() >> 11) * 0x1.0p-53;
    return static_cast<uint64_t>(static_cast<double>(n) * u * u * u);
  }
  // Log-uniform in [lo, hi]: small files are many, large ones few.
  uint64_t log_uniform(uint64_t lo, uint64_t hi) {
    double u = static_cast<double>(next() >> 11) * 0x1.0p-53;
    return static_cast<uint64_t>(std::exp(std::log(static_cast<double>(lo)) +
                                          u * (std::log(static_cast<double>(hi)) -
                                               std::log(static_cast<double>(lo)))));
  }

 private:
  uint64_t s_;
};

enum class Kind { text, code, markup, binary_code, records, random };

// Word lists made from syllables, so text compresses like prose and code
// like code, without shipping a dictionary.
struct Lexicon {
  std::vector<std::string> words, idents;
  explicit Lexicon(Rng& r) {
    static const char* const syl[] = {"ra", "vo", "zi", "da", "ri", "do", "ze", "vu", "ko", "la",
                                      "mi", "te", "no", "sa", "pe", "lu", "ti", "ba", "go", "ne",
                                      "run", "time", "lib", "ver", "sion", "path", "con", "fig"};
    const size_t n = sizeof syl / sizeof syl[0];
    for (int i = 0; i < 3000; ++i) {
      std::string w;
      int parts = 1 + static_cast<int>(r.below(3));
      for (int k = 0; k < parts; ++k) w += syl[r.below(n)];
      words.push_back(w);
    }
    for (int i = 0; i < 800; ++i) {
      std::string id = words[r.below(words.size())];
      if (r.below(2)) id += "_" + words[r.below(words.size())];
      if (r.below(4) == 0) id += std::to_string(r.below(100));
      idents.push_back(id);
    }
  }
};

void fill_text(Rng& r, const Lexicon& lx, std::string& out, size_t n) {
  size_t col = 0;
  while (out.size() < n) {
    const std::string& w = lx.words[r.skewed(lx.words.size())];
    out += w;
    col += w.size() + 1;
    if (col > 60 + r.below(20)) {
      out += r.below(8) == 0 ? ".\r\n\r\n" : "\r\n";
      col = 0;
    } else {
      out += r.below(12) == 0 ? ", " : " ";
    }
  }
}

void fill_code(Rng& r, const Lexicon& lx, std::string& out, size_t n) {
  static const char* const kw[] = {"if", "return", "for", "while", "const", "int", "void",
                                   "unsigned", "static", "struct", "#define", "switch", "case"};
  int depth = 0;
  while (out.size() < n) {
    out.append(static_cast<size_t>(depth) * 4, ' ');
    switch (r.below(6)) {
      case 0:
        out += std::string(kw[r.below(13)]) + " (" + lx.idents[r.skewed(lx.idents.size())] +
               " != " + lx.idents[r.skewed(lx.idents.size())] + ") {";
        if (depth < 4) ++depth;
        break;
      case 1:
        if (depth > 0) {
          --depth;
          out.resize(out.size() - 4);
        }
        out += "}";
        break;
      case 2:
        out += "// " + lx.words[r.skewed(lx.words.size())] + " " + lx.words[r.skewed(lx.words.size())];
        break;
      default:
        out += lx.idents[r.skewed(lx.idents.size())] + " = " + lx.idents[r.skewed(lx.idents.size())] +
               "(" + lx.idents[r.skewed(lx.idents.size())] + ", " + std::to_string(r.below(4096)) + ");";
    }
    out += "\n";
  }
}

void fill_markup(Rng& r, const Lexicon& lx, std::string& out, size_t n) {
  static const char* const tags[] = {"p", "li", "td", "span", "code", "h2", "a"};
  out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<document>\n";
  while (out.size() < n) {
    const char* t = tags[r.below(7)];
    out += "  <";
    out += t;
    out += " class=\"" + lx.idents[r.skewed(lx.idents.size())] + "\">";
    fill_text(r, lx, out, out.size() + 20 + r.below(120));
    out += "</";
    out += t;
    out += ">\n";
  }
}

// Machine code compresses to about half: frequent short opcode patterns
// between addresses and constants that do not repeat.
void fill_opcodes(Rng& r, const std::vector<std::string>& ops, std::string& out, size_t n) {
  while (out.size() < n) {
    out += ops[r.skewed(ops.size())];
    if (r.below(4) == 0) {
      uint64_t v = r.next();
      out.append(reinterpret_cast<const char*>(&v), 4);
    }
  }
}

void fill_binary_code(Rng& r, const std::vector<std::string>& ops, std::string& out, size_t n) {
  out += std::string("MZ\x90\0\3\0\0\0\4\0\0\0\xff\xff\0\0", 16);
  out.append(240, '\0');
  fill_opcodes(r, ops, out, n);
}

// Symbol files: fixed-size records with names and counters.
void fill_records(Rng& r, const Lexicon& lx, std::string& out, size_t n) {
  uint32_t addr = 0x10001000;
  while (out.size() < n) {
    addr += static_cast<uint32_t>(16 + r.below(400));
    char rec[64] = {};
    std::memcpy(rec, &addr, 4);
    uint32_t size = static_cast<uint32_t>(r.below(2000));
    std::memcpy(rec + 4, &size, 4);
    const std::string& id = lx.idents[r.below(lx.idents.size())];
    std::memcpy(rec + 8, id.data(), id.size() < 56 ? id.size() : 56);
    out.append(rec, sizeof rec);
  }
}

void fill_random(Rng& r, std::string& out, size_t n) {
  size_t at = out.size();
  out.resize(n + 8);
  for (; at < n; at += 8) {
    uint64_t v = r.next();
    std::memcpy(&out[at], &v, 8);
  }
}

struct Payload {
  std::string root;
  Rng rng{0x5241564F5A49ull};  // fixed: the payload is the same everywhere
  Lexicon lex{rng};
  std::vector<std::string> ops;
  std::string buf;
  uint64_t files = 0, bytes = 0, dirs = 0;
  double scale = 1;

  Payload() {
    for (int i = 0; i < 600; ++i) {
      std::string op;
      size_t len = 1 + rng.below(6);
      for (size_t k = 0; k < len; ++k) op += static_cast<char>(rng.below(256));
      ops.push_back(op);
    }
  }

  bool mkdirs(const std::string& rel) {
    std::string path = root;
    size_t i = 0;
    while (i <= rel.size()) {
      size_t j = rel.find('/', i);
      if (j == std::string::npos) j = rel.size();
      path += "/" + rel.substr(i, j - i);
      if (::mkdir(path.c_str(), 0755) == 0) {
        ++dirs;
      } else if (errno != EEXIST) {
        std::fprintf(stderr, "make-payload: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
      }
      i = j + 1;
    }
    return true;
  }

  void fill(Kind kind, uint64_t size) {
    buf.clear();
    switch (kind) {
      case Kind::text: fill_text(rng, lex, buf, size); break;
      case Kind::code: fill_code(rng, lex, buf, size); break;
      case Kind::markup: fill_markup(rng, lex, buf, size); break;
      case Kind::binary_code: fill_binary_code(rng, ops, buf, size); break;
      case Kind::records: fill_records(rng, lex, buf, size); break;
      case Kind::random: fill_random(rng, buf, size); break;
    }
    buf.resize(size);
  }

  // A file under DIR/dir, or in DIR itself when dir is empty.
  bool write(const std::string& dir, const std::string& name, Kind kind, uint64_t size) {
    size = static_cast<uint64_t>(static_cast<double>(size) * scale);
    fill(kind, size ? size : 1);
    if (dir.empty()) return put(root + "/" + name);
    return mkdirs(dir) && put(root + "/" + dir + "/" + name);
  }

  bool put(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(buf.data(), 1, buf.size(), f) != buf.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "make-payload: cannot write %s\n", path.c_str());
      return false;
    }
    ++files;
    bytes += buf.size();
    return true;
  }

  std::string word() { return lex.words[rng.below(lex.words.size())]; }

  // Sources, documents and settings of a few hundred bytes to 16 KiB, as
  // a toolbox or a documentation set holds by the thousand.
  bool make_small(uint64_t count, uint64_t folders) {
    static const char* const exts[] = {".h", ".txt", ".xml", ".cfg"};
    const Kind kinds[] = {Kind::code, Kind::text, Kind::markup, Kind::text};
    for (uint64_t i = 0; i < count; ++i) {
      const std::string dir = folders ? "f" + std::to_string(i % folders) : "";
      const size_t e = rng.below(4);
      const std::string name = "s" + std::to_string(i) + exts[e];
      if (!write(dir, name, kinds[e], rng.log_uniform(256, 16 << 10))) return false;
    }
    return true;
  }

  // One library too large to hold in memory twice: written a slice at a time.
  bool make_large(uint64_t mib) {
    const std::string path = root + "/large.dll";
    FILE* f = std::fopen(path.c_str(), "wb");
    constexpr size_t kSlice = 16 << 20;
    bool ok = f != nullptr;
    for (uint64_t left = mib << 20; ok && left;) {
      const size_t n = left < kSlice ? static_cast<size_t>(left) : kSlice;
      buf.clear();
      if (left == mib << 20) {
        fill_binary_code(rng, ops, buf, n);
      } else {
        fill_opcodes(rng, ops, buf, n);
      }
      buf.resize(n);
      ok = std::fwrite(buf.data(), 1, n, f) == n;
      left -= n;
      bytes += n;
    }
    if (!f || std::fclose(f) != 0 || !ok) {
      std::fprintf(stderr, "make-payload: cannot write %s\n", path.c_str());
      return false;
    }
    ++files;
    return true;
  }

  bool make() {
    // The large files: the core libraries, their symbols, bundled media.
    const struct { const char* dir; const char* name; Kind kind; uint64_t mb; } big[] = {
        {"bin/win32", "rvzcore60.dll", Kind::binary_code, 24},
        {"bin/win32", "rvzui60.dll", Kind::binary_code, 12},
        {"bin/win32/symbols", "rvzcore60.pdb", Kind::records, 20},
        {"bin/win32/symbols", "rvzui60.pdb", Kind::records, 9},
        {"data/media", "samples.cab", Kind::random, 15},
        {"data/media", "fonts.pak", Kind::random, 11},
        {"docs", "reference.txt", Kind::text, 10},
    };
    for (const auto& b : big) {
      if (!write(b.dir, b.name, b.kind, b.mb << 20)) return false;
    }
    // Libraries of every size.
    for (int i = 0; i < 60; ++i) {
      if (!write("bin/win32", "rvz" + word() + std::to_string(i) + ".dll", Kind::binary_code,
                 rng.log_uniform(40 << 10, 3 << 20))) return false;
    }
    for (int g = 0; g < 8; ++g) {
      std::string dir = "bin/win32/plugins/" + word() + std::to_string(g);
      for (int i = 0; i < 20; ++i) {
        if (!write(dir, word() + std::to_string(i) + ".dll", Kind::binary_code,
                   rng.log_uniform(8 << 10, 400 << 10))) return false;
      }
    }
    // The toolbox: areas, modules, sources and their resources.
    static const char* const exts[] = {".h", ".cpp", ".txt", ".xml", ".cfg", ".inc"};
    const Kind ext_kind[] = {Kind::code, Kind::code, Kind::text, Kind::markup, Kind::text, Kind::code};
    for (int a = 0; a < 12; ++a) {
      std::string area = "toolbox/" + word() + std::to_string(a);
      for (int m = 0; m < 12; ++m) {
        std::string module = area + "/" + word() + std::to_string(m);
        int sources = 10 + static_cast<int>(rng.below(16));
        for (int i = 0; i < sources; ++i) {
          size_t e = rng.below(6);
          if (!write(module, word() + std::to_string(i) + exts[e], ext_kind[e],
                     rng.log_uniform(300, 40 << 10))) return false;
        }
        int res = static_cast<int>(rng.below(8));
        for (int i = 0; i < res; ++i) {
          if (!write(module + "/res", word() + std::to_string(i) + ".png", Kind::random,
                     rng.log_uniform(500, 60 << 10))) return false;
        }
      }
    }
    // Documentation pages and their pictures.
    for (int s = 0; s < 20; ++s) {
      std::string section = "docs/html/" + word() + std::to_string(s);
      for (int i = 0; i < 25; ++i) {
        if (!write(section, word() + std::to_string(i) + ".html", Kind::markup,
                   rng.log_uniform(1 << 10, 30 << 10))) return false;
      }
      for (int i = 0; i < 4; ++i) {
        if (!write(section + "/img", word() + std::to_string(i) + ".jpg", Kind::random,
                   rng.log_uniform(2 << 10, 200 << 10))) return false;
      }
    }
    // Media of middling size.
    for (int i = 0; i < 120; ++i) {
      if (!write("data/media/clips", word() + std::to_string(i) + ".bin", Kind::random,
                 rng.log_uniform(10 << 10, 400 << 10))) return false;
    }
    return true;
  }
};

// A count from the command line: digits only, at least 1.
bool count_arg(const char* text, uint64_t* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno || end == text || *end || v == 0 || text[0] == '-') return false;
  *out = v;
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: make-payload DIR [SCALE]\n"
               "       make-payload DIR --small N [FOLDERS]\n"
               "       make-payload DIR --large MIB\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) return usage();
  Payload p;
  p.root = argv[1];
  const std::string shape = argc > 2 ? argv[2] : "";
  uint64_t n = 0, folders = 0;
  if (shape == "--small") {
    if (argc < 4 || !count_arg(argv[3], &n) || (argc == 5 && !count_arg(argv[4], &folders))) {
      return usage();
    }
  } else if (shape == "--large") {
    if (argc != 4 || !count_arg(argv[3], &n) || n > (1u << 20)) return usage();
  } else {
    if (argc > 3) return usage();
    if (argc == 3) p.scale = std::atof(argv[2]);
    if (!(p.scale > 0)) {
      std::fprintf(stderr, "make-payload: SCALE must be a positive number\n");
      return 2;
    }
  }
  if (::mkdir(p.root.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "make-payload: cannot create %s: %s\n", p.root.c_str(), std::strerror(errno));
    return 1;
  }
  const bool ok = shape == "--small" ? p.make_small(n, folders)
                  : shape == "--large" ? p.make_large(n)
                                       : p.make();
  if (!ok) return 1;
  std::printf("%llu files, %llu bytes, %llu folders\n", static_cast<unsigned long long>(p.files),
              static_cast<unsigned long long>(p.bytes), static_cast<unsigned long long>(p.dirs));
  return 0;
}
