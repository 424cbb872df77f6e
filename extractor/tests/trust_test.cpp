// The extraction on a file layer that can crash, fill up, or stay busy: what
// survives a power cut, a full disk, a scanner holding files, and hostile names.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "extraction.h"
#include "zipbuilder.h"

namespace rdz {
namespace {

constexpr Err kExists = 17, kIo = 5, kBusy = 16, kNoSpace = 28;

// Files and directories in memory, each with what a crash would leave of
// it: data only once flushed, names only once their directory is flushed.
class CrashingHost final : public Host {
 public:
  struct Node {
    bool dir = false;
    std::string data, kept_data;
    std::map<std::string, int> names, kept_names;
  };
  std::vector<Node> nodes = std::vector<Node>(1, Node{true, {}, {}, {}, {}});
  long crash_at = -1, steps = 0, busy_renames = 0, space = -1;
  unsigned slept_ms = 0, serial = 0;

  // Forgets everything not yet on disk, as after a power cut.
  void crash() {
    for (Node& n : nodes) n.data = n.kept_data, n.names = n.kept_names;
    crash_at = -1;
  }
  // Everything reachable by name: "dir/" or "file=data".
  void tree(int at, const std::string& prefix, std::vector<std::string>* out) const {
    for (auto& [name, id] : nodes[at].names) {
      if (nodes[id].dir) out->push_back(prefix + name + "/"), tree(id, prefix + name + "/", out);
      else out->push_back(prefix + name + "=" + nodes[id].data);
    }
  }

  void error_text(Err e, char* buf, size_t cap) override { snprintf(buf, cap, "error %ld", e); }
  ErrKind kind_of(Err e) override {
    return e == kNoSpace ? ErrKind::no_space : e == kBusy ? ErrKind::busy : ErrKind::other;
  }
  Err make_dir(const char*) override { return 0; }
  Err open_target(const char*, Handle* d) override { return *d = 0, step(); }
  Err open_dir(Handle d, const char* name, bool create, Handle* out, bool* made) override {
    auto it = nodes[d].names.find(name);
    *made = it == nodes[d].names.end();
    if (*made) {
      if (!create) return 2;
      nodes.push_back(Node{true, {}, {}, {}, {}});
      nodes[d].names[name] = static_cast<int>(nodes.size() - 1);
    } else if (!nodes[it->second].dir) {
      return kErrNotDir;
    }
    *out = nodes[d].names[name];
    return step();
  }
  Err close_dir(Handle) override { return 0; }
  Err list_dir(Handle d, void (*fn)(void*, const char*), void* ctx) override {
    auto names = nodes[d].names;
    for (auto& [name, id] : names) fn(ctx, name.c_str());
    return step();
  }
  Err flush_dir(Handle d) override {
    if (Err e = step()) return e;
    nodes[d].kept_names = nodes[d].names;
    return 0;
  }
  Err create_new(Handle d, const char* name, Handle* f) override {
    if (nodes[d].names.count(name)) return kExists;
    if (Err e = step()) return e;
    nodes.push_back(Node{false, {}, {}, {}, {}});
    *f = nodes[d].names[name] = static_cast<int>(nodes.size() - 1);
    return 0;
  }
  Err write_all(Handle f, const void* buf, size_t n) override {
    if (space >= 0 && (space -= static_cast<long>(n)) < 0) return kNoSpace;
    nodes[f].data.append(static_cast<const char*>(buf), n);
    return step();
  }
  Err set_mtime(Handle, int64_t) override { return step(); }
  Err flush_files(const Handle* f, size_t n) override {
    for (size_t i = 0; i < n; ++i) {
      if (Err e = step()) return e;
      nodes[f[i]].kept_data = nodes[f[i]].data;
    }
    return 0;
  }
  Err rename_over(Handle d, Handle, const char* temp, const char* final) override {
    if (busy_renames > 0) return --busy_renames, kBusy;
    if (Err e = step()) return e;
    nodes[d].names[final] = nodes[d].names[temp];
    nodes[d].names.erase(temp);
    return 0;
  }
  Err close(Handle) override { return 0; }
  Err remove_file(Handle d, const char* name) override {
    nodes[d].names.erase(name);
    return step();
  }
  Err stat(Handle d, const char* name, Stat* st) override {
    *st = Stat{};
    auto it = nodes[d].names.find(name);
    if (it == nodes[d].names.end()) return 0;
    st->kind = nodes[it->second].dir ? Stat::Kind::dir : Stat::Kind::file;
    st->mtime = INT64_MAX;  // times are not modelled: size decides
    st->size = nodes[it->second].data.size();
    return 0;
  }
  Err random(void* buf, size_t n) override {
    for (size_t i = 0; i < n; ++i) static_cast<unsigned char*>(buf)[i] = static_cast<unsigned char>(++serial);
    return 0;
  }
  void sleep_ms(unsigned ms) override { slept_ms += ms; }
  bool local_time_to_unix(int, int, int, int, int, int, int64_t* out) override {
    return *out = 0, true;
  }
  Err start_thread(unsigned, void (*)(void*), void*) override { return kIo; }
  void join_thread(unsigned) override {}
  void lock() override {}
  void unlock() override {}

