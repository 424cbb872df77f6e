// What the extraction needs from the system it runs on: files, directories,
// threads and one lock. The program passes the real system in; tests pass a
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

// An open file as the host knows it.
using Handle = intptr_t;
constexpr Handle kNoHandle = -1;

struct Stat {
  enum class Kind { missing, file, dir, other };
  Kind kind = Kind::missing;
  int64_t mtime = 0;  // seconds since 1970 UTC, rounded down
};

class Host {
 public:
  // Writes a short human-readable reason for `e` into `buf` (always terminated).
  virtual void error_text(Err e, char* buf, size_t cap) = 0;
  // True when `e` says a path component does not exist.
  virtual bool is_missing(Err e) = 0;

  // Creates `path` for writing, failing if anything exists under that name.
  virtual Err create_new(const char* path, Handle* f) = 0;
  virtual Err write_all(Handle f, const void* buf, size_t n) = 0;
  // Sets the modification time (seconds since 1970 UTC) through the open handle.
  virtual Err set_mtime(Handle f, int64_t unix_seconds) = 0;
  // Closes and reports what closing said: a full disk can show up only here.
  virtual Err close(Handle f) = 0;
  virtual Err remove_file(const char* path) = 0;
  // Renames `from` to `to`, replacing a file that exists under `to`.
  virtual Err rename_replace(const char* from, const char* to) = 0;
  // Creates one directory; success also when a directory is already there.
  virtual Err make_dir(const char* path) = 0;
  // A missing path is not an error: it reports Kind::missing.
  virtual Err stat(const char* path, Stat* st) = 0;

  // Converts a broken-down local time to seconds since 1970 UTC; false when
  // the fields do not name a time the system can represent.
  virtual bool local_time_to_unix(int year, int month, int day, int hour, int minute,
                                  int second, int64_t* out) = 0;

  // Runs fn(arg) on thread number `slot` (below kMostThreads); fails, leaving
  // nothing running, when the system has no thread to give.
  static constexpr unsigned kMostThreads = 8;
  virtual Err start_thread(unsigned slot, void (*fn)(void*), void* arg) = 0;
  virtual void join_thread(unsigned slot) = 0;
  // One lock, for what the threads share.
  virtual void lock() = 0;
  virtual void unlock() = 0;

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
