// The operating-system operations the installer logic is allowed to use.
//
// Every call into Windows goes through one of these functions, so that the
// logic in installer/ can be linked against platform/win32/ for the real
// program and against platform/fake/ for unit tests on any host. Texts cross
// this boundary as bytes in the system's ANSI code page, unconverted; a text
// the system holds in other letters (a name, a variable, a record) is handed
// over only when the code page holds every one of its characters exactly.
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

constexpr std::uint32_t kRegSz = 1;        // REG_SZ
constexpr std::uint32_t kRegExpandSz = 2;  // REG_EXPAND_SZ

// Opens HKEY_LOCAL_MACHINE\path for reading (KEY_READ). The 32-bit registry
// view is used on every build, so that 32- and 64-bit copies of the
// installer share one record. Returns the system status: 0 or an error code.
long reg_open_read(const char* path, RegKey* key);

// Reads a value into data. *size is the capacity in and the byte length of
// the data out. A string (REG_SZ, REG_EXPAND_SZ) is its text up to its first
// zero character, with a terminator; any other type gives no data. Returns 0,
// or an error code when the value is absent, does not fit, or is a string
// the ANSI code page cannot hold exactly.
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

// Fills buf with the process's current directory. When it cannot be had, or
// not exactly in the ANSI code page, buf is left as it was; callers that care
// pre-terminate it.
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

// Runs command through the command interpreter (COMSPEC, else cmd.exe from
// the system directory), waiting without a time limit. Returns the
// command's exit status, or -1 when no interpreter could be started.
int run_command(const char* command);

// The interpreter run_command would use: cmd.exe, which is told to take '!'
// as typed; another, which is never given a '!'; or none at all.
enum class Interpreter { none, cmd, other };
Interpreter interpreter();

// Console -------------------------------------------------------------------

enum class Stream { out, err };

// Formatted output to standard output or standard error. On a console the
// text is shown as the characters it holds in the ANSI code page, whatever
// the console's own code page; a file or pipe gets its bytes unchanged
// (text stream: LF becomes CR LF).
void print(Stream stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Writes out whatever standard output and standard error hold in their
// buffers, so that the console shows it before input is awaited or another
// program writes to the same console.
void flush_output();

enum class Line {
  read,           // buf holds the line, its line end removed
  end,            // input ended before the first character; buf untouched
  too_long,       // more than capacity-1 bytes: the whole line was dropped
  unconvertible,  // typed on a console, with a character the ANSI code page
                  // cannot hold; the line was dropped
};

// Reads one whole line of standard input. From a console the characters
// typed are converted to the ANSI code page without any look-alike
// replacement; from a file or pipe the bytes are taken as they are, as
// ANSI text. *length receives the bytes stored (a NUL byte in the input
// is stored like any other, so it may be less than strlen).
Line read_line(char* buf, std::size_t capacity, std::size_t* length);

// Reads one byte of input: its value, or -1 at the end of input.
int read_char();

// Text -------------------------------------------------------------------

// Whether c starts a two-byte character in the ANSI code page (never on a
// single-byte code page). Path scans step over whole characters with it:
// the second byte of a character can be 0x5C, the backslash.
bool is_lead_byte(unsigned char c);

// The full path that path names from the current directory and drive, as
// GetFullPathName resolves it. 0 when it fits in capacity, -1 when it does
// not, kNotHeld when the ANSI code page cannot hold it exactly.
constexpr int kNotHeld = -2;
int full_path(const char* path, char* buf, std::size_t capacity);

}  // namespace ops
