// The platform operations on Windows: the ANSI Win32 calls, the C runtime's
// stdio, and the console's wide calls where typed or shown text meets the
// person. Nothing else in the installer includes <windows.h>.
#include "platform/ops.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/interpreter.h"

namespace ops {
namespace {

// The record lives in the 32-bit view: a 64-bit build must find what 32-bit
// copies of the installer wrote, and the other way round.
constexpr REGSAM kView = KEY_WOW64_32KEY;

// Characters kept of a typed line: more than a path can hold, with its line
// end; the rest of a longer line is read and dropped.
constexpr DWORD kLongestLine = 512;

HKEY to_hkey(RegKey key) { return static_cast<HKEY>(key); }

struct Child {
  PROCESS_INFORMATION info;
};

StartResult start_child(const char* program, char* command_line, void* context) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  Child* child = static_cast<Child*>(context);
  if (CreateProcessA(program, command_line, nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &child->info))
    return StartResult::started;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
      return StartResult::not_found;
    default:
      return StartResult::failed;
  }
}

// getenv() is the C runtime's copy, whose names are matched without regard
// to case on Windows, as the interpreter lookup requires.
const char* environment(const char* name) { return std::getenv(name); }

// The high bit of the version marks the Windows 95 family, whose
// interpreter is command.com.
bool is_windows95_family() { return (GetVersion() & 0x80000000u) != 0; }

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// A typed line, read as the characters typed: a byte read would already
// have replaced those outside the console's code page by '?', which then
// could not be refused. The whole line is read, also when it is too long.
Line read_console_line(HANDLE input, char* buf, std::size_t capacity, std::size_t* length) {
  wchar_t line[kLongestLine];
  DWORD total = 0;
  bool fits = true;
  for (;;) {
    wchar_t chunk[256];
    DWORD got = 0;
    if (!ReadConsoleW(input, chunk, 256, &got, nullptr) || got == 0) break;
    if (total == 0 && chunk[0] == 0x1A) return Line::end;  // Ctrl-Z, as the C runtime reads it
    for (DWORD i = 0; i < got; ++i) {
      if (total < kLongestLine) line[total++] = chunk[i];
      else fits = false;
    }
    if (chunk[got - 1] == L'\n') break;
  }
  if (total == 0) return Line::end;
  while (total > 0 && (line[total - 1] == L'\n' || line[total - 1] == L'\r')) --total;
  if (!fits) return Line::too_long;
  // UTF-8 holds every character, and the call refuses the flag for it.
  BOOL used_default = FALSE;
  bool utf8 = GetACP() == CP_UTF8;
  int n = total == 0 ? 0
                     : WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, line,
                                           static_cast<int>(total), buf,
                                           static_cast<int>(capacity - 1), nullptr,
                                           utf8 ? nullptr : &used_default);
  if (total > 0 && n == 0)
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? Line::too_long : Line::unconvertible;
  if (used_default) return Line::unconvertible;
  buf[n] = '\0';
  *length = static_cast<std::size_t>(n);
  return Line::read;
}

}  // namespace

long reg_open_read(const char* path, RegKey* key) {
  HKEY h = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kView, &h);
  *key = h;
  return status;
}

long reg_query_value(RegKey key, const char* name, std::uint32_t* type,
                     unsigned char* data, std::uint32_t* size) {
  DWORD t = 0;
  DWORD n = *size;
  LONG status = RegQueryValueExA(to_hkey(key), name, nullptr, &t, data, &n);
  *type = t;
  *size = n;
  return status;
}

long reg_create_write(const char* path, RegKey* key) {
  HKEY h = nullptr;
  char no_class[] = "";
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, no_class,
                                REG_OPTION_NON_VOLATILE, KEY_WRITE | kView,
                                nullptr, &h, nullptr);
  *key = h;
  return status;
}

long reg_set_value(RegKey key, const char* name, std::uint32_t type,
                   const unsigned char* data, std::uint32_t size) {
  return RegSetValueExA(to_hkey(key), name, 0, type, data, size);
}

