// Names below the target, opened relative to a held directory and checked
// for what they really reached.
#include <cstring>

#include "win32/long_name.h"
#include "win32/nt.h"

namespace rdz::sys::win32 {

namespace {

class SystemPaths final : public PathQuery {
 public:
  Err path_of(Handle h, Spelling s, Unit* out, size_t cap, size_t* n) override {
    const DWORD how = s == Spelling::normalized ? FILE_NAME_NORMALIZED : FILE_NAME_OPENED;
    DWORD m = GetFinalPathNameByHandleW(handle_of(h), out, static_cast<DWORD>(cap),
                                        how | VOLUME_NAME_DOS);
    if (m == 0) return last_error();
    if (m >= cap) return kErrPathTooLong;
    *n = m;
    return 0;
  }
};

// `name` as UTF-16 into `out` (cap units), without terminator.
Err wide_name(const char* name, wchar_t* out, size_t cap, size_t* n) {
  int m = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, out,
                              static_cast<int>(cap));
  if (m <= 0) return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kErrPathTooLong : kErrBadPath;
  *n = static_cast<size_t>(m) - 1;
  return 0;
}

}  // namespace

Err open_at(HANDLE dir, const char* name, const OpenHow& how, HANDLE* out, ULONG_PTR* how_done) {
  wchar_t wide[kWideCap];
  size_t n;
  if (Err e = wide_name(name, wide, kWideCap, &n)) return e;
  if (n * sizeof(wchar_t) > 0xFFFE) return kErrPathTooLong;
  UNICODE_STRING us;
  us.Buffer = wide;
  us.Length = us.MaximumLength = static_cast<USHORT>(n * sizeof(wchar_t));
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, dir, nullptr);
  IO_STATUS_BLOCK io{};
  NTSTATUS s = NtCreateFile(out, how.access, &oa, &io, nullptr, how.attributes, how.share,
                            how.disposition, how.options, nullptr, 0);
  if (s == kStatusNotADirectory) return kErrNotDir;
  if (s == kStatusFileIsADirectory) return kErrDirInTheWay;
  if (!NT_SUCCESS(s)) return static_cast<Err>(RtlNtStatusToDosError(s));
  if (how_done) *how_done = io.Information;
  return 0;
}

Err final_path(HANDLE h, wchar_t* out, size_t* n) {
  SystemPaths q;
  return q.path_of(reinterpret_cast<Handle>(h), Spelling::normalized, out, kWideCap + 16, n);
}

Err check_opened(const WinDir& parent, HANDLE h, const char* name, wchar_t* out, size_t* n) {
  wchar_t wide[kWideCap];
  size_t len;
  if (Err e = wide_name(name, wide, kWideCap, &len)) return e;
  SystemPaths q;
  return check_reached(q, reinterpret_cast<Handle>(h), {parent.path, parent.len}, {wide, len},
                       out, kWideCap + 16, n);
}

Err check_long_name(const WinDir& parent, const char* name) {
  if (!may_be_alias(name)) return 0;
  HANDLE h;
  Err e = open_at(parent.h, name, kLookAt, &h);
  if (e) return is_missing(e) ? 0 : e;
  wchar_t path[kWideCap + 16];
  size_t n;
  e = check_opened(parent, h, name, path, &n);
  CloseHandle(h);
  return may_land_at(name, e);
}

}  // namespace rdz::sys::win32
