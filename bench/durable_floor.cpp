// The floor under a durable extraction: the payload's files written as the
// extractor writes them on Linux and nothing more. Workers write each file
// without a name (O_TMPFILE) in its folder and give it its time; one flusher
// commits their batches in rounds: one syncfs for the round's file data
// (which also covers the directories linked into in the round before),
// then the round's links under the final names, and at the end one last
// syncfs for the directories. Nothing is read, inflated or checked: the bytes come from one
// buffer, since the disk cares about how many there are, not what they say.
// How close the extractor comes to this says what its own work costs on top
// of what durability costs the disk.
//
// LIST names the payload's entries in archive order, one a line: the size,
// a tab, the name ("/" between folders, a trailing "/" for a folder). The
// files are taken in the extractor's order: the largest first, then the
// archive's, in runs of neighbours.
//
//   durable-floor LIST OUT [THREADS]   prints: files bytes
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct File {
  std::string path;  // relative to OUT
  uint64_t size;
};

// What the extractor does, so that the floor pays for the same rounds.
constexpr size_t kFirst = 16;                   // largest entries taken first ...
constexpr uint64_t kFirstMin = 1 << 20;         // ... of at least this size
constexpr uint64_t kRun = 16;                   // neighbours claimed at a time
constexpr size_t kBatchFiles = 64;              // a batch is handed over at this many files
constexpr uint64_t kBatchBytes = 16 << 20;      // ... or this many bytes
constexpr size_t kRing = 16;                    // batches a worker may have out
constexpr uint64_t kWriteback = 16 << 20;       // large files: writeback started this often
constexpr size_t kChunk = 1 << 20;              // bytes per write

[[noreturn]] void die(const std::string& what) {
  std::perror(what.c_str());
  std::_Exit(1);
}

struct Batch {
  int worker;
  std::vector<std::pair<int, std::string>> renames;  // file, final name
};

struct Shared {
  std::string out;
  std::vector<File> files;
  std::vector<size_t> first;  // indices into files, taken before the rest
  std::vector<char> is_first;
  std::atomic<size_t> next_first{0};
  std::atomic<uint64_t> next{0};
  unsigned workers = 2;
  std::vector<char> pattern = std::vector<char>(kChunk);

  std::mutex m;
  std::condition_variable cv;
  std::deque<Batch> queued;
  std::vector<size_t> out_now;  // batches each worker has handed over and not got back
  unsigned running = 0;
  unsigned waiting = 0;  // workers with all their batches out
};

// As the extractor claims: a big entry while any is left, else the next
// entry of its run, a run being shorter towards the end.
bool claim(Shared* sh, uint64_t* run_next, uint64_t* run_end, size_t* index) {
  if (size_t k = sh->next_first.fetch_add(1); k < sh->first.size()) {
    *index = sh->first[k];
    return true;
  }
  const uint64_t entries = sh->files.size();
  for (;;) {
    if (*run_next == *run_end) {
      uint64_t at = sh->next.load(), n;
      do {
        if (at >= entries) return false;
        n = std::clamp<uint64_t>((entries - at) / (4 * sh->workers), 1, kRun);
      } while (!sh->next.compare_exchange_weak(at, at + n));
      *run_next = at;
      *run_end = at + n;
    }
    const size_t i = (*run_next)++;
    if (!sh->is_first[i]) {
      *index = i;
      return true;
    }
  }
}

int write_file(const Shared& sh, const std::string& dir, uint64_t size) {
  const int fd = ::open(dir.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644);
  if (fd < 0) die(dir);
  for (uint64_t done = 0, started = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, kChunk));
    if (::write(fd, sh.pattern.data(), n) != static_cast<ssize_t>(n)) die(dir);
    done += n;
    if (done - started >= kWriteback) {
      ::sync_file_range(fd, static_cast<off_t>(started), static_cast<off_t>(done - started),
                        SYNC_FILE_RANGE_WRITE);
      started = done;
    }
  }
  const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
  if (::futimens(fd, times) != 0) die(dir);
  return fd;
}

void hand_over(Shared* sh, Batch* b) {
  std::unique_lock<std::mutex> lock(sh->m);
  if (sh->out_now[b->worker] == kRing) {
    ++sh->waiting;
    sh->cv.notify_all();
    sh->cv.wait(lock, [&] { return sh->out_now[b->worker] < kRing; });
    --sh->waiting;
  }
  ++sh->out_now[b->worker];
  sh->queued.push_back(std::move(*b));
  b->renames.clear();
  sh->cv.notify_all();
}

