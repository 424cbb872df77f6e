// Putting a finished file in place, removing one, and telling which
// refusals pass by themselves.
#include <cstring>

#include "win32/nt.h"

namespace rdz::sys {

using namespace win32;

Err NativeHost::rename_over(Handle dir, Handle f, const char*, const char* final) {
  if (Err e = check_long_name(*dir_of(dir), final)) return e;
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

}  // namespace rdz::sys
