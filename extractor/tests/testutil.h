// Helpers shared by the tests that unpack onto the disk.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace rdz::test {

namespace stdfs = std::filesystem;

inline std::string slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Everything under `root`, sorted: files as "name=contents", folders as "name/".
inline std::vector<std::string> tree(const stdfs::path& root) {
  std::vector<std::string> out;
  for (auto& it : stdfs::recursive_directory_iterator(root)) {
    std::string rel = stdfs::relative(it.path(), root).generic_string();
    out.push_back(it.is_directory() ? rel + "/" : rel + "=" + slurp(it.path()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A fresh folder under /tmp, removed with everything in it.
struct TempDir {
  TempDir() {
    char tmpl[] = "/tmp/rdz-test-XXXXXX";
    if (::mkdtemp(tmpl)) path = tmpl;
  }
  ~TempDir() {
    if (!path.empty()) stdfs::remove_all(path);
  }
  stdfs::path path;
};

}  // namespace rdz::test
