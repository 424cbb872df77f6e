// How a finished file replaces what stands at its name, how a file is
// removed, and which refusals pass by themselves: the decisions of
// replace_win32.cpp, apart from the calls they are made over, so that they
// compile and are tested on any system (against a model of NTFS's rules).
#pragma once

#include <cstdint>

#include "host.h"

namespace rdz::sys::win32 {

// Windows' own numbers (winerror.h, winnt.h) for what the decisions look at.
namespace win {
constexpr Err kInvalidFunction = 1, kFileNotFound = 2, kPathNotFound = 3, kAccessDenied = 5,
              kSharingViolation = 32, kLockViolation = 33, kHandleDiskFull = 39,
              kNotSupported = 50, kInvalidParameter = 87, kDiskFull = 112,
              kCallNotImplemented = 120, kUserMappedFile = 1224;
constexpr uint32_t kReadOnly = 0x1, kDirectory = 0x10, kNormal = 0x80, kReparsePoint = 0x400;
}  // namespace win

// What stands at a name, as a handle opened on the name without following
// a link sees it.
struct Standing {
  uint32_t attrs = 0;
  uint32_t links = 0;
  uint64_t id = 0;           // the file's number on its volume, to know it again
  bool is_the_name = false;  // the handle reached the name's own file, not a link's target
};

// The calls the decisions are made over, all on one name in a held
// directory; errors are Win32 codes.
class NameOps {
 public:
  // Opens what stands at the name, never following a link, and tells what it
  // is. `for_delete` asks for delete access and refuses a directory
  // (kErrDirInTheWay).
  virtual Err open(bool for_delete, Standing* s) = 0;
  // Through the handle open() gave.
  virtual Err set_attrs(uint32_t attrs) = 0;
  virtual void close() = 0;
  // Gives the finished temporary the name, replacing what stands there: with
  // POSIX semantics and the read-only flag ignored, or as every system can.
  virtual Err rename_ex() = 0;
  virtual Err rename_plain() = 0;
  // Deletes the file open() opened, in the same two ways.
  virtual Err dispose_ex() = 0;
  virtual Err dispose_plain() = 0;

 protected:
  ~NameOps() = default;
};

// Puts the temporary in place. kErrDirInTheWay when a directory stands
// there; kErrReadOnly for a read-only file whose flag is not this run's to
// lift (other links, or a link); ERROR_ACCESS_DENIED only for a file that
// is neither read-only nor a directory.
Err replace(NameOps& ops);
// Removes the name's file. A `leftover` that another handle holds without
// sharing belongs to a running extraction: kErrLiveTemp.
Err remove(NameOps& ops, bool leftover);
ErrKind kind_of(Err e);

}  // namespace rdz::sys::win32
