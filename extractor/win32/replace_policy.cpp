// Replacing and removing on Windows without touching what lies outside the
// target. NTFS keeps a file's attributes once for all its hard links, and a
// link leads elsewhere: so the read-only flag is lifted only from a file
// that the name alone reaches, and put back when the work fails.
#include "win32/replace_policy.h"

namespace rdz::sys::win32 {

using namespace win;

namespace {

// Older Windows, FAT and exFAT, SMB shares and Wine answer the calls that
// ignore the read-only flag with one of these: then do it the old way.
bool not_supported(Err e) {
  return e == kInvalidFunction || e == kInvalidParameter || e == kNotSupported ||
         e == kCallNotImplemented;
}

// A regular file that only this name reaches: its flag is this run's.
bool sole_name_of(const Standing& s) {
  return s.is_the_name && s.links == 1 && !(s.attrs & (kDirectory | kReparsePoint));
}

uint32_t without_read_only(uint32_t attrs) {
  attrs &= ~kReadOnly;
  return attrs ? attrs : kNormal;  // 0 would mean "leave them as they are"
}

// The plain rename refuses a read-only file: lift the flag, which needs the
// handle closed before the rename (a plain rename refuses an open file), and
// put it back, if the rename failed, on that same file only.
Err replace_read_only(NameOps& ops, const Standing& s, Err refused) {
  if (!sole_name_of(s)) {
    ops.close();
    return kErrReadOnly;
  }
  Err e = ops.set_attrs(without_read_only(s.attrs));
  ops.close();
  if (e) return refused;
  if ((e = ops.rename_plain()) == 0) return 0;
  Standing now;
  if (ops.open(false, &now) == 0) {
    if (now.id == s.id && now.is_the_name) ops.set_attrs(s.attrs);
    ops.close();
  }
  return e;
}

// Deletes through the open handle a read-only file that the plain call refused.
Err dispose_read_only(NameOps& ops, const Standing& s) {
  if (!sole_name_of(s)) return kErrReadOnly;
  if (ops.set_attrs(without_read_only(s.attrs))) return kErrReadOnly;
  Err e = ops.dispose_plain();
  if (e) ops.set_attrs(s.attrs);
  return e;
}

}  // namespace

Err replace(NameOps& ops) {
  Err e = ops.rename_ex();
  if (e == 0) return 0;
  const bool plain = not_supported(e);
  if (plain) e = ops.rename_plain();
  if (e != kAccessDenied) return e;
  // Access denied says little: look at what stands there.
  Standing s;
  if (ops.open(false, &s) != 0) return e;
  if (s.attrs & kDirectory) {
    e = kErrDirInTheWay;
  } else if (plain && (s.attrs & kReadOnly)) {
    return replace_read_only(ops, s, e);
  }
  // Otherwise the flag was ignored or is not set: the file is in use.
  ops.close();
  return e;
}

Err remove(NameOps& ops, bool leftover) {
  Standing s;
  Err e = ops.open(true, &s);
  // A running extraction creates its temporaries without sharing; an open
  // asking for delete access fails at once, and never waits.
  if (e == kSharingViolation && leftover) return kErrLiveTemp;
  if (e) return e;
  if (!s.is_the_name || (s.attrs & kReparsePoint)) {
    e = kErrLink;
  } else if (not_supported(e = ops.dispose_ex())) {
    e = ops.dispose_plain();
    if (e == kAccessDenied && (s.attrs & kReadOnly)) e = dispose_read_only(ops, s);
  } else if (e == kAccessDenied && (s.attrs & kReadOnly)) {
    e = kErrReadOnly;
  }
  ops.close();
  return e;
}

ErrKind kind_of(Err e) {
  switch (e) {
    case kFileNotFound:
    case kPathNotFound: return ErrKind::missing;
    case kDiskFull:
    case kHandleDiskFull: return ErrKind::no_space;
    // Another program's handle, lock or mapping: it goes away by itself.
    // replace() and remove() leave access denied only for a file that is
    // neither read-only nor a directory: one in use (a loaded library).
    case kSharingViolation:
    case kLockViolation:
    case kUserMappedFile:
    case kAccessDenied: return ErrKind::busy;
    default: return ErrKind::other;
  }
}

}  // namespace rdz::sys::win32
