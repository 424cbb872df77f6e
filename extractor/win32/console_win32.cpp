// The standard streams, the wide command line and the words for errors.
#include <cstring>

#include "win32/win32.h"

namespace rdz::sys {

using namespace win32;

namespace {

bool is_console(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode);
}

void write_handle(DWORD which, std::string_view text) {
  HANDLE h = GetStdHandle(which);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return;
  if (is_console(h)) {
    // A console shows UTF-16 correctly whatever its code page is.
    wchar_t wide[1024];
    while (!text.empty()) {
      size_t take = text.size() < 512 ? text.size() : 512;
      // Do not split a UTF-8 sequence between two chunks.
      while (take < text.size() && take > 0 &&
             (static_cast<unsigned char>(text[take]) & 0xC0) == 0x80) {
        --take;
      }
      if (take == 0) take = text.size() < 512 ? text.size() : 512;
      int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(take),
                                  wide, 1024);
      DWORD done;
      if (n > 0) WriteConsoleW(h, wide, static_cast<DWORD>(n), &done, nullptr);
      text.remove_prefix(take);
    }
    return;
  }
  while (!text.empty()) {
    DWORD done = 0;
    if (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) ||
        done == 0) {
      return;
    }
    text.remove_prefix(done);
  }
}

}  // namespace

void error_text(Err e, char* buf, size_t cap) {
  if (cap == 0) return;
  const char* text = own_error_text(e);
  if (text) {
    size_t n = std::strlen(text);
    if (n >= cap) n = cap - 1;
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    return;
  }
  wchar_t wide[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(e), 0, wide, 512, nullptr);
  while (n > 0 && (wide[n - 1] == L'\r' || wide[n - 1] == L'\n' || wide[n - 1] == L'.' ||
                   wide[n - 1] == L' ')) {
    --n;
  }
  int m = n ? WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), buf,
                                  static_cast<int>(cap - 1), nullptr, nullptr)
            : 0;
  if (m <= 0) {
    // No text from the system: the number is still worth showing.
    char text[32] = "error ";
    size_t k = 6;
    char digits[12];
    size_t d = 0;
    for (unsigned long v = static_cast<unsigned long>(e); d == 0 || v; v /= 10) {
      digits[d++] = static_cast<char>('0' + v % 10);
    }
    while (d) text[k++] = digits[--d];
    m = static_cast<int>(k < cap ? k : cap - 1);
    std::memcpy(buf, text, static_cast<size_t>(m));
  }
  buf[m] = '\0';
}

bool is_missing(Err e) {
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

bool raw_command_line(std::u16string_view* line) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const wchar_t* raw = GetCommandLineW();
  *line = raw ? std::u16string_view(reinterpret_cast<const char16_t*>(raw)) : std::u16string_view();
  return true;
}

void keep_going_on_closed_pipes() {}  // Windows raises no signal for a closed pipe

void write_stdout(std::string_view text) { write_handle(STD_OUTPUT_HANDLE, text); }
void write_stderr(std::string_view text) { write_handle(STD_ERROR_HANDLE, text); }

}  // namespace rdz::sys
