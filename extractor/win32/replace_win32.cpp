// Putting a finished file in place and removing one, through handles and
// names relative to the held directory; replace_policy.cpp decides.
#include <algorithm>
#include <cstddef>

#include "win32/nt.h"
#include "win32/replace_policy.h"

#include <winternl.h>

namespace rdz::sys {

using namespace win32;

namespace {

// What MinGW's headers hide behind a newer _WIN32_WINNT, or lack.
constexpr FILE_INFORMATION_CLASS kDispositionEx = static_cast<FILE_INFORMATION_CLASS>(64);
constexpr FILE_INFORMATION_CLASS kRenameEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr ULONG kRenameReplace = 0x1, kRenamePosix = 0x2, kRenameIgnoreReadOnly = 0x40;
constexpr ULONG kDisposeDelete = 0x1, kDisposePosix = 0x2, kDisposeIgnoreReadOnly = 0x10;

// FILE_RENAME_INFORMATION, whose first field is a BOOLEAN for the plain
// call and ULONG flags for the other.
struct RenameInfo {
  union {
    BOOLEAN replace;
    ULONG flags;
  };
  HANDLE root;
  ULONG bytes;
  wchar_t name[kWideCap];
};

Err from_status(NTSTATUS s) { return s == 0 ? 0 : static_cast<Err>(RtlNtStatusToDosError(s)); }

class AtName final : public NameOps {
 public:
  AtName(const WinDir& dir, HANDLE temp) : dir_(dir), temp_(temp) {}
  ~AtName() { close(); }
  Err set_name(const char* utf8);

  Err open(bool for_delete, Standing* s) override;
  Err set_attrs(uint32_t attrs) override;
  void close() override {
    if (h_) CloseHandle(h_);
    h_ = nullptr;
  }
  Err rename_ex() override {
    return rename(kRenameEx, kRenameReplace | kRenamePosix | kRenameIgnoreReadOnly);
  }
  Err rename_plain() override { return rename(FileRenameInformation, TRUE); }
  Err dispose_ex() override {
    ULONG flags = kDisposeDelete | kDisposePosix | kDisposeIgnoreReadOnly;
    return set_info(h_, &flags, sizeof flags, kDispositionEx);
  }
  Err dispose_plain() override {
    FILE_DISPOSITION_INFORMATION d{TRUE};
    return set_info(h_, &d, sizeof d, FileDispositionInformation);
  }

 private:
  static Err set_info(HANDLE h, void* info, ULONG size, FILE_INFORMATION_CLASS c) {
    IO_STATUS_BLOCK io;
    return from_status(NtSetInformationFile(h, &io, info, size, c));
  }
  Err rename(FILE_INFORMATION_CLASS c, ULONG flags);
  Err query(Standing* s);

  const WinDir& dir_;
  HANDLE temp_, h_ = nullptr;
  const char* utf8_ = nullptr;
  RenameInfo info_{};  // the name, ready for a rename
};

Err AtName::set_name(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, info_.name, kWideCap);
  if (n <= 0) return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kErrPathTooLong : kErrBadPath;
  info_.bytes = static_cast<ULONG>(n - 1) * sizeof(wchar_t);
  utf8_ = utf8;
  return 0;
}

Err AtName::rename(FILE_INFORMATION_CLASS c, ULONG flags) {
  info_.flags = 0;
  if (c == kRenameEx) info_.flags = flags;
  else info_.replace = static_cast<BOOLEAN>(flags);
  info_.root = dir_.h;
  // The system refuses less than the structure's own size, whose one
  // character of name a short name does not fill.
  const size_t size = std::max<size_t>(offsetof(RenameInfo, name) + info_.bytes,
                                       sizeof(FILE_RENAME_INFORMATION));
  return set_info(temp_, &info_, static_cast<ULONG>(size), c);
}

Err AtName::open(bool for_delete, Standing* s) {
  close();
  OpenHow how = {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                 FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, 0};
  if (for_delete) {
    how.access |= DELETE;
    how.options |= FILE_NON_DIRECTORY_FILE;
  }
  if (Err e = open_at(dir_.h, utf8_, how, &h_)) {
    h_ = nullptr;
    return e;
  }
  return query(s);
}

Err AtName::query(Standing* s) {
  BY_HANDLE_FILE_INFORMATION fi;
  if (!GetFileInformationByHandle(h_, &fi)) return last_error();
  s->attrs = fi.dwFileAttributes;
  s->links = fi.nNumberOfLinks;
  s->id = (static_cast<uint64_t>(fi.nFileIndexHigh) << 32) | fi.nFileIndexLow;
  // A link that the open followed (Wine ignores FILE_OPEN_REPARSE_POINT)
  // shows its target's path, and a short name the long one.
  wchar_t path[kWideCap + 16];
  size_t n;
  s->is_the_name = check_opened(dir_, h_, utf8_, path, &n) == 0;
  return 0;
}

Err AtName::set_attrs(uint32_t attrs) {
  FILE_BASIC_INFORMATION b{};  // times of 0 stay as they are
  b.FileAttributes = attrs;
  return set_info(h_, &b, sizeof b, FileBasicInformation);
}

}  // namespace

Err NativeHost::rename_over(Handle dir, Handle f, const char*, const char* final) {
  if (Err e = check_long_name(*dir_of(dir), final)) return e;
  AtName at(*dir_of(dir), handle_of(f));
  if (Err e = at.set_name(final)) return e;
  return win32::replace(at);
}

Err NativeHost::remove_file(Handle dir, const char* name) {
  AtName at(*dir_of(dir), nullptr);
  if (Err e = at.set_name(name)) return e;
  return win32::remove(at, false);
}

Err NativeHost::remove_leftover(Handle dir, const char* name) {
  AtName at(*dir_of(dir), nullptr);
  if (Err e = at.set_name(name)) return e;
  return win32::remove(at, true);
}

ErrKind NativeHost::kind_of(Err e) { return win32::kind_of(e); }

}  // namespace rdz::sys
