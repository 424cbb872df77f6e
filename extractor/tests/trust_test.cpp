// The extraction on a file layer that can crash or stay busy, and names it refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "entry_policy.h"
#include "extraction.h"
#include "temp_names.h"
#include "zipwriter.h"

namespace rdz {
namespace {

constexpr Err kExists = 17, kIo = 5, kBusy = 16, kNoSpace = 28, kMissing = 2;

// Files and directories in memory, each with what a crash would leave of
// it: data only once flushed, names only once their directory is flushed
// (or, with `covers`, any file on their file system). Node 0 is the current
// directory. A flush reaches only the file system of the first handle it is
// given, as one syncfs does. With `threads`, it runs the flusher and the
// workers on threads of their own, one operation at a time.
class CrashingHost final : public Host {
 public:
  struct Node {
    bool dir;
    uint64_t dev;
    std::string data, kept_data;
    std::map<std::string, int> names, kept_names;
  };
  std::vector<Node> nodes = std::vector<Node>(1, Node{true, 0, {}, {}, {}, {}});
  std::string mount_point = "d";  // a directory of this name is another file system
  long crash_at = -1, steps = 0, busy_renames = 0, space = -1, flush_error = 0, swept = 0, clashes = 0,
       dir_flush_error = 0;
  // gate: each worker's file of this number waits for the first flush, and
  // that flush for twice as many from each: the next then holds both's.
  long fail_at = 1, flushes = 0, gate = 0, slow_ms = 0;
  // early: writeback is taken (so a file may be flushed beside its writes);
  // hold_ms: a file asked to be written back is written on only once a
  // flush has tried it, or this long has passed; fail_size: the flush of a
  // file holding at least this many bytes fails, once, as Linux tells a
  // write-back error once.
  bool covers = true, threads = false, flushed = false, early = false;
  size_t fail_size = 0;
  long hold_ms = 0;
  size_t handles = 1 << 20;
  // What the flusher did: renames of data not on disk, flushes holding both
  // workers' files, bytes written back early (and ranges past a file's
  // end), waits of the workers; writes by another thread than the file's
  // maker; flushes of closed files; what the last flush of each file found
  // not yet on disk.
  long unflushed = 0, mixed = 0, worker_waits = 0, behind = 0, dirs_flushed = 0, gone = 0;
  uint64_t written_back = 0;
  std::map<Handle, size_t> tried, unkept, asked;
  std::set<Handle> closed;
  std::map<Handle, std::thread::id> maker;
  std::map<std::thread::id, long> made;
  std::recursive_mutex fs;
  std::mutex m;
  std::condition_variable_any cv;
  std::thread th[kMostThreads];
  Err rename_error = kBusy, leftover_error = 0, create_error = 0;  // what refused renames, sweeps, creations say
  unsigned slept_ms = 0, serial = 0;
  long opens = 0, lists = 0;  // of directories

  // Forgets everything not yet on disk, as after a power cut.
  void crash() {
    for (Node& n : nodes) n.data = n.kept_data, n.names = n.kept_names;
    crash_at = -1;
  }
  // Everything reachable by name: "dir/" or "file=data".
  std::vector<std::string> tree(int at = 0, const std::string& prefix = "") const {
    std::vector<std::string> out;
    for (auto& [name, id] : nodes[at].names) {
      out.push_back(prefix + name + (nodes[id].dir ? "/" : "=" + nodes[id].data));
      for (auto& below : nodes[id].dir ? tree(id, out.back()) : std::vector<std::string>()) out.push_back(below);
    }
    return out;
  }
  int add(Handle d, const char* name, bool dir) {
    nodes.push_back(Node{dir, nodes[d].dev + (dir && name == mount_point), {}, {}, {}, {}});
    return nodes[d].names[name] = static_cast<int>(nodes.size() - 1);
  }
  // The node `path` names, or -1.
  int find(const std::string& path) {
    int at = 0;
    for (size_t i = 0, j; at >= 0 && path != "." && i <= path.size(); i = j + 1) {
      j = std::min(path.find('/', i), path.size());
      auto it = nodes[at].names.find(path.substr(i, j - i));
      at = it == nodes[at].names.end() ? -1 : it->second;
    }
    return at;
  }
  bool same_dev(const Handle* h, size_t i) { return nodes[h[i]].dev == nodes[h[0]].dev; }