void reg_close(RegKey key) { RegCloseKey(to_hkey(key)); }

std::uint32_t file_attributes(const char* path) { return GetFileAttributesA(path); }

int create_directory(const char* path) {
  return CreateDirectoryA(path, nullptr) ? 0 : -1;
}

void current_directory(char* buf, std::size_t capacity) {
  GetCurrentDirectoryA(static_cast<DWORD>(capacity), buf);
}

int delete_file(const char* name) { return DeleteFileA(name) ? 0 : -1; }

std::uint32_t last_error() { return GetLastError(); }

void set_last_error(std::uint32_t code) { SetLastError(code); }

char* acquire_error_text(std::uint32_t code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0) return nullptr;
  return text;
}

void release_error_text(char* text) {
  if (text != nullptr) LocalFree(text);
}

int run_command(const char* command) {
  char system_dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(system_dir, sizeof system_dir);
  if (n == 0 || n >= sizeof system_dir) system_dir[0] = '\0';
  Child child = {};
  if (start_interpreter(environment("COMSPEC"), system_dir, is_windows95_family(), command,
                        start_child, &child) != StartResult::started)
    return -1;
  WaitForSingleObject(child.info.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  if (!GetExitCodeProcess(child.info.hProcess, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(child.info.hThread);
  CloseHandle(child.info.hProcess);
  return static_cast<int>(code);
}

bool interpreter_is_cmd() {
  return ops::interpreter_is_cmd(environment("COMSPEC"), is_windows95_family());
}

void print(Stream stream, const char* format, ...) {
  std::FILE* file = stream == Stream::out ? stdout : stderr;
  HANDLE handle = GetStdHandle(stream == Stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  std::va_list args;
  va_start(args, format);
  if (!is_console(handle)) {
    std::vfprintf(file, format, args);
    va_end(args);
    return;
  }
  // A console would show the bytes in its own output code page, which is
  // not the ANSI one (850 against 1252 on a German system): hand it the
  // characters instead. The longest text printed (the command in an error
  // line) is well within these buffers.
  char text[4096];
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) >= sizeof text) n = sizeof text - 1;
  wchar_t wide[4096];
  int w = MultiByteToWideChar(CP_ACP, 0, text, n, wide, 4096);
  std::fflush(file);
  DWORD written = 0;
  if (w > 0) WriteConsoleW(handle, wide, static_cast<DWORD>(w), &written, nullptr);
}

void flush_output() {
  std::fflush(stdout);
  std::fflush(stderr);
}

Line read_line(char* buf, std::size_t capacity, std::size_t* length) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (is_console(input)) return read_console_line(input, buf, capacity, length);
  std::size_t n = 0;
  bool fits = true;
  int c = std::getc(stdin);
  if (c == EOF) return Line::end;
  for (; c != EOF && c != '\n'; c = std::getc(stdin)) {
    if (n + 1 < capacity) buf[n++] = static_cast<char>(c);
    else fits = false;
  }
  if (!fits) return Line::too_long;
  buf[n] = '\0';
  *length = n;
  return Line::read;
}

int read_char() {
  // A console user who ended the input with Ctrl-Z can still press Enter:
  // a sticky end-of-file indicator would skip that wait. A file or pipe at
  // its end just reports the end again.
  std::clearerr(stdin);
  int c = std::getc(stdin);
  return c == EOF ? -1 : c;
}

bool is_lead_byte(unsigned char c) { return IsDBCSLeadByteEx(CP_ACP, c) != 0; }

int expand_environment(const char* text, char* buf, std::size_t capacity) {
  // The ANSI call may count one byte more than it stores: keep that one free.
  DWORD n = ExpandEnvironmentStringsA(text, buf, static_cast<DWORD>(capacity));
  return n > 0 && n < capacity ? 0 : -1;
}

int full_path(const char* path, char* buf, std::size_t capacity) {
  DWORD n = GetFullPathNameA(path, static_cast<DWORD>(capacity), buf, nullptr);
  return n > 0 && n < capacity ? 0 : -1;
}

}  // namespace ops
