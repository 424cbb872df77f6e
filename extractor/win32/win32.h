// What the Windows system layer's files share: the wide-path limits, the
// conversion of UTF-8 paths, the long-path prefix, and the directories the
// extraction holds open. Nothing outside extractor/win32/ includes it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "system.h"

namespace rdz::sys::win32 {

// Room for kMaxPath UTF-8 bytes as UTF-16 (never more units than bytes), a
// "\\?\UNC\" prefix, and what GetFullPathNameW adds for a relative target.
constexpr DWORD kWideCap = kMaxPath + 1024;

// Windows parses paths shorter than this without the long-path prefix;
// CreateDirectoryW has the tightest limit (MAX_PATH less an 8.3 name).
constexpr size_t kShortPathLimit = 240;

inline HANDLE handle_of(const File& f) { return reinterpret_cast<HANDLE>(f.native()); }
inline HANDLE handle_of(Handle h) { return reinterpret_cast<HANDLE>(h); }
inline Err last_error() { return static_cast<Err>(GetLastError()); }

int64_t filetime_to_unix(const FILETIME& ft);

// `raw` resolved to a full path and given the \\?\ (or \\?\UNC\) prefix,
// which turns off Win32 path parsing and the MAX_PATH limit, into `out`
// (kWideCap + 16 units).
Err to_long_path(const wchar_t* raw, wchar_t* out);

// A UTF-8 path as the wide-character functions want it: backslashes, and the
// \\?\ prefix on a long one so that MAX_PATH does not cut it off.
class WidePath {
 public:
  explicit WidePath(const char* utf8) { err_ = convert(utf8); }
  Err error() const { return err_; }
  const wchar_t* get() const { return buf_; }

 private:
  Err convert(const char* utf8);

  wchar_t buf_[kWideCap + 16];
  Err err_ = 0;
};

// A directory held open below the target: without delete sharing, so that
// nobody can rename it away, or put a link in its place, while it is held.
// Names in it are opened relative to `h`; `path` is what its handle
// reports (normalized, with the \\?\ prefix), against which what those
// names reach is checked.
struct WinDir {
  HANDLE h;
  size_t len;  // of path
  wchar_t path[kWideCap + 16];
};

inline WinDir* dir_of(Handle d) { return reinterpret_cast<WinDir*>(d); }

// dir's path, a backslash and `name`, into `out`.
Err join(Handle dir, const char* name, wchar_t* out, size_t cap);

}  // namespace rdz::sys::win32