 private:
  Err step() { return crash_at >= 0 && ++steps > crash_at ? kIo : 0; }
};

std::string zip_of(const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<test::TestEntry> entries(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    entries[i].name = files[i].first;
    entries[i].data = files[i].second;
  }
  return test::build_zip(entries);
}

struct Quiet final : Reporter {
  std::string err;
  void info(std::string_view) override {}
  void error(std::string_view l) override { err += l; }
};

struct Outcome {
  int rc;
  std::string err;
};

Outcome unpack(CrashingHost& host, const std::string& zip, bool update = false) {
  static Workspace ws;
  Workspace* one = &ws;
  zip::MemorySource src(zip.data(), zip.size());
  Quiet q;
  ExtractOptions opt;
  opt.update = update;
  opt.quiet = 2;
  return {extract(host, src, "t", opt, &one, 1, q), q.err};
}

std::vector<std::string> tree(const CrashingHost& h) {
  std::vector<std::string> out;
  h.tree(0, "", &out);
  return out;
}

const std::string kSmall = zip_of(
    {{"a.txt", "alpha"}, {"d/b.txt", std::string(3000, 'b')}, {"d/e/c.txt", "gamma"}});

TEST(Trust, EveryCrashLeavesWholeFilesAndAnUpdateRestoresTheTree) {
  CrashingHost clean;
  ASSERT_EQ(unpack(clean, kSmall).rc, kExitOk);
  const std::vector<std::string> want = tree(clean);
  for (long at = 0;; ++at) {
    CrashingHost h;
    h.crash_at = at;
    bool finished = unpack(h, kSmall).rc == kExitOk;
    h.crash();
    if (finished) {
      EXPECT_EQ(tree(h), want) << "success told before all was on disk";
    }
    for (const std::string& f : tree(h)) {
      if (f.back() != '/' && f.rfind(".rdz-", 0) == std::string::npos &&
          f.find("/.rdz-") == std::string::npos) {
        EXPECT_NE(std::find(want.begin(), want.end(), f), want.end()) << "torn: " << f << " at " << at;
      }
    }
    ASSERT_EQ(unpack(h, kSmall, true).rc, kExitOk);
    ASSERT_EQ(tree(h), want) << "crash at step " << at;
    if (finished) break;
  }
}

TEST(Trust, AFullDiskStopsAtOnceSaysSoOnceAndLeavesNoTemporary) {
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 50; ++i) many.push_back({"f" + std::to_string(i), std::string(100, 'x')});
  CrashingHost h;
  h.space = 1000;
  Outcome r = unpack(h, zip_of(many));
  EXPECT_EQ(r.rc, kExitEntries);
  EXPECT_EQ(r.err.find("disk is full"), r.err.rfind("disk is full")) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;  // and the summary
  for (const std::string& f : tree(h)) EXPECT_EQ(f.find(".rdz-"), std::string::npos) << f;
}

TEST(Trust, ABusyFileIsRetriedBrieflyThenReportedByName) {
  CrashingHost h;
  h.busy_renames = 3;
  EXPECT_EQ(unpack(h, kSmall).rc, kExitOk);
  EXPECT_GT(h.slept_ms, 0u);
  h.busy_renames = 1000;
  h.slept_ms = 0;
  Outcome r = unpack(h, zip_of({{"lib.dll", "new"}}));
  EXPECT_EQ(r.rc, kExitEntries);
  EXPECT_LT(h.slept_ms, 1000u);
  EXPECT_NE(r.err.find("lib.dll: cannot replace file: it is in use"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("close the programs that use the libraries"), std::string::npos);
}

TEST(Trust, LeftoversOfEarlierRunsGoAndOtherFilesStay) {
  CrashingHost h;
  ASSERT_EQ(unpack(h, kSmall).rc, kExitOk);
  auto& d = h.nodes[h.nodes[0].names["d"]].names;
  d[".rdz-0123abcd.tmp"] = d[".rdz-0123abcd0123abcd.tmp"] = d["own.rdz-1.tmp"] = 0;
  ASSERT_EQ(unpack(h, kSmall, true).rc, kExitOk);
  EXPECT_EQ(d.size(), 3u);  // b.txt, e/ and the user's own file
  EXPECT_TRUE(d.count("own.rdz-1.tmp"));
}

TEST(Trust, NamesATemporaryOrAnotherEntryCouldShareAreRefused) {
  const char* const pairs[][2] = {
      {"d/a.bin", "d/.rdz-00000000.tmp"}, {"d/x", "d/.RDZ-anything.TMP"},
      {"bin/\xc3\x84.txt", "bin/\xc3\xa4.txt"},              // Latin: Ä ä
      {"\xce\xa3\xce\xb1", "\xcf\x83\xce\x91"},              // Greek: Σα σΑ
      {"\xd0\x96/x", "\xd0\xb6/x"},                          // Cyrillic: Ж ж
      {"\xc7\x85", "\xc7\x86"},                              // Dž dž, one letter
  };
  for (auto& p : pairs) {
    CrashingHost h;
    EXPECT_EQ(unpack(h, zip_of({{p[0], "1"}, {p[1], "2"}})).rc, kExitEntries) << p[1];
    EXPECT_TRUE(tree(h).empty()) << p[1];
  }
  CrashingHost h;  // letters that only look alike stay apart
  Outcome r = unpack(h, zip_of({{"\xc3\x9f", "1"}, {"ss", "2"}, {"\xc4\xb1", "3"}}));
  EXPECT_EQ(r.rc, kExitOk) << r.err;
}

}  // namespace
}  // namespace rdz
