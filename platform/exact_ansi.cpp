#include "platform/exact_ansi.h"

#include <cwchar>

namespace ops {

Held to_ansi_exactly(const wchar_t* wide, std::size_t length, char* buf, std::size_t capacity,
                     const CodePage& code_page, std::size_t* stored) {
  if (capacity == 0 || length > kMaxExactText) return Held::too_long;
  int n = 0;
  if (length > 0) {
    bool used_default = false;
    n = code_page.to_ansi(wide, static_cast<int>(length), buf, static_cast<int>(capacity - 1),
                          &used_default);
    if (n < 0) return Held::too_long;
    if (n == 0 || used_default) return Held::not_exactly;
    // Where the code page cannot tell that a character had no equivalent,
    // the way back shows it: only an exact conversion gives the same text.
    wchar_t back[kMaxExactText];
    int returned = code_page.from_ansi(buf, n, back, static_cast<int>(length));
    if (returned != static_cast<int>(length) || std::wmemcmp(back, wide, length) != 0)
      return Held::not_exactly;
  }
  buf[n] = '\0';
  if (stored != nullptr) *stored = static_cast<std::size_t>(n);
  return Held::exactly;
}

}  // namespace ops
