// What the tests that unpack onto the disk share: the archives, a scratch
// folder, a reporter that keeps the messages, and a listing of the
// tree an extraction leaves.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "extract.h"

namespace rdz::test {

namespace stdfs = std::filesystem;

const stdfs::path kArchives = RDZ_ARCHIVES;      // outcomes.txt, recipes.txt
const stdfs::path kBuilt = RDZ_BUILT_ARCHIVES;  // what the recipes make

inline std::string slurp(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything under `dir`, sorted, as archives/outcomes.txt writes it.
inline std::string listing(const stdfs::path& dir) {
  if (!stdfs::exists(dir)) return "-";
  std::set<std::string> words;
  for (auto& it : stdfs::recursive_directory_iterator(dir)) {
    const std::string rel = stdfs::relative(it.path(), dir).generic_string();
    const std::string s = it.is_directory() ? "" : slurp(it.path());
    const bool plain = s.size() <= 16 && std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 127; });
    words.insert(rel + (it.is_directory() ? "/" : plain ? "=" + s : "=#" + std::to_string(s.size())));
  }
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

class Capture final : public Reporter {
 public:
  void info(std::string_view line) override { said += line; }
  void error(std::string_view line) override { said += line; }
  std::string said;
};

// An archive in memory that cannot be read past its first `reads` reads.
struct FlakySource final : zip::Source {
  FlakySource(const std::string& zip, int reads) : mem(zip.data(), zip.size()), left(reads) {}
  uint64_t size() const override { return mem.size(); }
  bool read(uint64_t at, void* buf, size_t n) override { return left-- != 0 && mem.read(at, buf, n); }
  zip::MemorySource mem;
  std::atomic<int> left;
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
    Workspace* crew[] = {&ws[0], &ws[1]};
    return extract(src, dir.empty() ? target.string() : dir, opt, crew, offered, cap, &totals);
  }
  int run(const std::string& zip, cli::Options opt = {}, std::string dir = "") {
    zip::MemorySource src(zip.data(), zip.size());
    return run(src, opt, std::move(dir));
  }
  // Runs a case of archives/outcomes.txt, its steps first.
  int run_case(const stdfs::path& archive, const std::string& steps) {
    const std::string zip = slurp(archive);
    cli::Options opt;
    offered = 2;
    int reads = -1;
    std::istringstream words(steps);
    for (std::string w; words >> w;) {
      const size_t eq = w.find('=');
      const stdfs::path p = target / w.substr(1, eq - 1);
      if (w == "!" || w == "1") {
        offered = w == "1" ? 1 : 2;
        if (w == "!") run(zip);
      } else if (w[0] == 'r') {
        reads = std::stoi(w.substr(1));
      } else if (w == "-u") {
        opt.update = true;
      } else if (w[0] == '-') {
        opt.quiet = static_cast<int>(w.size()) - 1;
      } else if (w[0] == '~') {
        stdfs::remove_all(p);
      } else if (stdfs::create_directories(p.parent_path()), eq == std::string::npos) {
        stdfs::create_directories(p);
      } else {
        std::ofstream(p) << w.substr(eq + 1);
      }
    }
    FlakySource src(zip, reads);
    return run(src, opt);
  }

  Workspace ws[2];
  unsigned offered = 2;  // workspaces, so workers, the extraction may use
  stdfs::path root, target;
  Capture cap;
  Totals totals;
};

}  // namespace rdz::test
