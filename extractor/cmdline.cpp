#include "cmdline.h"

namespace rdz::cli {

const char kUsage[] =
    "usage: ruduvizide [-u] [-q | -qq] [-d DIR]\n"
    "Unpacks the archive carried in this program.\n"
    "  -d DIR  unpack into DIR, creating it and its parents when missing\n"
    "          (default: current directory)\n"
    "  -u      update: write only files that are missing, older than the archive's,\n"
    "          or of its time but another size (damaged); a newer file stays\n"
    "  -q      print one summary line; -qq prints errors only\n";

int split(std::string_view line, char* storage, size_t storage_size,
          std::string_view* args, int max_args) {
  int count = 0;
  size_t out = 0;
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (true) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    if (count == max_args) return -1;
    const size_t start = out;
    bool quoted = false;
    for (; i < line.size() && (quoted || !blank(line[i])); ++i) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        if (out >= storage_size) return -1;
        storage[out++] = line[i];
      }
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
