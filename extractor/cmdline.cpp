#include "cmdline.h"

#include <cstdint>

namespace rdz::cli {

const char kUsage[] =
    "usage: ruduvizide [-u] [-q | -qq] [-d DIR]\n"
    "Unpacks the archive carried in this program.\n"
    "  -d DIR  unpack into DIR, creating it and its parents when missing\n"
    "          (default: current directory)\n"
    "  -u      update: write only files that are missing, older than the archive's,\n"
    "          or of its time but another size (damaged); a newer file stays\n"
    "  -q      print one summary line; -qq prints errors only\n";

namespace {

bool blank(char16_t c) { return c == u' ' || c == u'\t'; }
bool is_high(uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool is_low(uint32_t c) { return c >= 0xDC00 && c < 0xE000; }

// The character at line[*i], stepped over, as UTF-8 into `out`: its length,
// or 0 for half a surrogate pair.
size_t encode(std::u16string_view line, size_t* i, char* out) {
  uint32_t c = line[(*i)++];
  if (is_low(c)) return 0;
  if (is_high(c)) {
    if (*i == line.size() || !is_low(line[*i])) return 0;
    c = 0x10000 + ((c - 0xD800) << 10) + (line[(*i)++] - 0xDC00u);
  }
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  const size_t n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (size_t k = n - 1; k > 0; --k, c >>= 6) out[k] = static_cast<char>(0x80 | (c & 0x3F));
  out[0] = static_cast<char>(kLead[n] | c);
  return n;
}

}  // namespace

int split(std::u16string_view line, char* storage, size_t storage_size,
          std::string_view* args, int max_args) {
  int count = 0;
  size_t out = 0;
  size_t i = 0;
  while (true) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    if (count == max_args) return kTooMany;
    const size_t start = out;
    bool quoted = false;
    while (i < line.size() && (quoted || !blank(line[i]))) {
      if (line[i] == u'"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      char utf8[4];
      const size_t n = encode(line, &i, utf8);
      if (n == 0) return kNotUnicode;
      if (storage_size - out < n) return kTooMany;
      for (size_t k = 0; k < n; ++k) storage[out++] = utf8[k];
    }
    args[count++] = std::string_view(storage + start, out - start);
  }
  return count;
}

bool parse(const std::string_view* args, int count, Options* opt, std::string_view* bad) {
  *opt = Options{};
  bool have_dir = false;
  for (int i = 0; i < count; ++i) {
    std::string_view a = args[i];
    *bad = a;
    if (a.size() < 2 || a[0] != '-') return false;
    for (size_t k = 1; k < a.size(); ++k) {
      char c = a[k];
      if (c == 'u') {
        opt->update = true;
      } else if (c == 'q') {
        if (opt->quiet == 2) return false;
        ++opt->quiet;
      } else if (c == 'd') {
        if (have_dir) return false;
        have_dir = true;
        // "-dDIR" and "-d DIR" both name the directory.
        if (k + 1 < a.size()) {
          opt->dir = a.substr(k + 1);
        } else {
          if (i + 1 >= count) return false;
          opt->dir = args[++i];
        }
        break;
      } else {
        return false;
      }
    }
  }
  *bad = {};
  return true;
}

}  // namespace rdz::cli
