// Texts the system hands over wide, taken in the ANSI code page exactly or
// not at all.
//
// An ANSI call hands over a look-alike for a letter the code page cannot
// hold: "Łukasz" becomes "Lukasz", a fullwidth backslash a real one, and
// the text names another place than the system meant. The decision whether
// a conversion held every character is kept apart from the system's
// conversions so that it can be tested on any host.
#pragma once

#include <cstddef>

namespace ops {

// Whether a conversion put the code page's default character for one that
// had no equivalent: the system tells where the code page can (UTF-8
// cannot).
enum class Default { unused, used, unknown };

// The ANSI code page's two conversions, as the system performs them.
struct CodePage {
  // Stores the length characters of wide in at most capacity bytes, never as
  // a look-alike, and returns how many bytes it stored: -1 when they do not
  // fit, 0 on any other failure.
  int (*to_ansi)(const wchar_t* wide, int length, char* buf, int capacity, Default* used);
  // The way back: the characters stored (at most capacity), 0 on failure.
  int (*from_ansi)(const char* text, int length, wchar_t* buf, int capacity);
};

// Longest text converted, in characters.
constexpr std::size_t kMaxExactText = 1024;

enum class Held { exactly, not_exactly, too_long };

// Converts the length characters of wide into buf, terminated within
// capacity bytes, and sets *stored (when given) to the bytes before the
// terminator. Unless it returns exactly, buf holds nothing to use.
Held to_ansi_exactly(const wchar_t* wide, std::size_t length, char* buf, std::size_t capacity,
                     const CodePage& code_page, std::size_t* stored = nullptr);

}  // namespace ops
