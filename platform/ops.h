// The operating-system operations the installer logic is allowed to use.
//
// Every call into Windows goes through one of these functions, so that the
// logic in installer/ can be linked against platform/win32/ for the real
// program and against platform/fake/ for unit tests on any host. Texts cross
// this boundary as bytes in the system's ANSI code page, unconverted.
//
// Operations that can fail return 0 for success and non-zero for failure,
// unless the comment says otherwise.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace ops {

// Registry ---------------------------------------------------------------

// An open registry key; null is never a valid open key.
using RegKey = void*;

constexpr std::uint32_t kRegSz = 1;  // REG_SZ

// Opens HKEY_LOCAL_MACHINE\path for reading (KEY_READ). The 32-bit registry
// view is used on every build, so that 32- and 64-bit copies of the
// installer share one record. Returns the system status: 0 or an error code.
long reg_open_read(const char* path, RegKey* key);

// Reads a value into data. *size is the capacity in and the byte length of
// the stored data out (terminator included, as the system stores it).
// Returns 0, or an error code when the value is absent or does not fit.
long reg_query_value(RegKey key, const char* name, std::uint32_t* type,
                     unsigned char* data, std::uint32_t* size);

// Creates or opens HKEY_LOCAL_MACHINE\path for writing (KEY_WRITE), with
// any missing parent keys, in the 32-bit view.
long reg_create_write(const char* path, RegKey* key);

// Stores size bytes of data as a value of the given type.
long reg_set_value(RegKey key, const char* name, std::uint32_t type,
                   const unsigned char* data, std::uint32_t size);

void reg_close(RegKey key);

// Files and directories --------------------------------------------------

constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kAttributeDirectory = 0x10u;

// GetFileAttributesA: attribute bits, or kInvalidAttributes.
std::uint32_t file_attributes(const char* path);

// Creates one directory (its parent must exist). 0 on success.
int create_directory(const char* path);

// Fills buf with the process's current directory. On failure buf is left as
// it was; callers that care pre-terminate it.
void current_directory(char* buf, std::size_t capacity);

// Deletes a file, relative to the current directory. 0 on success.
int delete_file(const char* name);

// Errors ------------------------------------------------------------------

// The calling thread's last-error code, and a way to set it so that a
// status returned by a call (the registry returns its error instead of
// setting it) can be reported like any other failure.
std::uint32_t last_error();
void set_last_error(std::uint32_t code);

// The system's message text for code, allocated by the system, or null when
// it has none. Release it with release_error_text.
char* acquire_error_text(std::uint32_t code);
void release_error_text(char* text);

// Processes ---------------------------------------------------------------

// Runs command through the command interpreter (COMSPEC, else cmd.exe),
// waiting without a time limit. Returns the command's exit status, or -1
// when no interpreter could be started.
int run_command(const char* command);

// Console -------------------------------------------------------------------

enum class Stream { out, err };

// Formatted output to standard output or standard error (text streams).
void print(Stream stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Writes out whatever standard output and standard error hold in their
// buffers, so that the console shows it before input is awaited or another
// program writes to the same console.
void flush_output();

// Reads a line of at most capacity-1 bytes into buf, keeping its line end
// (fgets). Returns 0, or -1 when input ended before the first character, in
// which case buf is left as it was.
int read_line(char* buf, std::size_t capacity);

// Reads one byte of input: its value, or -1 at the end of input.
int read_char();

// Pushes one byte back so that the next read takes it first.
void unread_char(int c);

}  // namespace ops
