#include <cstring>

#include "win32/win32.h"

namespace rdz::sys::win32 {

int64_t filetime_to_unix(const FILETIME& ft) {
  uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr uint64_t kEpochDelta = 116444736000000000ULL;  // 1601 -> 1970 in 100 ns
  return (static_cast<int64_t>(t) - static_cast<int64_t>(kEpochDelta)) / 10000000;
}

Err to_long_path(const wchar_t* raw, wchar_t* out) {
  if (std::wcsncmp(raw, L"\\\\?\\", 4) == 0) {
    if (std::wcslen(raw) >= kWideCap) return kErrPathTooLong;
    std::wcscpy(out, raw);
    return 0;
  }
  wchar_t full[kWideCap];
  DWORD m = GetFullPathNameW(raw, kWideCap, full, nullptr);
  if (m == 0) return last_error();
  if (m >= kWideCap - 8) return kErrPathTooLong;
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = full;
  if (full[0] == L'\\' && full[1] == L'\\') {
    prefix = L"\\\\?\\UNC\\";
    rest = full + 2;
  }
  std::wcscpy(out, prefix);
  std::wcscat(out, rest);
  return 0;
}

Err WidePath::convert(const char* utf8) {
  wchar_t raw[kWideCap];
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, raw,
                              static_cast<int>(kWideCap));
  if (n <= 0) {
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kErrPathTooLong : kErrBadPath;
  }
  for (wchar_t* p = raw; *p; ++p) {
    if (*p == L'/') *p = L'\\';
  }
  size_t len = static_cast<size_t>(n) - 1;
  if (len < kShortPathLimit) {
    std::memcpy(buf_, raw, (len + 1) * sizeof(wchar_t));
    return 0;
  }
  return to_long_path(raw, buf_);
}

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

}  // namespace rdz::sys::win32
