#include "system.h"

// rand_s: random bytes from the system, through the C runtime.
#define _CRT_RAND_S
#include <stdlib.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <process.h>

#include <cstring>

#include "cmdline.h"

namespace rdz::sys {

namespace {

// Room for kMaxPath UTF-8 bytes as UTF-16 (never more units than bytes), a
// "\\?\UNC\" prefix, and what GetFullPathNameW adds for a relative target.
constexpr DWORD kWideCap = kMaxPath + 1024;

// Windows parses paths shorter than this without the long-path prefix;
// CreateDirectoryW has the tightest limit (MAX_PATH less an 8.3 name).
constexpr size_t kShortPathLimit = 240;

HANDLE handle_of(const File& f) { return reinterpret_cast<HANDLE>(f.native()); }
HANDLE handle_of(Handle h) { return reinterpret_cast<HANDLE>(h); }

// A UTF-8 path as the wide-character functions want it: backslashes, and the
// \\?\ prefix on a long one so that MAX_PATH does not cut it off.
class WidePath {
 public:
  explicit WidePath(const char* utf8) { err_ = convert(utf8); }
  Err error() const { return err_; }
  const wchar_t* get() const { return buf_; }

 private:
  Err convert(const char* utf8) {
    wchar_t raw[kWideCap];
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, raw,
                                static_cast<int>(kWideCap));
    if (n <= 0) {
      return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kErrPathTooLong
                                                         : kErrBadPath;
    }
    for (wchar_t* p = raw; *p; ++p) {
      if (*p == L'/') *p = L'\\';
    }
    size_t len = static_cast<size_t>(n) - 1;
    if (len < kShortPathLimit || std::wcsncmp(raw, L"\\\\?\\", 4) == 0) {
      std::memcpy(buf_, raw, (len + 1) * sizeof(wchar_t));
      return 0;
    }
    // The prefix turns off Win32 path parsing, so resolve first.
    wchar_t full[kWideCap];
    DWORD m = GetFullPathNameW(raw, kWideCap, full, nullptr);
    if (m == 0) return static_cast<Err>(GetLastError());
    if (m >= kWideCap - 8) return kErrPathTooLong;
    const wchar_t* prefix = L"\\\\?\\";
    const wchar_t* rest = full;
    if (full[0] == L'\\' && full[1] == L'\\') {
      prefix = L"\\\\?\\UNC\\";
      rest = full + 2;
    }
    size_t plen = std::wcslen(prefix);
    std::memcpy(buf_, prefix, plen * sizeof(wchar_t));
    std::memcpy(buf_ + plen, rest, (std::wcslen(rest) + 1) * sizeof(wchar_t));
    return 0;
  }

  wchar_t buf_[kWideCap + 8];
  Err err_ = 0;
};

Err last_error() { return static_cast<Err>(GetLastError()); }

bool is_console(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode);
}

void write_handle(DWORD which, std::string_view text) {
  HANDLE h = GetStdHandle(which);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return;
  if (is_console(h)) {
    // A console shows UTF-16 correctly whatever its code page is.
    wchar_t wide[1024];
    while (!text.empty()) {
      size_t take = text.size() < 512 ? text.size() : 512;
      // Do not split a UTF-8 sequence between two chunks.
      while (take < text.size() && take > 0 &&
             (static_cast<unsigned char>(text[take]) & 0xC0) == 0x80) {
        --take;
      }
      if (take == 0) take = text.size() < 512 ? text.size() : 512;
      int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(take),
                                  wide, 1024);
      DWORD done;
      if (n > 0) WriteConsoleW(h, wide, static_cast<DWORD>(n), &done, nullptr);
      text.remove_prefix(take);
    }
    return;
  }
  while (!text.empty()) {
    DWORD done = 0;
    if (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) ||
        done == 0) {
      return;
    }
    text.remove_prefix(done);
  }
}

int64_t filetime_to_unix(const FILETIME& ft) {
  uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr uint64_t kEpochDelta = 116444736000000000ULL;  // 1601 -> 1970 in 100 ns
  return (static_cast<int64_t>(t) - static_cast<int64_t>(kEpochDelta)) / 10000000;
}

}  // namespace

