#include "system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace rdz::sys {

namespace {

int fd_of(const File& f) { return static_cast<int>(f.native()); }
int fd_of(Handle h) { return static_cast<int>(h); }

// strerror_r comes in two kinds: GNU's returns the text, POSIX's fills the
// buffer and returns a status.
[[maybe_unused]] const char* message_of(const char* gnu, const char*) { return gnu; }
[[maybe_unused]] const char* message_of(int posix, const char* buf) {
  return posix == 0 ? buf : "unknown error";
}

}  // namespace

void error_text(Err e, char* buf, size_t cap) {
  if (cap == 0) return;
  char tmp[256];
  const char* text;
  text = own_error_text(e);
  // Workers report at the same time, and strerror may share one buffer.
  if (!text) text = message_of(::strerror_r(static_cast<int>(e), tmp, sizeof tmp), tmp);
  size_t n = std::strlen(text);
  if (n >= cap) n = cap - 1;
  std::memcpy(buf, text, n);
  buf[n] = '\0';
}

File::~File() { reset(kNoHandle); }

void File::reset(intptr_t h) {
  if (h_ != kNoHandle) ::close(static_cast<int>(h_));
  h_ = h;
}

static Err open_and_size(const char* path, File& f, uint64_t* size) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd == -1) return errno;
  f.reset(fd);
  struct ::stat st;
  if (::fstat(fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kErrEof;
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

Err open_self(File& f, uint64_t* size) {
  return open_and_size("/proc/self/exe", f, size);
}

Err open_read(const char* path, File& f, uint64_t* size) {
  return open_and_size(path, f, size);
}

Err read_at(const File& f, uint64_t offset, void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    ssize_t got = ::pread(fd_of(f), p, n, static_cast<off_t>(offset));
    if (got == -1) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return kErrEof;
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return 0;
}

// Locks the whole file for as long as this open file description lives, so
// that another run, and another thread of this one, sees it held (OFD lock).
static Err lock_whole(int fd, short type) {
  struct ::flock l {};
  l.l_type = type;
  l.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &l) == 0) return 0;
  return errno == EAGAIN || errno == EACCES ? kErrLiveTemp : errno;
}

// A file made without a name (O_TMPFILE) gets one only when it is linked in
// place: one change to its directory instead of a creation and a rename,
// and a killed run leaves nothing behind. The mark rides above the
// descriptor's bits.
constexpr Handle kNameless = Handle{1} << 32;

static bool is_nameless(Handle f) { return f != kNoHandle && (f & kNameless) != 0; }

Err NativeHost::create_new(Handle dir, const char* name, Handle* f) {
  if (nameless_) {
    const int fd = ::openat(fd_of(dir), ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd != -1) {
      *f = fd | kNameless;
      return 0;
    }
    // A file system that cannot make one (EOPNOTSUPP, or EISDIR and EINVAL
    // from older kernels) gets named temporaries; any other failure, full
    // disk or denied access, comes back from the named one just the same.
  }
  int fd = ::openat(fd_of(dir), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd == -1) return errno;
  // Held while it lives, so that no other run's sweep takes it for a
  // leftover. A sweep that came between the creation and the lock holds it
  // or has unlinked it: that name is lost, and ENOENT asks for another. A
  // file system that keeps no locks leaves the temporary unheld.
  struct ::stat st;
  const Err e = lock_whole(fd, F_WRLCK);
  if (e == kErrLiveTemp || (e == 0 && (::fstat(fd, &st) != 0 || st.st_nlink == 0))) {
    ::close(fd);
    return ENOENT;
  }
  *f = fd;
  return 0;
}

Err NativeHost::write_all(Handle f, const void* buf, size_t n) {
  auto* p = static_cast<const unsigned char*>(buf);
  while (n > 0) {
    ssize_t put = ::write(fd_of(f), p, n);
    if (put == -1) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += put;
    n -= static_cast<size_t>(put);
  }
  return 0;
}

Err NativeHost::set_mtime(Handle f, int64_t unix_seconds) {
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = static_cast<time_t>(unix_seconds);
  ts[1].tv_nsec = 0;
  return ::futimens(fd_of(f), ts) == 0 ? 0 : errno;
}

