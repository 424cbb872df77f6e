// Directories: the target, those held below it, and what is in them.
#include <cstdlib>
#include <cstring>

#include "win32/win32.h"

namespace rdz::sys {

using namespace win32;

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
  // Every path below is built on this one, and may grow long: prefixed,
  // it escapes MAX_PATH and is taken as it is.
  wchar_t full[kWideCap + 16];
  if (Err e = to_long_path(w.get(), full)) return e;
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

}  // namespace rdz::sys
