// The platform operations on Windows: the ANSI Win32 calls for texts we
// hand to the system, the wide ones for texts it hands us (converted to the
// ANSI code page only when exactly held), the C runtime's stdio, and the
// console's wide calls where typed or shown text meets the person. Nothing
// else in the installer includes <windows.h>.
#include "platform/ops.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/exact_ansi.h"
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

int to_ansi(const wchar_t* wide, int length, char* buf, int capacity, Default* used) {
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, buf, capacity, nullptr,
                              &used_default);
  DWORD error = n == 0 ? GetLastError() : ERROR_SUCCESS;
  *used = used_default ? Default::used : Default::unused;
  // UTF-8 (and a few code pages no system uses as its ANSI one) refuse the
  // flag and the question; the way back then tells.
  if (error == ERROR_INVALID_FLAGS || error == ERROR_INVALID_PARAMETER) {
    n = WideCharToMultiByte(CP_ACP, 0, wide, length, buf, capacity, nullptr, nullptr);
    error = n == 0 ? GetLastError() : ERROR_SUCCESS;
    *used = Default::unknown;
  }
  return error == ERROR_INSUFFICIENT_BUFFER ? -1 : n;
}

int from_ansi(const char* text, int length, wchar_t* buf, int capacity) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, length, buf, capacity);
}

Held held(const wchar_t* wide, std::size_t length, char* buf, std::size_t capacity,
          std::size_t* stored = nullptr) {
  return to_ansi_exactly(wide, length, buf, capacity, CodePage{to_ansi, from_ansi}, stored);
}

// A variable's value, exactly; false when it is not set or cannot be held.
// Its name is matched without regard to case.
bool environment(const wchar_t* name, char* buf, std::size_t capacity) {
  wchar_t wide[kMaxExactText];
  DWORD n = GetEnvironmentVariableW(name, wide, kMaxExactText);
  return n > 0 && n < kMaxExactText && held(wide, n, buf, capacity) == Held::exactly;
}

bool is_file(const char* path, void*) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The high bit of the version marks the Windows 95 family, whose
// interpreter is command.com.
bool is_windows95_family() { return (GetVersion() & 0x80000000u) != 0; }

// The interpreter that would run a command now, into program (kMaxProgram).
bool find_interpreter(char* program) {
  char comspec[kMaxProgram], system_dir[kMaxProgram] = "";
  wchar_t wide[MAX_PATH];
  UINT n = GetSystemDirectoryW(wide, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || held(wide, n, system_dir, sizeof system_dir) != Held::exactly)
    system_dir[0] = '\0';
  bool set = environment(L"COMSPEC", comspec, sizeof comspec);
  return choose_interpreter(set ? comspec : nullptr, system_dir, is_windows95_family(), is_file,
                            nullptr, program);
}

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
  switch (held(line, total, buf, capacity, length)) {
    case Held::too_long: return Line::too_long;
    case Held::not_exactly: return Line::unconvertible;
    case Held::exactly: return Line::read;
  }
  return Line::unconvertible;
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
  wchar_t wide_name[64];
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, 64) == 0) return ERROR_INVALID_PARAMETER;
  wchar_t wide[kMaxExactText];
  DWORD t = 0;
  DWORD bytes = sizeof wide;
  LONG status = RegQueryValueExW(to_hkey(key), wide_name, nullptr, &t,
                                 reinterpret_cast<BYTE*>(wide), &bytes);
  *type = t;
  if (status != ERROR_SUCCESS) return status;
  std::size_t capacity = *size;
  *size = 0;
  if (t != REG_SZ && t != REG_EXPAND_SZ) return ERROR_SUCCESS;
  char* text = reinterpret_cast<char*>(data);
  switch (held(wide, wcsnlen(wide, bytes / sizeof *wide), text, capacity)) {
    case Held::too_long: return ERROR_MORE_DATA;
    case Held::not_exactly: return ERROR_NO_UNICODE_TRANSLATION;
    case Held::exactly: break;
  }
  *size = static_cast<std::uint32_t>(std::strlen(text) + 1);
  return ERROR_SUCCESS;
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
  wchar_t wide[kMaxExactText];
  char text[kMaxExactText * 3];  // a UTF-16 unit takes at most three bytes
  DWORD n = GetCurrentDirectoryW(kMaxExactText, wide);
  if (n == 0 || n >= kMaxExactText || held(wide, n, text, std::min(capacity, sizeof text)) != Held::exactly)
    return;
  std::memcpy(buf, text, std::strlen(text) + 1);
}

int delete_file(const char* name) { return DeleteFileA(name) ? 0 : -1; }

std::uint32_t last_error() { return GetLastError(); }

void set_last_error(std::uint32_t code) { SetLastError(code); }

char* acquire_error_text(std::uint32_t code) {
  wchar_t* wide = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
  // A UTF-16 unit takes at most three bytes; a text the code page cannot
  // hold is reported as having none.
  char* text = n == 0 ? nullptr : static_cast<char*>(LocalAlloc(LMEM_FIXED, 3 * n + 1));
  if (text != nullptr && held(wide, n, text, 3 * n + 1) != Held::exactly) {
    LocalFree(text);
    text = nullptr;
  }
  if (wide != nullptr) LocalFree(wide);
  return text;
}

void release_error_text(char* text) {
  if (text != nullptr) LocalFree(text);
}

int run_command(const char* command) {
  char program[kMaxProgram];
  char line[kMaxCommandLine];
  if (!find_interpreter(program) || !interpreter_command_line(program, command, line, sizeof line))
    return -1;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
    return -1;
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  if (!GetExitCodeProcess(child.hProcess, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return static_cast<int>(code);
}

Interpreter interpreter() {
  char program[kMaxProgram];
  if (!find_interpreter(program)) return Interpreter::none;
  return is_cmd(program) ? Interpreter::cmd : Interpreter::other;
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

int full_path(const char* path, char* buf, std::size_t capacity) {
  wchar_t wide[kMaxExactText], full[kMaxExactText];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kMaxExactText) == 0) return -1;
  DWORD n = GetFullPathNameW(wide, kMaxExactText, full, nullptr);
  if (n == 0 || n >= kMaxExactText) return -1;
  switch (held(full, n, buf, capacity)) {
    case Held::exactly: return 0;
    case Held::not_exactly: return kNotHeld;
    case Held::too_long: break;
  }
  return -1;
}

}  // namespace ops
