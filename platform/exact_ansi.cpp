#include "platform/exact_ansi.h"

#include <cwchar>

namespace ops {

Held to_ansi_exactly(const wchar_t* wide, std::size_t length, char* buf, std::size_t capacity,
                     const CodePage& code_page, std::size_t* stored) {
  if (capacity == 0 || length > kMaxExactText) return Held::too_long;
  int n = 0;
  if (length > 0) {
    Default used = Default::unknown;
    n = code_page.to_ansi(wide, static_cast<int>(length), buf, static_cast<int>(capacity - 1), &used);
    if (n < 0) return Held::too_long;
    if (n == 0 || used == Default::used) return Held::not_exactly;
    // Where the code page cannot tell, the way back shows it: only an exact
    // conversion gives the same text.
    wchar_t back[kMaxExactText];
    if (used == Default::unknown &&
        (code_page.from_ansi(buf, n, back, static_cast<int>(length)) != static_cast<int>(length) ||
         std::wmemcmp(back, wide, length) != 0))
      return Held::not_exactly;
  }
  buf[n] = '\0';
  if (stored != nullptr) *stored = static_cast<std::size_t>(n);
  return Held::exactly;
}

}  // namespace ops
