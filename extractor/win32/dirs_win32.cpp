// Directories: the target, those held below it, and what is in them.
#include <cstdlib>
#include <cstring>

#include "win32/nt.h"

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

// Held without delete sharing: nobody can rename a held directory away, or
// put a link in its place, while it is held.
constexpr OpenHow kHoldDir = {
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
    FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
    FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, 0};

// What the handle itself says it is. Wine opens a link's target whatever
// the flags say, but still shows a link to a directory as a reparse point.
Err check_kind(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return last_error();
  // A junction, a symbolic link, a mount point: all lead elsewhere.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kErrLink;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return kErrNotDir;
  return 0;
}

// Keeps the directory `h`, opened as `name` in `parent` (or the target,
// without a parent), once it is what it should be; closes it otherwise.
Err keep_dir(const WinDir* parent, HANDLE h, const char* name, Handle* out) {
  auto* d = static_cast<WinDir*>(std::malloc(sizeof(WinDir)));
  Err e = d ? check_kind(h) : ERROR_NOT_ENOUGH_MEMORY;
  if (e == 0 && parent) e = check_opened(*parent, h, name, d->path, &d->len);
  if (e == 0 && !parent) e = final_path(h, d->path, &d->len);
  if (e) {
    CloseHandle(h);
    std::free(d);
    return e;
  }
  d->h = h;
  // A root such as C:\ ends in a backslash; names join on without it.
  if (d->len > 0 && d->path[d->len - 1] == L'\\') --d->len;
  d->path[d->len] = L'\0';
  *out = reinterpret_cast<Handle>(d);
  return 0;
}

}  // namespace

Err NativeHost::open_target(const char* path, Handle* dir) {
  WidePath w(path);
  if (w.error()) return w.error();
  // The target itself may be a link: that is the user's choice. Below it,
  // every path is built on its final path, the one its handle reports.
  HANDLE h = CreateFileW(w.get(), kHoldDir.access, kHoldDir.share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  return keep_dir(nullptr, h, nullptr, dir);
}

Err NativeHost::open_dir(Handle dir, const char* name, bool create, Handle* out, bool* created) {
  const WinDir* parent = dir_of(dir);
  OpenHow how = kHoldDir;
  if (create) how.disposition = FILE_OPEN_IF;
  HANDLE h;
  ULONG_PTR done = 0;
  *created = false;
  if (Err e = open_at(parent->h, name, how, &h, &done)) return e;
  *created = done == FILE_CREATED;
  return keep_dir(parent, h, name, out);
}

void NativeHost::close_dir(Handle dir) {
  WinDir* d = dir_of(dir);
  CloseHandle(d->h);
  std::free(d);
}

// Only one worker ever lists a directory (its first sweep), so the held
// handle's listing position is this call's alone.
void NativeHost::list_dir(Handle dir, void (*fn)(void* ctx, const char* name), void* ctx) {
  alignas(8) unsigned char buf[16384];
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK io{};
    NTSTATUS s = NtQueryDirectoryFile(dir_of(dir)->h, nullptr, nullptr, nullptr, &io, buf,
                                      sizeof buf, FileNamesInformation, FALSE, nullptr, restart);
    if (!NT_SUCCESS(s)) return;  // STATUS_NO_MORE_FILES, a warning, ends it too
    for (size_t at = 0;;) {
      const auto* f = reinterpret_cast<const FILE_NAMES_INFORMATION*>(buf + at);
      char name[MAX_PATH * 3 + 1];
      int n = WideCharToMultiByte(CP_UTF8, 0, f->FileName,
                                  static_cast<int>(f->FileNameLength / sizeof(wchar_t)), name,
                                  sizeof name - 1, nullptr, nullptr);
      if (n > 0) {
        name[n] = '\0';
        fn(ctx, name);
      }
      if (f->NextEntryOffset == 0) break;
      at += f->NextEntryOffset;
    }
  }
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
  const WinDir* parent = dir_of(dir);
  *st = Stat{};
  if (Err e = check_long_name(*parent, name)) return e;
  HANDLE h;
  if (Err e = open_at(parent->h, name, kLookAt, &h)) return is_missing(e) ? 0 : e;
  BY_HANDLE_FILE_INFORMATION info;
  Err e = GetFileInformationByHandle(h, &info) ? 0 : last_error();
  CloseHandle(h);
  if (e) return e;
  // Wine shows a link to a file as a plain file, and answers for its
  // target: harmless here, since a file is only ever replaced as a name.
  const DWORD a = info.dwFileAttributes;
  if (a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) st->kind = Stat::Kind::other;
  else if (a & FILE_ATTRIBUTE_DIRECTORY) st->kind = Stat::Kind::dir;
  else st->kind = Stat::Kind::file;
  st->mtime = filetime_to_unix(info.ftLastWriteTime);
  st->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return 0;
}

}  // namespace rdz::sys
