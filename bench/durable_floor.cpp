// The floor under a durable extraction: the payload's files, already in
// memory, written as the extractor writes them and nothing more. Each file
// goes under a temporary name beside its final one, gets its time, is
// flushed together with the other files of its batch, renamed into place,
// and the directories that got new names are flushed; nothing is inflated
// or checked. How close the extractor comes to this says what its own work
// costs on top of what durability costs the disk.
//
//   durable-floor TREE OUT [THREADS]   prints: seconds files bytes
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct File {
  std::string dir, name, data;  // dir relative to OUT, "" for OUT itself
};

// As the extractor batches on Linux: one syncfs for many, fsync for one.
constexpr size_t kBatch = 64, kRun = 16;

void walk(const std::string& root, const std::string& rel, std::vector<std::string>* dirs,
          std::vector<File>* files) {
  DIR* d = ::opendir((root + "/" + rel).c_str());
  if (!d) std::perror(rel.c_str()), std::exit(1);
  std::vector<std::string> below;
  while (const dirent* ent = ::readdir(d)) {
    const std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (::lstat((root + "/" + path).c_str(), &st) != 0) std::perror(path.c_str()), std::exit(1);
    if (S_ISDIR(st.st_mode)) {
      below.push_back(path);
    } else {
      std::ifstream in(root + "/" + path, std::ios::binary);
      files->push_back({rel, name, {std::istreambuf_iterator<char>(in), {}}});
    }
  }
  ::closedir(d);
  for (const std::string& b : below) {
    dirs->push_back(b);
    walk(root, b, dirs, files);
  }
}

struct Shared {
  const std::string* out;
  const std::vector<File>* files;
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
};

void fail(Shared* sh, const std::string& what) {
  std::perror(what.c_str());
  sh->failed = true;
}

void flush(Shared* sh, const std::vector<int>& fds, bool data) {
  if (fds.empty()) return;
  const int rc = fds.size() > 1 ? ::syncfs(fds[0]) : data ? ::fdatasync(fds[0]) : ::fsync(fds[0]);
  if (rc != 0) fail(sh, "flush");
}

void commit(Shared* sh, std::vector<std::pair<int, const File*>>* pending, int worker) {
  std::vector<int> fds, dirs;
  for (auto& [fd, f] : *pending) fds.push_back(fd);
  flush(sh, fds, true);
  std::set<std::string> touched;
  for (size_t i = 0; i < pending->size(); ++i) {
    const File* f = (*pending)[i].second;
    const std::string dir = *sh->out + "/" + f->dir;
    const std::string temp = dir + "/.floor-" + std::to_string(worker) + "-" + std::to_string(i);
    if (::rename(temp.c_str(), (dir + "/" + f->name).c_str()) != 0) fail(sh, temp);
    ::close((*pending)[i].first);
    touched.insert(dir);
  }
  for (const std::string& d : touched) dirs.push_back(::open(d.c_str(), O_RDONLY | O_DIRECTORY));
  flush(sh, dirs, false);
  for (int d : dirs) ::close(d);
  pending->clear();
}

void work(Shared* sh, int worker) {
  std::vector<std::pair<int, const File*>> pending;
  const std::vector<File>& files = *sh->files;
  for (size_t at; (at = sh->next.fetch_add(kRun)) < files.size() && !sh->failed;) {
    for (size_t i = at; i < at + kRun && i < files.size(); ++i) {
      const File& f = files[i];
      const std::string temp = *sh->out + "/" + f.dir + "/.floor-" + std::to_string(worker) +
                               "-" + std::to_string(pending.size());
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) return fail(sh, temp);
      if (::write(fd, f.data.data(), f.data.size()) != static_cast<ssize_t>(f.data.size())) {
        return fail(sh, temp);
      }
      const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
      ::futimens(fd, times);
      pending.push_back({fd, &f});
      if (pending.size() == kBatch) commit(sh, &pending, worker);
    }
  }
  commit(sh, &pending, worker);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: durable-floor TREE OUT [THREADS]\n");
    return 2;
  }
  const int threads = argc == 4 ? std::atoi(argv[3]) : 2;
  std::vector<std::string> dirs;
  std::vector<File> files;
  walk(argv[1], "", &dirs, &files);
  const std::string out = argv[2];

  const auto start = std::chrono::steady_clock::now();
  for (const std::string& d : dirs) {
    if (::mkdir((out + "/" + d).c_str(), 0755) != 0) std::perror(d.c_str()), std::exit(1);
  }
  Shared sh;
  sh.out = &out;
  sh.files = &files;
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work, &sh, t);
  work(&sh, 0);
  for (auto& t : pool) t.join();
  // The directories made, in their parents.
  const int root = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
  if (root < 0 || ::syncfs(root) != 0) std::perror(argv[2]), sh.failed = true;
  ::close(root);
  if (sh.failed) return 1;
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  unsigned long long bytes = 0;
  for (const File& f : files) bytes += f.data.size();
  std::printf("%.4f %zu %llu\n", secs, files.size(), bytes);
  return 0;
}
