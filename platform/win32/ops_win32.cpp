// The platform operations on Windows: the ANSI Win32 calls and the C
// runtime's stdio. Nothing else in the installer includes <windows.h>.
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
  // The high bit of the version marks the Windows 95 family, whose
  // interpreter is command.com.
  bool windows95_family = (GetVersion() & 0x80000000u) != 0;
  Child child = {};
  if (start_interpreter(environment("COMSPEC"), environment("PATH"), windows95_family,
                        command, start_child, &child) != StartResult::started)
    return -1;
  WaitForSingleObject(child.info.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  if (!GetExitCodeProcess(child.info.hProcess, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(child.info.hThread);
  CloseHandle(child.info.hProcess);
  return static_cast<int>(code);
}

void print(Stream stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stream == Stream::out ? stdout : stderr, format, args);
  va_end(args);
}

void flush_output() {
  std::fflush(stdout);
  std::fflush(stderr);
}

int read_line(char* buf, std::size_t capacity) {
  return std::fgets(buf, static_cast<int>(capacity), stdin) ? 0 : -1;
}

int read_char() {
  // A console user who ended the input with Ctrl-Z can still press Enter:
  // a sticky end-of-file indicator would skip that wait. A file or pipe at
  // its end just reports the end again.
  std::clearerr(stdin);
  int c = std::getc(stdin);
  return c == EOF ? -1 : c;
}

void unread_char(int c) {
  if (c >= 0) std::ungetc(c, stdin);
}

}  // namespace ops
