// The extractor's only door to the operating system. fs_posix.cpp and
// fs_win32.cpp implement it; nothing else includes a system header, so the
// core stays the same code on every platform and under the fuzzer.
//
// Paths handed to these functions are UTF-8 with '/' (and, on Windows, '\')
// separators; the Windows side converts them to wide strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rdz::fs {

#ifdef _WIN32
constexpr bool kBackslashIsSeparator = true;
#else
constexpr bool kBackslashIsSeparator = false;
#endif

// Longest path, in UTF-8 bytes without the terminating NUL, that the
// extractor builds. Entry names and the target directory are checked against
// it before any call below sees them.
constexpr size_t kMaxPath = 4096;

// A native error code (errno, or GetLastError on Windows); 0 is success.
// Negative values are the extractor's own conditions.
using Err = long;
constexpr Err kErrEof = -1;        // file ended before the bytes asked for
constexpr Err kErrNotDir = -2;     // a non-directory is where a directory must be
constexpr Err kErrPathTooLong = -3;
constexpr Err kErrBadPath = -4;    // cannot be converted to a native path

// Writes a short human-readable reason for `e` into `buf` (always terminated).
void error_text(Err e, char* buf, size_t cap);

// True when `e` says a path component does not exist.
bool is_missing(Err e);

// An open file; closes itself when it goes out of scope.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept : h_(o.h_) { o.h_ = kInvalid; }
  File& operator=(File&& o) noexcept;

  bool is_open() const { return h_ != kInvalid; }
  intptr_t native() const { return h_; }
  void reset(intptr_t h);
  intptr_t release();

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t h_ = kInvalid;
};

// The running executable, opened for reading.
Err open_self(File& f, uint64_t* size);
Err open_read(const char* path, File& f, uint64_t* size);
// Reads exactly `n` bytes at `offset`; kErrEof when the file is shorter.
Err read_at(const File& f, uint64_t offset, void* buf, size_t n);

// Creates `path` for writing, failing if anything exists under that name.
Err create_new(const char* path, File& f);
Err write_all(const File& f, const void* buf, size_t n);
// Sets the modification time (seconds since 1970 UTC) through the open handle.
Err set_mtime(const File& f, int64_t unix_seconds);
// Closes and reports what closing said: a full disk can show up only here.
Err close(File& f);

Err remove_file(const char* path);
// Renames `from` to `to`, replacing a file that exists under `to`.
Err rename_replace(const char* from, const char* to);
// Creates one directory; success also when a directory is already there.
Err make_dir(const char* path);

struct Stat {
  enum class Kind { missing, file, dir, other };
  Kind kind = Kind::missing;
  int64_t mtime = 0;  // seconds since 1970 UTC, rounded down
};
// A missing path is not an error: it reports Kind::missing.
Err stat(const char* path, Stat* st);

// Converts a broken-down local time to seconds since 1970 UTC; false when the
// fields do not name a time the system can represent.
bool local_time_to_unix(int year, int month, int day, int hour, int minute,
                        int second, int64_t* out);

// Converts an argument as the OS delivered it (the ANSI code page on Windows,
// bytes elsewhere) to UTF-8. False when it does not fit in `cap` bytes
// including the terminating NUL.
bool arg_to_utf8(std::string_view arg, char* out, size_t cap, size_t* len);

#ifdef _WIN32
// The process command line exactly as the parent passed it.
std::string_view raw_command_line();
#endif

// How many processors this process may run on; at least 1.
unsigned processor_count();

// A lock straight from the system: std::mutex reports failure by throwing,
// which would bring the C++ exception machinery into the program.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void unlock();

 private:
  alignas(8) unsigned char m_[64];
};

class Lock {
 public:
  explicit Lock(Mutex& m) : m_(m) { m_.lock(); }
  ~Lock() { m_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  Mutex& m_;
};

// A thread that runs fn(arg) once; joined when it goes out of scope. There is
// no way to report a failure from inside, so fn keeps its results in arg.
class Thread {
 public:
  Thread() = default;
  ~Thread() { join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Fails, leaving nothing running, when the system has no thread to give.
  Err start(void (*fn)(void*), void* arg);
  void join();

 private:
  void (*fn_)(void*) = nullptr;
  void* arg_ = nullptr;
  intptr_t h_ = 0;
  bool running_ = false;
#ifdef _WIN32
  static unsigned __stdcall enter(void* self);
#else
  static void* enter(void* self);
#endif
};

// UTF-8 text to standard output / standard error.
void write_stdout(std::string_view text);
void write_stderr(std::string_view text);

}  // namespace rdz::fs