  void error_text(Err e, char* buf, size_t cap) override {
    own_error_text(e) ? snprintf(buf, cap, "%s", own_error_text(e)) : snprintf(buf, cap, "error %ld", e);
  }
  ErrKind kind_of(Err e) override {
    // Windows says "access denied" for a directory or read-only file in the
    // way too: the extraction's own codes for those must never be retried.
    const bool busy = e == kBusy || e == kErrDirInTheWay || e == kErrReadOnly || e == kErrLiveTemp;
    return e == kNoSpace ? ErrKind::no_space : busy ? ErrKind::busy
         : e == kMissing ? ErrKind::missing : ErrKind::other;
  }
  Err make_dir(const char* path, bool* made) override {
    auto g = guard();
    const std::string p = path;
    const size_t cut = p.rfind('/') + 1;  // 0 without one
    const int up = cut ? find(p.substr(0, cut - 1)) : 0;
    if (up < 0) return kMissing;
    if (!(*made = find(p) < 0)) return nodes[find(p)].dir ? 0 : kErrNotDir;
    return step() ?: (add(up, p.c_str() + cut, true), 0);
  }
  Err open_target(const char* path, Handle* d) override { auto g = guard(); return *d = find(path), step(); }
  Err open_dir(Handle d, const char* name, bool, Handle* out, bool* made) override {
    auto g = guard();
    ++opens;
    *made = !nodes[d].names.count(name);
    *out = *made ? add(d, name, true) : nodes[d].names[name];
    return nodes[*out].dir ? step() : kErrNotDir;
  }
  void close_dir(Handle) override {}
  void list_dir(Handle d, void (*fn)(void*, const char*), void* ctx) override {
    auto g = guard();
    ++lists;
    for (auto& [name, id] : std::map<std::string, int>(nodes[d].names)) fn(ctx, name.c_str());
  }
  Err flush_dirs(const Handle* d, size_t n) override {
    auto g = guard();
    dirs_flushed += static_cast<long>(n);
    for (size_t i = 0; i < n && !step(); ++i) {
      if (same_dev(d, i)) nodes[d[i]].kept_names = nodes[d[i]].names;
    }
    return dir_flush_error ?: crash_at >= 0 && steps > crash_at ? kIo : 0;
  }
  Err create_new(Handle d, const char* name, Handle* f) override {
    auto g = guard();
    if (swept > 0) return --swept, kMissing;  // another run's sweep came first
    if (create_error) return create_error;
    if (clashes > 0) return --clashes, add(d, name, false), kExists;  // another's file came first
    const auto until = clock::now() + std::chrono::seconds(20);
    while (made[std::this_thread::get_id()] + 1 == gate && !flushed && clock::now() < until) pause(g, 1);
    if (nodes[d].names.count(name)) return kExists;
    if (Err e = step()) return e;
    ++made[maker[*f = add(d, name, false)] = std::this_thread::get_id()];
    return 0;
  }
  Err write_all(Handle f, const void* buf, size_t n) override {
    auto g = guard();
    const bool pen = maker[f] != std::this_thread::get_id();
    behind += pen;
    for (auto until = clock::now() + std::chrono::milliseconds(hold_ms);
         pen && tried[f] < asked[f] && clock::now() < until;) {
      pause(g, 1);
    }
    if (space >= 0 && (space -= static_cast<long>(n)) < 0) return kNoSpace;
    return nodes[f].data.append(static_cast<const char*>(buf), n), step();
  }
  Err set_mtime(Handle, int64_t) override { auto g = guard(); return step(); }
  Err flush_files(const Handle* f, size_t n) override {
    auto g = guard();
    for (auto until = clock::now() + std::chrono::seconds(20); clock::now() < until && gate > 0;) {
      bool both = made.size() == 2;
      for (auto& [who, files] : made) both = both && files >= 2 * gate;
      if (both) gate = -gate;
      else flushed = true, pause(g, 1);
    }
    std::vector<size_t> before(n);
    for (size_t i = 0; i < n; ++i) before[i] = std::exchange(tried[f[i]], nodes[f[i]].data.size());
    pause(g, slow_ms);
    for (size_t i = 0; i < n; ++i) {
      unkept[f[i]] = nodes[f[i]].data.size() - nodes[f[i]].kept_data.size();
      gone += closed.count(f[i]);
      if (before[i] < fail_size && tried[f[i]] >= fail_size) return flush_error;
    }
    if (!fail_size && flush_error && ++flushes >= fail_at) return flush_error;
    std::set<std::thread::id> whose;
    for (size_t i = 0; i < n; ++i) {
      if (Err e = step()) return e;
      if (same_dev(f, i)) nodes[f[i]].kept_data = nodes[f[i]].data;
      whose.insert(maker[f[i]]);
    }
    for (Node& d : nodes) d.kept_names = covers && d.dir && d.dev == nodes[f[0]].dev ? d.names : d.kept_names;
    return mixed += whose.size() > 1, 0;
  }
  bool flush_covers_names(Handle) override { return covers; }
  bool start_writeback(Handle f, uint64_t at, uint64_t len) override {  // each range once, in order
    auto g = guard();
    asked[f] = at + len;
    if (early) written_back = at == written_back ? at + len : 0;
    return early;
  }
  Err rename_over(Handle d, Handle f, const char* temp, const char* final) override {
    auto g = guard();
    unflushed += nodes[f].kept_data != nodes[f].data;
    if (busy_renames > 0) return --busy_renames, rename_error;
    return step() ?: (nodes[d].names.erase(temp), nodes[d].names[final] = static_cast<int>(f), 0);
  }
  void close(Handle f) override { auto g = guard(); closed.insert(f); }
  Err remove_file(Handle d, const char* name) override { auto g = guard(); return nodes[d].names.erase(name), step(); }
  Err remove_leftover(Handle d, const char* name) override { auto g = guard(); return leftover_error ?: remove_file(d, name); }
  Err device_of(Handle h, bool, uint64_t* dev) override { auto g = guard(); return *dev = nodes[h].dev, 0; }
  Err stat(Handle d, const char* name, Stat* st) override {
    auto g = guard();
    *st = Stat{};
    if (!nodes[d].names.count(name)) return 0;
    const Node& n = nodes[nodes[d].names[name]];
    st->kind = n.dir ? Stat::Kind::dir : Stat::Kind::file;
    st->mtime = 0;  // every file carries the entry's time: the size decides
    return st->size = n.data.size(), 0;
  }
  Err random(void* buf, size_t n) override {  // no value twice in a run: a bijection of a count
    auto g = guard();
    const unsigned v = ++serial * 2654435761u;
    for (size_t i = 0; i < n; ++i) static_cast<char*>(buf)[i] = static_cast<char>(v >> (8 * (i % 4)));
    return 0;
  }
  void sleep_ms(unsigned ms) override { slept_ms += ms; }
  bool local_time_to_unix(int, int, int, int, int, int, int64_t* t) override { return *t = 0, true; }
  Err start_thread(unsigned slot, void (*fn)(void*), void* arg) override {
    return threads ? th[slot] = std::thread(fn, arg), 0 : kIo;
  }
  void join_thread(unsigned slot) override { th[slot].join(); }
  void lock() override { m.lock(); }
  void unlock() override { m.unlock(); }
  void wait() override {
    worker_waits += (guard(), made.count(std::this_thread::get_id()));
    cv.wait(m);
  }
  void notify_all() override { cv.notify_all(); }
  size_t reserve_handles(size_t want) override { return std::min(want, handles); }
  Err step() { return crash_at >= 0 && ++steps > crash_at ? kIo : 0; }
  using clock = std::chrono::steady_clock;
  std::unique_lock<std::recursive_mutex> guard() { return std::unique_lock<std::recursive_mutex>(fs); }
  static void pause(std::unique_lock<std::recursive_mutex>& g, long ms) {
    g.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    g.lock();
  }
};

// A stored archive with UTF-8 names.
std::string zip_of(const std::vector<std::pair<std::string, std::string>>& files) {
  test::ZipWriter w;
  for (auto& [name, data] : files) w.add({{"name", name}, {"data", data}, {"method", "0"}});
  return w.finish();
}

struct Outcome final : Reporter {
  int rc = 0; std::string err;
  void info(std::string_view) override {}
  void error(std::string_view l) override { err += l; }
};

Outcome unpack(CrashingHost& host, const std::string& zip, bool update = false, unsigned n = 1) {
  static Workspace ws[2];
  Workspace* crew[] = {&ws[0], &ws[1]};
  zip::MemorySource src(zip.data(), zip.size());
  ExtractOptions opt;
  opt.update = update;
  opt.quiet = 2;
  Outcome o;
  o.rc = extract(host, src, "p/q/t", opt, crew, n, o);
  return o;
}

const std::string kSmall = zip_of({{"a.txt", "alpha"}, {"d/b.txt", "bravo"}, {"d/e/c.txt", "gamma"}});

TEST(Trust, EveryCrashLeavesWholeFilesAndAnUpdateRestoresTheTree) {
  CrashingHost clean;
  ASSERT_EQ(unpack(clean, kSmall).rc, kExitOk);
  const std::vector<std::string> want = clean.tree();
  clean.covers = false, clean.dirs_flushed = 0;  // rewriting d/e/c.txt changes names in d/e alone
  ASSERT_EQ(unpack(clean, zip_of({{"d/e/c.txt", "gamma"}})).rc, kExitOk);
  EXPECT_EQ(clean.dirs_flushed, 1);
  clean.dir_flush_error = kIo;  // a directory that cannot be flushed is named by its entry
  const Outcome lost = unpack(clean, zip_of({{"d/e/c.txt", "gamma"}}));
  EXPECT_EQ(lost.rc, kExitEntries);
  EXPECT_EQ(lost.err, "ruduvizide: d/e/c.txt: cannot write the directory: error 5\n"
                      "ruduvizide: 1 entry was not unpacked\n");
  for (long at = 0, covers = 0; covers < 2; ++at) {  // names flushed with the files, or apart
    CrashingHost h;
    h.crash_at = at, h.covers = covers;
    bool finished = unpack(h, kSmall).rc == kExitOk;
    h.crash();
    EXPECT_TRUE(!finished || h.tree() == want) << "success told before all was on disk";
    for (const std::string& f : h.tree()) {  // temporaries aside, whole files only
      bool whole = std::count(want.begin(), want.end(), f) || f.find(".rdz-") != f.npos;
      EXPECT_TRUE(whole) << f << " after a crash at step " << at;
    }
    ASSERT_EQ(unpack(h, kSmall, true).rc, kExitOk);
    ASSERT_EQ(h.tree(), want) << "crash at step " << at;
    if (finished) at = -1, ++covers;
  }
}

TEST(Trust, TheFlusherPutsDataOnDiskBeforeEachRenameAndNamesBeforeTheEnd) {
  std::string big(17 << 20, 'b');  // deflated, it is written behind its worker
  for (size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
  test::ZipWriter w;
  w.add({{"name", "big"}, {"data", big}});
  for (int i = 0; i < 1000; ++i) {
    w.add({{"name", "d" + std::to_string(i % 3) + "/" + std::to_string(i)}, {"data", "x"}, {"method", "0"}});
  }
  const std::string zip = w.finish();
  // gate: 2056 handles leave each worker eight batches, so that the one with
  // the small files waits for the gated flush before it has taken them all.
  // handles 300 leave each worker two batches; space: the disk fills
  // halfway through the big file, as its writer writes it, or (16.5 MiB)
  // while its early flush is under way; fail_size: that early flush fails.
  const struct { long gate, slow_ms; size_t handles; Err err; long space; bool early; size_t fail_size; int rc; } rows[] = {
      {65, 0, 2056, 0, -1, true, 0, kExitOk}, {0, 20, 300, 0, -1, true, 0, kExitOk},
      {0, 0, 300, kIo, -1, false, 0, kExitEntries}, {0, 0, 300, kNoSpace, -1, false, 0, kExitEntries},
      {0, 0, 300, 0, 9 << 20, false, 0, kExitEntries}, {0, 0, 300, kIo, -1, true, 16 << 20, kExitEntries},
      {0, 20, 300, 0, (16 << 20) + (512 << 10), true, 0, kExitEntries},
      {0, 0, 300, 0, -1, false, 0, kExitOk}};
  for (auto& r : rows) {
    CrashingHost h;
    h.threads = true, h.gate = r.gate, h.slow_ms = r.slow_ms, h.handles = r.handles;
    h.flush_error = r.err, h.fail_at = 2, h.space = r.space, h.early = r.early, h.fail_size = r.fail_size;
    h.hold_ms = r.gate ? 0 : r.early ? 20000 : 200;  // the gate holds the flusher up
    const Outcome o = unpack(h, zip, false, 2);
    EXPECT_EQ(o.rc, r.rc) << o.err;
    EXPECT_EQ(h.unflushed, 0) << "a name given to data not on disk";
    EXPECT_EQ(h.gone, 0) << "a file flushed after it was closed";
    long made = 0;
    for (auto& [who, n] : h.made) made += n;
    EXPECT_EQ(h.made.size(), 2u);
    if (r.rc) {  // stopped, nothing half done, and said once
      EXPECT_TRUE(made < 500 || r.space > 0 || r.fail_size);
      EXPECT_EQ(o.err.find("disk is full") != o.err.npos, r.err != kIo) << o.err;
      EXPECT_TRUE((r.space < 0 && !r.fail_size) || h.find("p/q/t/big") < 0);
      continue;
    }
    EXPECT_GE(h.mixed, r.gate ? 1 : 0);
    EXPECT_GE(h.worker_waits, r.slow_ms ? 1 : 0);
    EXPECT_GE(h.written_back, r.early ? 16u << 20 : 0);
    const size_t left = h.unkept[h.find("p/q/t/big")];  // to the big file's last flush
    EXPECT_TRUE(r.gate || (r.early ? left <= 1u << 20 : left == big.size())) << left;
    EXPECT_TRUE(h.nodes[h.find("p/q/t/big")].data == big && h.behind > 0);
    const std::vector<std::string> names = h.tree();
    h.crash();  // all on disk before success was told
    EXPECT_TRUE(h.tree() == names);
    EXPECT_EQ(names.size(), 1007u);
  }
  CrashingHost few;  // five handles: one worker, with batches of one file
  few.handles = 5;
  EXPECT_EQ(unpack(few, kSmall, false, 2).rc, kExitOk);
  // Two large files: a worker each, no writer beside them. One worker, a big file and a smaller
  // one: the writer takes the big one past its first buffer, the worker writes the smaller itself.
  const size_t part = sizeof Workspace::behind_[0], parts = (big.size() - sizeof Workspace::out_ + part - 1) / part;
  for (auto [second, workers, pen_writes] : {std::tuple{big, 2u, size_t{0}}, {big.substr(0, 300 << 10), 1u, parts}}) {
    CrashingHost h;
    h.threads = true;
    test::ZipWriter w2;
    w2.add({{"name", "a"}, {"data", big}}), w2.add({{"name", "b"}, {"data", second}});
    EXPECT_EQ(unpack(h, w2.finish(), false, workers).rc, kExitOk);
    EXPECT_EQ(h.behind, static_cast<long>(pen_writes));
  }
}

TEST(Trust, OnlyWhatMayPassByItselfIsRetriedASecondARunAtMostAndNamedForWhatItIs) {
  CrashingHost ok;
  ok.busy_renames = 3;  // a scanner's moment is waited out
  EXPECT_EQ(unpack(ok, kSmall).rc, kExitOk);
  // What renames and the sweep of 120 leftovers meet; sleeps in all; "": nothing said.
  const struct { Err rename, leftover; unsigned least_ms, most_ms; const char* said; } cases[] = {
      {kBusy, 0, 126, 126, "lib.dll: cannot replace file: it is in use: a library stays locked "
                           "while a running program has it loaded; close the programs"},
      {kErrDirInTheWay, 0, 0, 0, "lib.dll: cannot replace file: a directory is in the way\n"},
      {kErrReadOnly, 0, 0, 0, "lib.dll: cannot replace file: a read-only file with other links"},
      {0, kBusy, 900, 1000, ".: 120 leftover temporaries not removed (.rdz-10000100.tmp: error 16)"},
      {0, kErrReadOnly, 0, 0, ".: 120 leftover temporaries not removed (.rdz-10000100.tmp: a read-"},
      {0, kErrLiveTemp, 0, 0, ""},
  };
  for (auto& c : cases) {
    CrashingHost h;
    h.busy_renames = c.rename ? 1000 : 0, h.rename_error = c.rename, h.leftover_error = c.leftover;
    const int t = h.add(h.add(h.add(0, "p", true), "q", true), "t", true);
    for (int i = 100; i < 220; ++i) h.add(t, (".rdz-10000" + std::to_string(i) + ".tmp").c_str(), 0);
    Outcome r = unpack(h, zip_of({{"lib.dll", "new"}}));
    EXPECT_EQ(r.rc, c.rename ? kExitEntries : kExitOk) << c.rename;
    EXPECT_TRUE(h.slept_ms >= c.least_ms && h.slept_ms <= c.most_ms) << h.slept_ms << " " << c.said;
    const size_t at = r.err.find(c.said);  // once, and only that
    EXPECT_TRUE(*c.said ? at != r.err.npos && at == r.err.rfind(c.said) : r.err.empty()) << r.err;
  }
  ok.flush_error = kIo;  // a file not known to be on disk gets no final name
  EXPECT_EQ(unpack(ok, zip_of({{"new.dll", "x"}})).rc, kExitEntries);
  EXPECT_EQ(ok.find("p/q/t/new.dll"), -1);
}

TEST(Trust, ATemporaryAnotherRunsSweepTookIsMadeAgainUnderANewName) {
  CrashingHost h;
  h.swept = 2, h.clashes = 2;  // so does one whose name another file took
  EXPECT_EQ(unpack(h, kSmall).rc, kExitOk);
  CrashingHost never;  // a name never to be had fails its entry, after 16 names
  never.swept = 1000;
  EXPECT_EQ(unpack(never, zip_of({{"a", "x"}})).rc, kExitEntries);
  EXPECT_EQ(never.serial, 17u);
  CrashingHost denied;  // refused for another reason than a clash: given up at once
  denied.create_error = kIo;
  EXPECT_EQ(unpack(denied, zip_of({{"a", "x"}})).rc, kExitEntries);
  EXPECT_EQ(denied.serial, 2u);  // the run's own number, and one name
}

TEST(Trust, AWorkerOpensOnlyTheDirectoriesThatDifferAndListsNoneItMade) {
  CrashingHost h;
  const std::string deep = "a/b/c/d/e/f/g/h/i/";  // its last two levels are deeper than kept open
  ASSERT_EQ(unpack(h, zip_of({{"bi/x", "x"}, {"bin/y", "y"}, {"bin/win32/z", "z"}, {"bin/win/w", "w"},
                              {deep + "j/k", "k"}, {deep + "j/l", "l"}, {deep + "m", "m"},
                              {"a/b/n", "n"}, {"bi/o", "o"}})).rc, kExitOk);
  EXPECT_EQ(h.opens, 16);  // bi, bin, win32, win, a to j, i again, bi again
  EXPECT_EQ(h.lists, 0);
}

TEST(Trust, AWorkspaceThatCouldNotBeHadStopsTheRunBeforeAnything) {
  CrashingHost h;
  Workspace* none = nullptr;  // what a failed allocation hands over
  zip::MemorySource src(kSmall.data(), kSmall.size());
  Outcome o;
  EXPECT_EQ(extract(h, src, "p/q/t", ExtractOptions{}, &none, 1, o), kExitInternal);
  EXPECT_EQ(h.find("p"), -1);
}

TEST(Trust, LeftoversOfEarlierRunsGoAndOtherFilesStay) {
  CrashingHost h;
  ASSERT_EQ(unpack(h, kSmall).rc, kExitOk);
  auto d = [&]() -> auto& { return h.nodes[h.find("p/q/t/d")].names; };
  d()[".rdz-0123abcd.tmp"] = d()[".rdz-0123abcd0123abcd.tmp"] = d()["own.rdz-1.tmp"] = 0;
  ASSERT_EQ(unpack(h, kSmall, true).rc, kExitOk);
  EXPECT_EQ(d().size(), 3u);  // b.txt, e/ and the user's own file
  EXPECT_TRUE(d().count("own.rdz-1.tmp"));
}

TEST(Trust, NamesATemporaryOrAnotherEntryCouldShareAreRefused) {
  const char* const pairs[][2] = {
      {"d/a.bin", "d/.rdz-00000000.tmp"}, {"d/x", "d/.RDZ-.TMP"},
      {"bin/\xc3\x84.txt", "bin/\xc3\xa4.txt"},              // Latin: Ä ä
      {"\xce\xa3\xce\xb1", "\xcf\x83\xce\x91"},              // Greek: Σα σΑ
      {"\xd0\x96/x", "\xd0\xb6/x"},                          // Cyrillic: Ж ж
      {"\xc7\x85", "\xc7\x86"},                              // Dž dž, one letter
  };
  for (auto& p : pairs) {
    CrashingHost h;
    EXPECT_EQ(unpack(h, zip_of({{p[0], "1"}, {p[1], "2"}})).rc, kExitEntries) << p[1];
    EXPECT_TRUE(h.tree().empty()) << p[1];
  }
  CrashingHost h;  // letters that only look alike stay apart
  Outcome r = unpack(h, zip_of({{"\xc3\x9f", "1"}, {"ss", "2"}, {"\xc4\xb1", "3"}}));
  EXPECT_EQ(r.rc, kExitOk) << r.err;
}

TEST(Trust, NamesAreCheckedByTheFoldersTheyHoldNotByTheDirectorysSize) {
  // 600 files 170 folders deep, each path its own: 102,600 names in a 235 KB directory.
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 600; ++i) {
    std::string path = std::to_string(i);
    for (int d = 0; d < 170; ++d) path += "/d";
    files.push_back({path + "/f", "x"});
  }
  CrashingHost h;
  EXPECT_EQ(unpack(h, zip_of(files)).err, "");
}

TEST(Trust, AnUpdateWritesMissingOlderAndDamagedFilesAndKeepsNewerOnes) {
  using K = Stat::Kind;
  constexpr int64_t t = 1000000000;
  // A file of `size` against an entry of time t and size 5.
  const struct { K kind; int64_t mtime; uint64_t size; bool dos_only; Update want; } rows[] = {
      {K::missing, 0, 0, false, Update::write},     {K::dir, t, 5, false, Update::write},
      {K::file, t - 3, 5, false, Update::write},    // older
      {K::file, t + 3, 6, false, Update::newer},    // another release's, whatever its size
      {K::file, t + 2, 5, false, Update::same},     // DOS times step by 2 s
      {K::file, t - 2, 6, false, Update::write},    // the entry's time, another size: damaged
      {K::file, t + 3600, 6, true, Update::write},  // daylight saving moved a local time
      {K::file, t - 3601, 5, true, Update::same},
      {K::file, t + 3600, 6, false, Update::newer},  // a UTC time does not move
      {K::file, t + 3603, 6, true, Update::newer},
  };
  for (auto& r : rows) {
    Stat st;
    st.kind = r.kind, st.mtime = r.mtime, st.size = r.size;
    EXPECT_EQ(judge_update(st, t, r.dos_only, 5), r.want) << r.mtime - t << " " << r.size;
  }
}

TEST(Trust, OnlyTheTemporariesOfOtherRunsAreLeftovers) {
  const std::pair<const char*, bool> names[] = {
      {".rdz-0123abcd.tmp", true},          {".rdz-0123abcd0123abcd.tmp", true},
      {".rdz-0000002a0123abcd.tmp", false},  // this run's own
      {".rdz-0123abcd.txt", false},         {"_rdz-0123abcd.tmp", false},
      {".rdz-0123ABCD.tmp", false},         {".rdz-0123abcd01.tmp", false}};
  for (auto& [name, leftover] : names) EXPECT_EQ(is_leftover(name, 0x2a), leftover) << name;
}

}  // namespace
}  // namespace rdz
