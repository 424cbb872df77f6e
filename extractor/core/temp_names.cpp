#include "temp_names.h"

namespace rdz {

namespace {

constexpr std::string_view kHead = ".rdz-", kTail = ".tmp";
constexpr char kHex[] = "0123456789abcdef";

// `a`, as long as the lowercase `b`, is `b` in any case.
bool same_folded(std::string_view a, std::string_view b) {
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

void put_hex(uint32_t v, char* out) {
  for (int i = 0; i < 8; ++i) out[7 - i] = kHex[(v >> (4 * i)) & 15];
}

}  // namespace

void make_temp_name(uint32_t run, uint32_t file, char* out) {
  size_t n = 0;
  for (char c : kHead) out[n++] = c;
  put_hex(run, out + n);
  put_hex(file, out + n + 8);
  n += 16;
  for (char c : kTail) out[n++] = c;
  out[n] = '\0';
}

bool looks_like_temp(std::string_view c) {
  return c.size() >= kHead.size() + kTail.size() && same_folded(c.substr(0, kHead.size()), kHead) &&
         same_folded(c.substr(c.size() - kTail.size()), kTail);
}

bool is_leftover(std::string_view name, uint32_t run) {
  if (name.size() != kTempNameLen && name.size() != kTempNameLen - 8) return false;
  if (name.substr(0, kHead.size()) != kHead || name.substr(name.size() - kTail.size()) != kTail) {
    return false;
  }
  const std::string_view digits = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
  for (char c : digits) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  char mine[8];
  put_hex(run, mine);
  return digits.size() == 8 || digits.substr(0, 8) != std::string_view(mine, 8);
}

}  // namespace rdz
