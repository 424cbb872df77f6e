// What the tests that unpack onto the disk share: a scratch folder, a
// reporter that keeps the messages, and the tree they leave.
#pragma once

#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "extract.h"
#include "zipbuilder.h"

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
  if (!stdfs::exists(root)) return out;
  for (auto& it : stdfs::recursive_directory_iterator(root)) {
    std::string rel = stdfs::relative(it.path(), root).generic_string();
    out.push_back(it.is_directory() ? rel + "/" : rel + "=" + slurp(it.path()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

class Capture final : public Reporter {
 public:
  void info(std::string_view line) override { out += line; }
  void error(std::string_view line) override { err += line; }
  std::string out, err;
};

// Unpacks into root/target with two workers, as on a two-processor machine.
class Unpack : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rdz-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root = tmpl;
    target = root / "target";
  }
  void TearDown() override { stdfs::remove_all(root); }

  int run(zip::Source& src, cli::Options opt = {}, std::string dir = "") {
    cap = Capture{};
    totals = Totals{};
    Workspace* crew[] = {ws[0].get(), ws[1].get()};
    return extract(src, dir.empty() ? target.string() : dir, opt, crew, 2, cap, &totals);
  }
  int run(const std::string& zip, cli::Options opt = {}, std::string dir = "") {
    zip::MemorySource src(zip.data(), zip.size());
    return run(src, opt, dir);
  }
  // Nothing may appear beside the target, whatever happened inside it.
  bool only_target() const {
    for (auto& it : stdfs::directory_iterator(root)) {
      if (it.path() != target) return false;
    }
    return true;
  }

  std::unique_ptr<Workspace> ws[2] = {std::make_unique<Workspace>(), std::make_unique<Workspace>()};
  stdfs::path root, target;
  Capture cap;
  Totals totals;
};

}  // namespace rdz::test
