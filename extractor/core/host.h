// What the extraction needs from the system it runs on: files, directories,
// randomness, time, threads and one lock. The program passes the real system in; tests pass a
// file layer of their own. Nothing in core/ calls the system any other way.
//
// Paths are UTF-8 with '/' (and, on Windows, '\') separators.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rdz {

#ifdef _WIN32
constexpr bool kBackslashIsSeparator = true;
#else
constexpr bool kBackslashIsSeparator = false;
#endif

// Longest path, in UTF-8 bytes without the terminating NUL, that the
// extractor builds. Entry names and the target directory are checked against
// it before the host sees them.
constexpr size_t kMaxPath = 4096;

// A native error code (errno, or GetLastError on Windows); 0 is success.
// Negative values are the extractor's own conditions.
using Err = long;
constexpr Err kErrEof = -1;        // file ended before the bytes asked for
constexpr Err kErrNotDir = -2;     // a non-directory is where a directory must be
constexpr Err kErrPathTooLong = -3;
constexpr Err kErrBadPath = -4;    // cannot be converted to a native path

// An open file or directory as the host knows it.
using Handle = intptr_t;
constexpr Handle kNoHandle = -1;

constexpr Err kErrLink = -5;       // a link (or reparse point) where a directory must be
constexpr Err kErrDirInTheWay = -6;  // a directory stands where a file must go
// A read-only file this run may not replace or remove: it has other links,
// so its attributes are not this run's to change, or the system refuses.
constexpr Err kErrReadOnly = -7;
// The name reaches a file or directory whose long name differs: a Windows
// short (8.3) alias of another name.
constexpr Err kErrShortName = -8;
constexpr Err kErrLiveTemp = -9;   // a temporary that a running extraction holds

// The words for the extractor's own conditions; nullptr for a system code.
inline const char* own_error_text(Err e) {
  switch (e) {
    case kErrEof: return "unexpected end of file";
    case kErrNotDir: return "not a directory";
    case kErrPathTooLong: return "path too long";
    case kErrBadPath: return "path cannot be represented";
    case kErrLink: return "a link, which is not followed";
    case kErrDirInTheWay: return "a directory is in the way";
    case kErrReadOnly: return "a read-only file with other links, which is not changed";
    case kErrShortName: return "a short name of another file or directory";
    case kErrLiveTemp: return "held by a running extraction";
    default: return nullptr;
  }
}

// What the extraction must tell apart among the host's errors.
enum class ErrKind {
  other,
  missing,   // a path component does not exist
  no_space,  // the disk (or the user's quota) is full
  busy,      // in use for a moment, or for as long as a program holds it
};

// The most one path component may hold where the files go, in the system's
// own units: Linux counts a name's UTF-8 bytes, Windows its UTF-16 units.
struct ComponentLimit {
  enum class Unit { utf16, byte };
  size_t most = 255;
  Unit unit = Unit::utf16;
};

struct Stat {
  enum class Kind { missing, file, dir, other };
  Kind kind = Kind::missing;
  int64_t mtime = 0;  // seconds since 1970 UTC, rounded down
  uint64_t size = 0;
};

// Every name below the target is resolved relative to a directory the host
// holds open, one component at a time, and no link there is followed.
class Host {
 public:
  // Writes a short human-readable reason for `e` into `buf` (always terminated).
  virtual void error_text(Err e, char* buf, size_t cap) = 0;
  virtual ErrKind kind_of(Err e) = 0;

  // Creates one directory by path; success also when a directory is already
  // there, and *created tells which. For the target and its parents only:
  // links there are the user's.
  virtual Err make_dir(const char* path, bool* created) = 0;
  // Opens the target directory, which exists.
  virtual Err open_target(const char* path, Handle* dir) = 0;
  // Opens the directory `name` (one component) in `dir`, making it first
  // when `create`; kErrLink when it is a link, kErrNotDir when a file.
  // *created tells whether this call made it.
  virtual Err open_dir(Handle dir, const char* name, bool create, Handle* out,
                       bool* created) = 0;
  // Nothing is written through a directory's handle, so closing it cannot
  // lose anything: its flush is what tells.
  virtual void close_dir(Handle dir) = 0;
  // Calls fn(ctx, name) for each name in `dir`. A directory that cannot be
  // listed is not swept: its leftovers, if any, cost disk space, never a file.
  virtual void list_dir(Handle dir, void (*fn)(void* ctx, const char* name), void* ctx) = 0;
  // Puts the names made in the `n` directories, all on one file system
  // (device_of), on disk.
  virtual Err flush_dirs(const Handle* dirs, size_t n) = 0;