void work(Shared* sh, int worker) {
  Batch batch{worker, {}};
  uint64_t bytes = 0, run_next = 0, run_end = 0;
  for (size_t i; claim(sh, &run_next, &run_end, &i);) {
    const File& f = sh->files[i];
    const size_t slash = f.path.rfind('/');
    const std::string dir = sh->out + "/" + (slash == std::string::npos ? "" : f.path.substr(0, slash + 1));
    batch.renames.emplace_back(write_file(*sh, dir, f.size), sh->out + "/" + f.path);
    bytes += f.size;
    if (batch.renames.size() == kBatchFiles || bytes >= kBatchBytes) {
      hand_over(sh, &batch);
      bytes = 0;
    }
  }
  if (!batch.renames.empty()) hand_over(sh, &batch);
  std::lock_guard<std::mutex> lock(sh->m);
  --sh->running;
  sh->cv.notify_all();
}

// Group commit: each round one flush for everything queued, then its
// renames; a batch goes back to its worker once the flush after its renames
// has run. A worker waiting for its batches gets a round of its own, which
// flushes only the directories.
void flush_rounds(Shared* sh, int root) {
  std::vector<Batch> round, renamed;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(sh->m);
      sh->cv.wait(lock, [&] {
        return !sh->queued.empty() || sh->running == 0 || (sh->waiting && !renamed.empty());
      });
      if (sh->queued.empty() && sh->running == 0) break;
      round.assign(std::make_move_iterator(sh->queued.begin()),
                   std::make_move_iterator(sh->queued.end()));
      sh->queued.clear();
    }
    if (::syncfs(root) != 0) die("syncfs");
    {
      std::lock_guard<std::mutex> lock(sh->m);
      for (const Batch& b : renamed) --sh->out_now[b.worker];
      sh->cv.notify_all();
    }
    for (const Batch& b : round) {
      for (const auto& [fd, final_name] : b.renames) {
        // By the descriptor, as the extractor links where the kernel lets it.
        if (::linkat(fd, "", AT_FDCWD, final_name.c_str(), AT_EMPTY_PATH) != 0) {
          const std::string path = "/proc/self/fd/" + std::to_string(fd);
          if (::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, final_name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            die(final_name);
          }
        }
        if (::close(fd) != 0) die(final_name);
      }
    }
    renamed.swap(round);
    round.clear();
  }
  // The last round's directories, and the directories made.
  if (::syncfs(root) != 0) die("syncfs");
}

void read_list(const char* list, Shared* sh, std::set<std::string>* dirs) {
  std::ifstream in(list);
  if (!in) die(list);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string name = line.substr(tab + 1);
    for (size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1)) {
      dirs->insert(name.substr(0, at));
    }
    if (!name.empty() && name.back() != '/') {
      sh->files.push_back({name, std::strtoull(line.c_str(), nullptr, 10)});
    }
  }
}

// The extractor's first entries: the 16 largest of at least 1 MiB, taken in
// archive order; only when more than one worker runs.
void choose_first(Shared* sh) {
  sh->is_first.assign(sh->files.size(), 0);
  if (sh->workers < 2) return;
  std::vector<size_t> big;
  for (size_t i = 0; i < sh->files.size(); ++i) {
    if (sh->files[i].size >= kFirstMin) big.push_back(i);
  }
  std::stable_sort(big.begin(), big.end(),
                   [&](size_t a, size_t b) { return sh->files[a].size > sh->files[b].size; });
  big.resize(std::min(big.size(), kFirst));
  std::sort(big.begin(), big.end());
  for (size_t i : big) sh->is_first[i] = 1;
  sh->first = big;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: durable-floor LIST OUT [THREADS]\n");
    return 2;
  }
  Shared sh;
  sh.out = argv[2];
  sh.workers = argc == 4 ? static_cast<unsigned>(std::atoi(argv[3])) : 2;
  if (sh.workers < 1 || sh.workers > 64) {
    std::fprintf(stderr, "durable-floor: THREADS must be 1 to 64\n");
    return 2;
  }
  // As the extractor: every file of every batch out stays open until linked.
  rlimit rl;
  if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &rl);
  }
  std::set<std::string> dirs;  // parents sort before their children
  read_list(argv[1], &sh, &dirs);
  choose_first(&sh);
  for (size_t i = 0; i < kChunk; ++i) sh.pattern[i] = static_cast<char>(i * 131 + (i >> 9));
  for (const std::string& d : dirs) {
    if (::mkdir((sh.out + "/" + d).c_str(), 0755) != 0) die(d);
  }
  const int root = ::open(sh.out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) die(sh.out);
  sh.out_now.assign(sh.workers, 0);
  sh.running = sh.workers;
  std::thread flusher(flush_rounds, &sh, root);
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < sh.workers; ++t) pool.emplace_back(work, &sh, static_cast<int>(t));
  work(&sh, 0);
  for (auto& t : pool) t.join();
  flusher.join();
  uint64_t bytes = 0;
  for (const File& f : sh.files) bytes += f.size;
  std::printf("%zu %llu\n", sh.files.size(), static_cast<unsigned long long>(bytes));
  return 0;
}
