// The NT calls the system layer makes where KERNEL32 offers no equivalent:
// opening a name relative to a directory handle (OBJECT_ATTRIBUTES's
// RootDirectory) and listing a directory through its handle. MinGW's
// winternl.h declares some of them; the rest are declared here.
#pragma once

#include "win32/win32.h"

#include <winternl.h>

extern "C" {
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                                    PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock,
                                    PVOID FileInformation, ULONG Length,
                                    FILE_INFORMATION_CLASS FileInformationClass,
                                    BOOLEAN ReturnSingleEntry, PUNICODE_STRING FileName,
                                    BOOLEAN RestartScan);
}

namespace rdz::sys::win32 {

constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);

// How open_at opens a name: NtCreateFile's arguments.
struct OpenHow {
  ACCESS_MASK access;
  ULONG share;
  ULONG disposition;  // FILE_OPEN, FILE_CREATE, FILE_OPEN_IF
  ULONG options;      // FILE_DIRECTORY_FILE, FILE_OPEN_REPARSE_POINT...
  ULONG attributes;   // of a file it creates
};

// To look at what a name holds, disturbing nobody: a link itself, not its
// target (where the system allows).
constexpr OpenHow kLookAt = {FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                             FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, 0};

// Opens `name`, one UTF-8 component, in the directory `dir` holds, never by
// a path: what lies above `dir` is never looked at again. *how_done is
// FILE_CREATED or FILE_OPENED. Errors are Win32 codes, kErrNotDir for a
// non-directory opened as a directory, and kErrDirInTheWay for the reverse.
Err open_at(HANDLE dir, const char* name, const OpenHow& how, HANDLE* out,
            ULONG_PTR* how_done = nullptr);

// Checks that `h`, opened as `name` in `parent`, is parent's own entry of
// that long name (see check_reached); its normalized path into `out`
// (kWideCap + 16 units), its length to *n.
Err check_opened(const WinDir& parent, HANDLE h, const char* name, wchar_t* out, size_t* n);

// kErrShortName when `name` in `parent` reaches a file or directory whose
// long name differs; 0 when it names nothing, or its own entry.
Err check_long_name(const WinDir& parent, const char* name);

// The normalized full path of `h` into `out` (kWideCap + 16 units).
Err final_path(HANDLE h, wchar_t* out, size_t* n);

}  // namespace rdz::sys::win32