void error_text(Err e, char* buf, size_t cap) {
  if (cap == 0) return;
  const char* text = own_error_text(e);
  if (text) {
    size_t n = std::strlen(text);
    if (n >= cap) n = cap - 1;
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    return;
  }
  wchar_t wide[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(e), 0, wide, 512, nullptr);
  while (n > 0 && (wide[n - 1] == L'\r' || wide[n - 1] == L'\n' || wide[n - 1] == L'.' ||
                   wide[n - 1] == L' ')) {
    --n;
  }
  int m = n ? WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), buf,
                                  static_cast<int>(cap - 1), nullptr, nullptr)
            : 0;
  if (m <= 0) {
    // No text from the system: the number is still worth showing.
    char text[32] = "error ";
    size_t k = 6;
    char digits[12];
    size_t d = 0;
    for (unsigned long v = static_cast<unsigned long>(e); d == 0 || v; v /= 10) {
      digits[d++] = static_cast<char>('0' + v % 10);
    }
    while (d) text[k++] = digits[--d];
    m = static_cast<int>(k < cap ? k : cap - 1);
    std::memcpy(buf, text, static_cast<size_t>(m));
  }
  buf[m] = '\0';
}

bool is_missing(Err e) {
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

File::~File() { reset(kNoHandle); }

File& File::operator=(File&& o) noexcept {
  if (this != &o) reset(o.release());
  return *this;
}

void File::reset(intptr_t h) {
  if (h_ != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(h_));
  h_ = h;
}

intptr_t File::release() {
  intptr_t h = h_;
  h_ = kNoHandle;
  return h;
}

static Err open_wide(const wchar_t* path, File& f, uint64_t* size) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  f.reset(reinterpret_cast<intptr_t>(h));
  LARGE_INTEGER li;
  if (!GetFileSizeEx(h, &li)) return last_error();
  *size = static_cast<uint64_t>(li.QuadPart);
  return 0;
}

Err open_self(File& f, uint64_t* size) {
  wchar_t path[kWideCap];
  DWORD n = GetModuleFileNameW(nullptr, path, kWideCap);
  if (n == 0) return last_error();
  if (n >= kWideCap) return kErrPathTooLong;
  return open_wide(path, f, size);
}

Err open_read(const char* path, File& f, uint64_t* size) {
  WidePath w(path);
  if (w.error()) return w.error();
  return open_wide(w.get(), f, size);
}

Err read_at(const File& f, uint64_t offset, void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!ReadFile(handle_of(f), p, want, &got, &ov)) {
      DWORD e = GetLastError();
      return e == ERROR_HANDLE_EOF ? kErrEof : static_cast<Err>(e);
    }
    if (got == 0) return kErrEof;
    p += got;
    n -= got;
    offset += got;
  }
  return 0;
}

Err NativeHost::write_all(Handle f, const void* buf, size_t n) {
  auto* p = static_cast<const unsigned char*>(buf);
  while (n > 0) {
    DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD put = 0;
    if (!WriteFile(handle_of(f), p, want, &put, nullptr)) return last_error();
    p += put;
    n -= put;
  }
  return 0;
}

Err NativeHost::set_mtime(Handle f, int64_t unix_seconds) {
  uint64_t t = static_cast<uint64_t>(unix_seconds * 10000000 + 116444736000000000LL);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return SetFileTime(handle_of(f), nullptr, nullptr, &ft) ? 0 : last_error();
}

Err NativeHost::close(Handle h) {
  if (h == kNoHandle) return 0;
  return CloseHandle(reinterpret_cast<HANDLE>(h)) ? 0 : last_error();
}

Err NativeHost::make_dir(const char* path, bool* created) {
  *created = false;
  WidePath w(path);
  if (w.error()) return w.error();
  if ((*created = CreateDirectoryW(w.get(), nullptr) != 0)) return 0;
  Err e = last_error();
  // Roots such as "C:\" answer ACCESS_DENIED rather than ALREADY_EXISTS.
  DWORD attr = GetFileAttributesW(w.get());
  if (attr != INVALID_FILE_ATTRIBUTES) {
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? 0 : kErrNotDir;
  }
  return e;
}

