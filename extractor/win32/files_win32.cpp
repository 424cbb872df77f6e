// Files: the archive read from any thread, and the temporaries written.
#include <cstring>

#include "win32/nt.h"

namespace rdz::sys {

using namespace win32;

File::~File() { reset(kNoHandle); }

void File::reset(intptr_t h) {
  if (h_ != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(h_));
  h_ = h;
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

void NativeHost::close(Handle h) { CloseHandle(reinterpret_cast<HANDLE>(h)); }

Err NativeHost::create_new(Handle dir, const char* name, Handle* f) {
  // DELETE: the file is renamed through this handle, not by its name again.
  // FILE_CREATE never follows a link, and the directory it lands in is held.
  constexpr OpenHow kNew = {GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0,
                            FILE_CREATE,
                            FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT |
                                FILE_SYNCHRONOUS_IO_NONALERT,
                            FILE_ATTRIBUTE_NORMAL};
  HANDLE h;
  if (Err e = open_at(dir_of(dir)->h, name, kNew, &h)) return e;
  *f = reinterpret_cast<Handle>(h);
  return 0;
}

// Each file is flushed by itself, and the names are NTFS's own to journal.
bool NativeHost::flush_covers_names(Handle) { return false; }

// The system writes back on its own schedule; the flush finds it done or
// not. Nor may a file be flushed beside its writes: on a handle opened for
// synchronous I/O, FlushFileBuffers holds the handle's lock, and a write on
// another thread waits until the flush ends.
bool NativeHost::start_writeback(Handle, uint64_t, uint64_t) { return false; }

Err NativeHost::flush_files(const Handle* f, size_t n) {
  if (!flush_) return 0;
  for (size_t i = 0; i < n; ++i) {
    if (!FlushFileBuffers(handle_of(f[i]))) return last_error();
  }
  return 0;
}

}  // namespace rdz::sys
