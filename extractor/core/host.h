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

// What the extraction must tell apart among the host's errors.
enum class ErrKind {
  other,
  missing,   // a path component does not exist
  no_space,  // the disk (or the user's quota) is full
  busy,      // in use for a moment, or for as long as a program holds it
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
  // there. For the target and its parents only: links there are the user's.
  virtual Err make_dir(const char* path) = 0;
  // Opens the target directory, which exists.
  virtual Err open_target(const char* path, Handle* dir) = 0;
  // Opens the directory `name` (one component) in `dir`, making it first
  // when `create`; kErrLink when it is a link, kErrNotDir when a file.
  // *created tells whether this call made it.
  virtual Err open_dir(Handle dir, const char* name, bool create, Handle* out,
                       bool* created) = 0;
  virtual Err close_dir(Handle dir) = 0;
  // Calls fn(ctx, name) for each name in `dir`.
  virtual Err list_dir(Handle dir, void (*fn)(void* ctx, const char* name), void* ctx) = 0;
  // Puts the names made in the `n` directories on disk.
  virtual Err flush_dirs(const Handle* dirs, size_t n) = 0;

  // Creates `name` in `dir` for writing, failing if anything is there.
  virtual Err create_new(Handle dir, const char* name, Handle* f) = 0;
  virtual Err write_all(Handle f, const void* buf, size_t n) = 0;
  // Sets the modification time (seconds since 1970 UTC) through the open handle.
  virtual Err set_mtime(Handle f, int64_t unix_seconds) = 0;
  // Puts the data of all `n` files on disk; the first failure is returned.
  virtual Err flush_files(const Handle* f, size_t n) = 0;
  // Gives the file `f`, created as `temp` in `dir`, the name `final`
  // there, replacing a file of that name.
  virtual Err rename_over(Handle dir, Handle f, const char* temp, const char* final) = 0;
  // Closes and reports what closing said: a full disk can show up only here.
  virtual Err close(Handle f) = 0;
  virtual Err remove_file(Handle dir, const char* name) = 0;
  // A missing name is not an error: it reports Kind::missing; a link
  // reports Kind::other.
  virtual Err stat(Handle dir, const char* name, Stat* st) = 0;

  // Bytes no one can predict, straight from the system.
  virtual Err random(void* buf, size_t n) = 0;
  virtual void sleep_ms(unsigned ms) = 0;

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