namespace {

// A directory held open below the target: without delete sharing, so that
// nobody can rename it away, or put a link in its place, while it is held.
struct WinDir {
  HANDLE h;
  size_t len;  // of path, a full path with the \\?\ prefix
  wchar_t path[kWideCap + 16];
};

WinDir* dir_of(Handle d) { return reinterpret_cast<WinDir*>(d); }

// dir's path, a backslash and `name`, into `out`.
Err join(Handle dir, const char* name, wchar_t* out, size_t cap) {
  const WinDir* d = dir_of(dir);
  if (d->len + 2 >= cap) return kErrPathTooLong;
  std::memcpy(out, d->path, d->len * sizeof(wchar_t));
  out[d->len] = L'\\';
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, out + d->len + 1,
                              static_cast<int>(cap - d->len - 1));
  if (n <= 0) return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kErrPathTooLong : kErrBadPath;
  return 0;
}

constexpr DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

Err hold_dir(const wchar_t* path, DWORD flags, Handle* out) {
  HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES, kShareNoDelete, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  BY_HANDLE_FILE_INFORMATION info;
  Err e = 0;
  if (!GetFileInformationByHandle(h, &info)) {
    e = last_error();
  } else if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) &&
             (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    e = kErrLink;
  } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    e = kErrNotDir;
  }
  auto* d = e ? nullptr : static_cast<WinDir*>(std::malloc(sizeof(WinDir)));
  if (!d) {
    CloseHandle(h);
    return e ? e : ERROR_NOT_ENOUGH_MEMORY;
  }
  d->h = h;
  d->len = std::wcslen(path);
  std::memcpy(d->path, path, (d->len + 1) * sizeof(wchar_t));
  *out = reinterpret_cast<Handle>(d);
  return 0;
}

}  // namespace

Err NativeHost::open_target(const char* path, Handle* dir) {
  WidePath w(path);
  if (w.error()) return w.error();
  const wchar_t* raw = w.get();
  wchar_t full[kWideCap + 16];
  if (std::wcsncmp(raw, L"\\\\?\\", 4) == 0) {
    if (std::wcslen(raw) >= kWideCap) return kErrPathTooLong;
    std::wcscpy(full, raw);
  } else {
    // Every path below is built on this one, and may grow long: prefixed,
    // it escapes MAX_PATH and is taken as it is.
    wchar_t resolved[kWideCap];
    DWORD m = GetFullPathNameW(raw, kWideCap, resolved, nullptr);
    if (m == 0) return last_error();
    if (m >= kWideCap - 8) return kErrPathTooLong;
    const wchar_t* rest = resolved;
    const wchar_t* prefix = L"\\\\?\\";
    if (resolved[0] == L'\\' && resolved[1] == L'\\') {
      prefix = L"\\\\?\\UNC\\";
      rest = resolved + 2;
    }
    std::wcscpy(full, prefix);
    std::wcscat(full, rest);
  }
  // The target itself may be a link: that is the user's choice.
  if (Err e = hold_dir(full, 0, dir)) return e;
  // A root such as C:\ opens with its backslash; names join on without it.
  WinDir* d = dir_of(*dir);
  if (d->len > 0 && d->path[d->len - 1] == L'\\') d->path[--d->len] = L'\0';
  return 0;
}

Err NativeHost::open_dir(Handle dir, const char* name, bool create, Handle* out, bool* created) {
  wchar_t path[kWideCap + 16];
  if (Err e = join(dir, name, path, kWideCap + 16)) return e;
  *created = create && CreateDirectoryW(path, nullptr);
  if (create && !*created && GetLastError() != ERROR_ALREADY_EXISTS) return last_error();
  DWORD attr = GetFileAttributesW(path);
  if (attr == INVALID_FILE_ATTRIBUTES) return last_error();
  // A junction, a symbolic link, a mount point: all lead elsewhere.
  if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return kErrLink;
  if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) return kErrNotDir;
  return hold_dir(path, FILE_FLAG_OPEN_REPARSE_POINT, out);
}

Err NativeHost::close_dir(Handle dir) {
  WinDir* d = dir_of(dir);
  Err e = CloseHandle(d->h) ? 0 : last_error();
  std::free(d);
  return e;
}