  // Creates `name` in `dir` for writing, failing if anything is there, and
  // holds it against remove_leftover until closed; fails as missing when
  // another run's sweep took the name first.
  virtual Err create_new(Handle dir, const char* name, Handle* f) = 0;
  virtual Err write_all(Handle f, const void* buf, size_t n) = 0;
  // Sets the modification time (seconds since 1970 UTC) through the open handle.
  virtual Err set_mtime(Handle f, int64_t unix_seconds) = 0;
  // Puts the data of the `n` files, all on one file system (device_of), on
  // disk; the first failure is returned.
  virtual Err flush_files(const Handle* f, size_t n) = 0;
  // Whether flush_files on the file system of the file or directory `h`
  // puts every name made there on disk too (one flush of the whole file
  // system), so that no directory there needs a flush of its own.
  virtual bool flush_covers_names(Handle h) = 0;
  // Asks the system to start writing `len` bytes of `f` from `offset` to the
  // disk now, without waiting: a large file's flush then finds little left
  // to do. A hint; nothing depends on it. Whether it was taken: then `f`
  // may also be flushed on one thread while another writes to it, and the
  // writes go on meanwhile.
  virtual bool start_writeback(Handle f, uint64_t offset, uint64_t len) = 0;
  // Gives the file `f`, created as `temp` in `dir`, the name `final`
  // there, replacing a file of that name.
  virtual Err rename_over(Handle dir, Handle f, const char* temp, const char* final) = 0;
  // Closes a file whose data is on disk already, or that is being thrown
  // away: nothing closing could say would change what becomes of it.
  virtual void close(Handle f) = 0;
  virtual Err remove_file(Handle dir, const char* name) = 0;
  // Removes `name` in `dir`, a temporary that a killed run left behind,
  // unless a running extraction still holds it (kErrLiveTemp). Never waits,
  // and never follows a link.
  virtual Err remove_leftover(Handle dir, const char* name) = 0;
  // The file system the file or directory (`is_dir`) `h` lives on, as a
  // number that differs between file systems: flushes are grouped by it.
  virtual Err device_of(Handle h, bool is_dir, uint64_t* dev) = 0;
  // A missing name is not an error: it reports Kind::missing; a link
  // reports Kind::other.
  virtual Err stat(Handle dir, const char* name, Stat* st) = 0;

  // Checked for every name before anything is written, so that no name
  // fails for its length once others are in place. Every entry is held to
  // Windows' limit anyway, which is what a host that says nothing else has.
  virtual ComponentLimit component_limit() { return {}; }

  // Bytes no one can predict, straight from the system.
  virtual Err random(void* buf, size_t n) = 0;
  virtual void sleep_ms(unsigned ms) = 0;

  // Converts a broken-down local time to seconds since 1970 UTC; false when
  // the fields do not name a time the system can represent.
  virtual bool local_time_to_unix(int year, int month, int day, int hour, int minute,
                                  int second, int64_t* out) = 0;

  // Runs fn(arg) on thread number `slot` (below kMostThreads); fails, leaving
  // nothing running, when the system has no thread to give.
  static constexpr unsigned kMostThreads = 16;
  virtual Err start_thread(unsigned slot, void (*fn)(void*), void* arg) = 0;
  virtual void join_thread(unsigned slot) = 0;
  // One lock, for what the threads share.
  virtual void lock() = 0;
  virtual void unlock() = 0;
  // With the lock held: gives it up until notify_all is called, then takes
  // it again. May return early; callers check what they wait for.
  virtual void wait() = 0;
  virtual void notify_all() = 0;
  // Makes room for `want` more open handles before the threads start, so
  // that opening files later never has to grow what holds them; returns how
  // many more this process may hold open, at most `want`.
  virtual size_t reserve_handles(size_t want) = 0;

 protected:
  ~Host() = default;
};

class HostLock {
 public:
  explicit HostLock(Host& h) : h_(h) { h_.lock(); }
  ~HostLock() { h_.unlock(); }
  HostLock(const HostLock&) = delete;
  HostLock& operator=(const HostLock&) = delete;

 private:
  Host& h_;
};

}  // namespace rdz
