// The program's door to the operating system: files, directories, threads,
// locks, the processor count and the standard streams. system_linux.cpp (it
// leans on /proc, syncfs, getrandom and OFD locks, so Linux is its system)
// and win32/ implement it; nothing else includes a system header.
// NativeHost hands the extraction in core/ what it needs of these.
//
// Paths handed to these functions are UTF-8 with '/' (and, on Windows, '\')
// separators; the Windows side converts them to wide strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host.h"
#include "zip.h"

namespace rdz::sys {

// An open file; closes itself when it goes out of scope.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept : h_(o.h_) { o.h_ = kNoHandle; }
  File& operator=(File&&) = delete;

  bool is_open() const { return h_ != kNoHandle; }
  Handle native() const { return h_; }
  void reset(Handle h);

 private:
  Handle h_ = kNoHandle;
};

void error_text(Err e, char* buf, size_t cap);
#ifdef _WIN32
// True when `e` says a path component does not exist.
bool is_missing(Err e);
#endif

// The running executable, opened for reading.
Err open_self(File& f, uint64_t* size);
Err open_read(const char* path, File& f, uint64_t* size);
// Reads exactly `n` bytes at `offset`; kErrEof when the file is shorter.
Err read_at(const File& f, uint64_t offset, void* buf, size_t n);

// Reads the archive from an open file, from any number of threads at once:
// every read says where it starts.
class FileSource final : public zip::Source {
 public:
  FileSource(const File& f, uint64_t size) : f_(f), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* buf, size_t n) override {
    return read_at(f_, offset, buf, n) == 0;
  }

 private:
  const File& f_;
  uint64_t size_;
};

// The command line as the system holds it, left for main to split: true on
// Windows, with the wide line (the ANSI one has a look-alike for each letter
// its code page lacks, and the C runtime's rules would read the installer's
// `-d "C:\x\"` as C:\x"); false elsewhere, where argv is the line already
// split, in bytes that need no conversion.
bool raw_command_line(std::u16string_view* line);

// How many processors this process may run on; at least 1.
unsigned processor_count();

// UTF-8 text to standard output / standard error. A message that cannot be
// written is lost, never the extraction: call keep_going_on_closed_pipes()
// first, so that a reader that went away (`| head -n 1`) makes a write fail
// rather than end the process midway.
void keep_going_on_closed_pipes();
void write_stdout(std::string_view text);
void write_stderr(std::string_view text);

// True when the environment asks to skip flushing, for the benchmark that
// measures what flushing costs: RUDUVIZIDE_BENCH_NO_FLUSH=1. Native builds
// only; the Windows program always flushes.
bool bench_without_flush();

// The real system, as the extraction sees it.
class NativeHost final : public Host {
 public:
  explicit NativeHost(bool flush = true);
  ~NativeHost();
  NativeHost(const NativeHost&) = delete;
  NativeHost& operator=(const NativeHost&) = delete;

  void error_text(Err e, char* buf, size_t cap) override { sys::error_text(e, buf, cap); }
  ErrKind kind_of(Err e) override;
  Err make_dir(const char* path, bool* created) override;
  Err open_target(const char* path, Handle* dir) override;
  Err open_dir(Handle dir, const char* name, bool create, Handle* out, bool* created) override;
  void close_dir(Handle dir) override;
  void list_dir(Handle dir, void (*fn)(void* ctx, const char* name), void* ctx) override;
  Err flush_dirs(const Handle* dirs, size_t n) override;
  Err create_new(Handle dir, const char* name, Handle* f) override;
  Err write_all(Handle f, const void* buf, size_t n) override;
  Err set_mtime(Handle f, int64_t unix_seconds) override;
  Err flush_files(const Handle* f, size_t n) override;
  bool flush_covers_names(Handle h) override;
  bool start_writeback(Handle f, uint64_t offset, uint64_t len) override;
  Err rename_over(Handle dir, Handle f, const char* temp, const char* final) override;
  void close(Handle f) override;
  Err remove_file(Handle dir, const char* name) override;
  Err remove_leftover(Handle dir, const char* name) override;
  Err device_of(Handle h, bool is_dir, uint64_t* dev) override;
  Err stat(Handle dir, const char* name, Stat* st) override;
  ComponentLimit component_limit() override;
  Err random(void* buf, size_t n) override;
  void sleep_ms(unsigned ms) override;
  bool local_time_to_unix(int year, int month, int day, int hour, int minute, int second,
                          int64_t* out) override;
  Err start_thread(unsigned slot, void (*fn)(void*), void* arg) override;
  void join_thread(unsigned slot) override;
  // A lock straight from the system: std::mutex reports failure by throwing,
  // which would bring the C++ exception machinery into the program.
  void lock() override;
  void unlock() override;
  void wait() override;
  void notify_all() override;
  size_t reserve_handles(size_t want) override;

 private:
  bool nameless_ = false;
  struct Thread {
    void (*fn)(void*) = nullptr;
    void* arg = nullptr;
    intptr_t h = 0;
    bool running = false;
  };
#ifdef _WIN32
  static unsigned __stdcall enter(void* t);
#else
  static void* enter(void* t);
#endif
  bool flush_;
  Thread threads_[kMostThreads];
  alignas(8) unsigned char mutex_[64];
  alignas(8) unsigned char cond_[64];
};

}  // namespace rdz::sys