Err NativeHost::list_dir(Handle dir, void (*fn)(void* ctx, const char* name), void* ctx) {
  wchar_t pattern[kWideCap + 16];
  if (Err e = join(dir, "*", pattern, kWideCap + 16)) return e;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern, &fd);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  do {
    char name[MAX_PATH * 3 + 1];
    int n = WideCharToMultiByte(CP_UTF8, 0, fd.cFileName, -1, name, sizeof name, nullptr,
                                nullptr);
    if (n > 0) fn(ctx, name);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return 0;
}

// NTFS journals the names in a directory itself; FlushFileBuffers on a
// directory needs it opened for writing, which an installer run need not do.
Err NativeHost::flush_dirs(const Handle*, size_t) { return 0; }

Err NativeHost::create_new(Handle dir, const char* name, Handle* f) {
  wchar_t path[kWideCap + 16];
  if (Err e = join(dir, name, path, kWideCap + 16)) return e;
  // DELETE: the file is renamed through this handle, not by its name again.
  HANDLE h = CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  *f = reinterpret_cast<Handle>(h);
  return 0;
}

Err NativeHost::flush_files(const Handle* f, size_t n) {
  if (!flush_) return 0;
  for (size_t i = 0; i < n; ++i) {
    if (!FlushFileBuffers(handle_of(f[i]))) return last_error();
  }
  return 0;
}

Err NativeHost::rename_over(Handle dir, Handle f, const char*, const char* final) {
  constexpr size_t kChars = kWideCap + 16;
  alignas(FILE_RENAME_INFO) unsigned char buf[sizeof(FILE_RENAME_INFO) + kChars * sizeof(wchar_t)];
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf);
  std::memset(info, 0, sizeof *info);
  if (Err e = join(dir, final, info->FileName, kChars)) return e;
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(std::wcslen(info->FileName) * sizeof(wchar_t));
  const DWORD size = static_cast<DWORD>(sizeof *info + info->FileNameLength);
  if (SetFileInformationByHandle(handle_of(f), FileRenameInfo, info, size)) return 0;
  Err e = last_error();
  // A read-only file refuses to be replaced; an update still has to go through.
  DWORD attr = GetFileAttributesW(info->FileName);
  if (e == ERROR_ACCESS_DENIED && attr != INVALID_FILE_ATTRIBUTES &&
      (attr & FILE_ATTRIBUTE_READONLY) && !(attr & FILE_ATTRIBUTE_DIRECTORY)) {
    if (SetFileAttributesW(info->FileName, attr & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) &&
        SetFileInformationByHandle(handle_of(f), FileRenameInfo, info, size)) {
      return 0;
    }
    e = last_error();
  }
  return e;
}

Err NativeHost::remove_file(Handle dir, const char* name) {
  wchar_t path[kWideCap + 16];
  if (Err e = join(dir, name, path, kWideCap + 16)) return e;
  return DeleteFileW(path) ? 0 : last_error();
}

Err NativeHost::remove_leftover(Handle dir, const char* name) { return remove_file(dir, name); }

Err NativeHost::device_of(Handle h, bool is_dir, uint64_t* dev) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(is_dir ? dir_of(h)->h : handle_of(h), &info)) return last_error();
  *dev = info.dwVolumeSerialNumber;
  return 0;
}

Err NativeHost::stat(Handle dir, const char* name, Stat* st) {
  wchar_t path[kWideCap + 16];
  if (Err e = join(dir, name, path, kWideCap + 16)) return e;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
    Err e = last_error();
    if (is_missing(e)) {
      *st = Stat{};
      return 0;
    }
    return e;
  }
  const DWORD a = data.dwFileAttributes;
  if (a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) st->kind = Stat::Kind::other;
  else if (a & FILE_ATTRIBUTE_DIRECTORY) st->kind = Stat::Kind::dir;
  else st->kind = Stat::Kind::file;
  st->mtime = filetime_to_unix(data.ftLastWriteTime);
  st->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return 0;
}

ErrKind NativeHost::kind_of(Err e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ErrKind::missing;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ErrKind::no_space;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_USER_MAPPED_FILE: return ErrKind::busy;
    default: return ErrKind::other;
  }
}