void NativeHost::close(Handle f) { ::close(fd_of(f)); }

Err NativeHost::remove_file(Handle dir, const char* name) {
  return ::unlinkat(fd_of(dir), name, 0) == 0 ? 0 : errno;
}

// Takes `name` in `dir`, open as `fd`, for a leftover only if it is a regular
// file that no run holds, and the name still leads to it once it is locked.
static Err claim_leftover(int dir, const char* name, int fd) {
  struct ::stat held, named;
  if (::fstat(fd, &held) != 0) return errno;
  if (!S_ISREG(held.st_mode)) return ENOENT;
  if (Err e = lock_whole(fd, F_RDLCK)) return e;
  if (::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  return named.st_dev == held.st_dev && named.st_ino == held.st_ino ? 0 : ENOENT;
}

Err NativeHost::remove_leftover(Handle dir, const char* name) {
  // Only a regular file can be a temporary. Anything else under such a name
  // is not even opened (a FIFO would block the open, a device could act on
  // it); one swapped in meanwhile is opened without blocking, then skipped.
  // Such a thing stays, unsaid, and so does a name that vanished or moved
  // on meanwhile: no killed run's file is left there to remove.
  struct ::stat st;
  if (::fstatat(fd_of(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISREG(st.st_mode)) return 0;
  const int fd = ::openat(fd_of(dir), name,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd == -1) return errno == ENOENT ? 0 : errno;
  Err e = claim_leftover(fd_of(dir), name, fd);
  if (e == 0 && ::unlinkat(fd_of(dir), name, 0) != 0) e = errno;
  ::close(fd);
  return e == ENOENT ? 0 : e;
}

Err NativeHost::device_of(Handle h, bool, uint64_t* dev) {
  struct ::stat st;
  if (::fstat(fd_of(h), &st) != 0) return errno;
  *dev = static_cast<uint64_t>(st.st_dev);
  return 0;
}

// By the descriptor itself where the kernel lets this process (older ones
// only with the right to search any directory): walking the /proc path
// costs a third of a link, and the flusher links every file by itself. A
// directory removed meanwhile answers ENOENT too; the /proc path then says
// it again.
static int link_nameless(int fd, int dir, const char* name) {
  if (::linkat(fd, "", dir, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return -1;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, path, dir, name, AT_SYMLINK_FOLLOW);
}

Err NativeHost::rename_over(Handle dir, Handle f, const char* temp, const char* final) {
  if (is_nameless(f)) {
    if (link_nameless(fd_of(f), fd_of(dir), final) == 0) return 0;
    if (errno != EEXIST) return errno;
    // Replacing a file: under the temporary's name first, then over it.
    if (link_nameless(fd_of(f), fd_of(dir), temp) != 0) return errno;
  }
  return ::renameat(fd_of(dir), temp, fd_of(dir), final) == 0 ? 0 : errno;
}

Err NativeHost::make_dir(const char* path, bool* created) {
  *created = ::mkdir(path, 0777) == 0;
  if (*created) return 0;
  Err e = errno;
  if (e == EEXIST) {
    struct ::stat st;
    if (::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return kErrNotDir;
  }
  return e;
}

Err NativeHost::open_target(const char* path, Handle* dir) {
  int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) return errno;
  *dir = fd;
  return 0;
}

Err NativeHost::open_dir(Handle dir, const char* name, bool create, Handle* out, bool* created) {
  // A run enters each of its directories many times and makes it once: the
  // open comes first.
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(fd_of(dir), name, kFlags);
  *created = false;
  if (fd == -1 && errno == ENOENT && create) {
    *created = ::mkdirat(fd_of(dir), name, 0777) == 0;
    if (!*created && errno != EEXIST) return errno;
    fd = ::openat(fd_of(dir), name, kFlags);
  }
  if (fd != -1) {
    *out = fd;
    return 0;
  }
  Err e = errno;
  struct ::stat st;
  // O_DIRECTORY is weighed before O_NOFOLLOW: a link, to a directory or
  // not, fails as ENOTDIR, never ELOOP.
  if (e == ENOTDIR) {
    if (::fstatat(fd_of(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return kErrLink;
    }
    return kErrNotDir;
  }
  return e;
}

void NativeHost::close_dir(Handle dir) { ::close(fd_of(dir)); }

void NativeHost::list_dir(Handle dir, void (*fn)(void* ctx, const char* name), void* ctx) {
  int fd = ::openat(fd_of(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) return;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return;
  }
  while (const struct dirent* ent = ::readdir(d)) fn(ctx, ent->d_name);
  ::closedir(d);
}

// syncfs is a request the kernel hands to the file system, and only some
// put every file's data and every name on the disk with it: FUSE (sshfs, a
// Windows volume mounted through a user-space driver) and network file
// systems never see it, and it returns 0 all the same. So a batch is
// trusted to it only on these local ones; an unknown type costs a flush
// per file, never a file lost.
static bool syncfs_reaches_storage(int fd) {
  // One that cannot be asked keeps type 0, which is none of these.
  struct ::statfs fs {};
  ::fstatfs(fd, &fs);
  switch (static_cast<uint32_t>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
      return true;
    default:
      return false;
  }
}

// Where the kernel's syncfs reaches the disk, a batch of files (even of one:
// the same call then covers the names made there too) or of directories
// costs one journal commit; elsewhere each is flushed, once all were
// written, so that the disk has had them all to write back meanwhile.
static Err flush_all(const Handle* h, size_t n, bool data_only) {
  if (n == 0) return 0;
  if ((n > 1 || data_only) && syncfs_reaches_storage(fd_of(h[0]))) {
    return ::syncfs(fd_of(h[0])) == 0 ? 0 : errno;
  }
  for (size_t i = 0; i < n; ++i) {
    if ((data_only ? ::fdatasync(fd_of(h[i])) : ::fsync(fd_of(h[i]))) != 0) return errno;
  }
  return 0;
}

Err NativeHost::flush_dirs(const Handle* dirs, size_t n) {
  return flush_ ? flush_all(dirs, n, false) : 0;
}

Err NativeHost::flush_files(const Handle* f, size_t n) {
  return flush_ ? flush_all(f, n, true) : 0;
}

// flush_files flushes the whole file system there, names and all.
bool NativeHost::flush_covers_names(Handle h) { return syncfs_reaches_storage(fd_of(h)); }

bool NativeHost::start_writeback(Handle f, uint64_t offset, uint64_t len) {
  return flush_ && ::sync_file_range(fd_of(f), static_cast<off_t>(offset),
                                     static_cast<off_t>(len), SYNC_FILE_RANGE_WRITE) == 0;
}

size_t NativeHost::reserve_handles(size_t want) {
  // The soft limit is a default, not the user's choice: take what the hard
  // one allows.
  struct rlimit rl;
  if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return want;
  if (rl.rlim_cur < rl.rlim_max) {
    rlim_t soft = rl.rlim_cur;
    rl.rlim_cur = rl.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &rl) != 0) rl.rlim_cur = soft;
  }
  // Descriptors are handed out lowest first: this one is where the workers'
  // start.
  const int low = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (low == -1) return 0;
  const rlim_t room = rl.rlim_cur > static_cast<rlim_t>(low) ? rl.rlim_cur - low : 0;
  const size_t got = static_cast<size_t>(std::min<rlim_t>(room, want));
  // Linux grows a process's descriptor table when a descriptor past its end
  // is opened, and, once threads share it, stalls them all meanwhile: grow it
  // now, to the highest the workers will need.
  if (got > 1) {
    const int high = ::dup2(low, low + static_cast<int>(got) - 1);
    if (high != -1) ::close(high);
  }
  ::close(low);
  return got;
}
Err NativeHost::stat(Handle dir, const char* name, Stat* out) {
  struct ::stat st;
  if (::fstatat(fd_of(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      *out = Stat{};
      return 0;
    }
    return errno;
  }
  if (S_ISREG(st.st_mode)) out->kind = Stat::Kind::file;
  else if (S_ISDIR(st.st_mode)) out->kind = Stat::Kind::dir;
  else out->kind = Stat::Kind::other;
  out->mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  out->size = static_cast<uint64_t>(st.st_size);
  return 0;
}

ErrKind NativeHost::kind_of(Err e) {
  switch (e) {
    case ENOENT: return ErrKind::missing;
    case ENOSPC:
    case EDQUOT: return ErrKind::no_space;
    case EBUSY:
    case ETXTBSY: return ErrKind::busy;
    default: return ErrKind::other;
  }
}

ComponentLimit NativeHost::component_limit() { return {NAME_MAX, ComponentLimit::Unit::byte}; }

Err NativeHost::random(void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    ssize_t got = ::getrandom(p, n, 0);
    if (got == -1) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return 0;
}

void NativeHost::sleep_ms(unsigned ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
  // A wait cut short by a signal only brings the next try sooner.
  ::nanosleep(&ts, nullptr);
}

bool bench_without_flush() {
  const char* v = ::getenv("RUDUVIZIDE_BENCH_NO_FLUSH");
  return v && *v == '1';
}

bool NativeHost::local_time_to_unix(int year, int month, int day, int hour, int minute,
                        int second, int64_t* out) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  time_t t = ::mktime(&tm);
  if (t == static_cast<time_t>(-1)) return false;
  *out = static_cast<int64_t>(t);
  return true;
}

unsigned processor_count() {
  // The affinity mask, not the machine: a container or `taskset` may give
  // this process fewer processors than the system has.
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1;
}

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8);

static_assert(sizeof(pthread_cond_t) <= 64 && alignof(pthread_cond_t) <= 8);

NativeHost::NativeHost(bool flush) : flush_(flush) {
  nameless_ = ::access("/proc/self/fd", X_OK) == 0;
  new (mutex_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
  new (cond_) pthread_cond_t(PTHREAD_COND_INITIALIZER);
}

NativeHost::~NativeHost() {
  for (unsigned i = 0; i < kMostThreads; ++i) join_thread(i);
  ::pthread_cond_destroy(reinterpret_cast<pthread_cond_t*>(cond_));
  ::pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(mutex_));
}

// A default mutex fails only when misused, which these few callers do not do.
void NativeHost::lock() { ::pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(mutex_)); }
void NativeHost::unlock() { ::pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(mutex_)); }

void NativeHost::wait() {
  ::pthread_cond_wait(reinterpret_cast<pthread_cond_t*>(cond_),
                      reinterpret_cast<pthread_mutex_t*>(mutex_));
}

void NativeHost::notify_all() { ::pthread_cond_broadcast(reinterpret_cast<pthread_cond_t*>(cond_)); }

static_assert(sizeof(pthread_t) <= sizeof(intptr_t));

void* NativeHost::enter(void* self) {
  auto* t = static_cast<Thread*>(self);
  t->fn(t->arg);
  return nullptr;
}

Err NativeHost::start_thread(unsigned slot, void (*fn)(void*), void* arg) {
  if (slot >= kMostThreads || threads_[slot].running) return EBUSY;
  Thread& t = threads_[slot];
  t.fn = fn;
  t.arg = arg;
  pthread_t id;
  int e = ::pthread_create(&id, nullptr, &NativeHost::enter, &t);
  if (e != 0) return e;
  t.h = 0;
  std::memcpy(&t.h, &id, sizeof id);
  t.running = true;
  return 0;
}

void NativeHost::join_thread(unsigned slot) {
  if (slot >= kMostThreads || !threads_[slot].running) return;
  pthread_t id;
  std::memcpy(&id, &threads_[slot].h, sizeof id);
  ::pthread_join(id, nullptr);
  threads_[slot].running = false;
}

static void write_fd(int fd, std::string_view text) {
  const char* p = text.data();
  size_t n = text.size();
  while (n > 0) {
    ssize_t put = ::write(fd, p, n);
    if (put == -1) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report a failing standard stream
    }
    p += put;
    n -= static_cast<size_t>(put);
  }
}

// SIGPIPE would end the run with temporaries left and files missing; EPIPE
// from the write is ignored like any other failing stream.
void keep_going_on_closed_pipes() { ::signal(SIGPIPE, SIG_IGN); }

void write_stdout(std::string_view text) { write_fd(1, text); }
void write_stderr(std::string_view text) { write_fd(2, text); }

bool raw_command_line(std::u16string_view*) { return false; }

}  // namespace rdz::sys