Err NativeHost::random(void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    unsigned int r;
    if (rand_s(&r) != 0) return ERROR_GEN_FAILURE;
    size_t take = n < sizeof r ? n : sizeof r;
    std::memcpy(p, &r, take);
    p += take;
    n -= take;
  }
  return 0;
}

void NativeHost::sleep_ms(unsigned ms) { Sleep(ms); }

// The program that ships always flushes: no setting on a user's machine
// may trade a whole file after a power cut for speed.
bool bench_without_flush() { return false; }

bool NativeHost::local_time_to_unix(int year, int month, int day, int hour, int minute,
                        int second, int64_t* out) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  SYSTEMTIME utc;
  FILETIME ft;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &ft)) {
    return false;
  }
  *out = filetime_to_unix(ft);
  return true;
}

bool arg_to_utf8(std::string_view arg, char* out, size_t cap, size_t* len) {
  if (arg.empty()) {
    if (cap == 0) return false;
    out[0] = '\0';
    *len = 0;
    return true;
  }
  wchar_t wide[kWideCap];
  int n = MultiByteToWideChar(CP_ACP, 0, arg.data(), static_cast<int>(arg.size()),
                              wide, static_cast<int>(kWideCap));
  if (n <= 0) return false;
  int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, out, static_cast<int>(cap) - 1,
                              nullptr, nullptr);
  if (m <= 0) return false;
  out[m] = '\0';
  *len = static_cast<size_t>(m);
  return true;
}

unsigned processor_count() {
  // The affinity mask, not the machine: a job object or `start /affinity`
  // may give this process fewer processors than the system has.
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process) {
    unsigned n = 0;
    for (; process; process &= process - 1) ++n;
    return n;
  }
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwNumberOfProcessors ? si.dwNumberOfProcessors : 1;
}

static_assert(sizeof(SRWLOCK) <= 64);

NativeHost::NativeHost(bool flush) : flush_(flush) {
  InitializeSRWLock(reinterpret_cast<SRWLOCK*>(mutex_));
}

// A slim lock holds nothing to free.
NativeHost::~NativeHost() {
  for (unsigned i = 0; i < kMostThreads; ++i) join_thread(i);
}

void NativeHost::lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(mutex_)); }
void NativeHost::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(mutex_)); }

unsigned __stdcall NativeHost::enter(void* self) {
  auto* t = static_cast<Thread*>(self);
  t->fn(t->arg);
  return 0;
}

Err NativeHost::start_thread(unsigned slot, void (*fn)(void*), void* arg) {
  if (slot >= kMostThreads || threads_[slot].running) return ERROR_BUSY;
  Thread& t = threads_[slot];
  t.fn = fn;
  t.arg = arg;
  // Through the C runtime rather than CreateThread, so that the runtime
  // knows the thread its functions are called from.
  uintptr_t h = _beginthreadex(nullptr, 0, &NativeHost::enter, &t, 0, nullptr);
  if (h == 0) {
    Err e = last_error();
    return e ? e : ERROR_NOT_ENOUGH_MEMORY;
  }
  t.h = static_cast<intptr_t>(h);
  t.running = true;
  return 0;
}

void NativeHost::join_thread(unsigned slot) {
  if (slot >= kMostThreads || !threads_[slot].running) return;
  HANDLE h = reinterpret_cast<HANDLE>(threads_[slot].h);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  threads_[slot].running = false;
}

int arguments(int, char**, char* storage, size_t cap, std::string_view* args, int max_args) {
  const char* raw = GetCommandLineA();
  const std::string_view line = raw ? std::string_view(raw) : std::string_view();
  if (line.size() > cap) return -1;
  const int n = cli::split(line, storage, cap, args, max_args);
  if (n <= 0) return n;
  for (int i = 1; i < n; ++i) args[i - 1] = args[i];  // the program's own name goes
  return n - 1;
}

void write_stdout(std::string_view text) { write_handle(STD_OUTPUT_HANDLE, text); }
void write_stderr(std::string_view text) { write_handle(STD_ERROR_HANDLE, text); }

}  // namespace rdz::sys
