#include "names.h"

#include <cstdint>
#include <cstring>

#include "temp_names.h"

namespace rdz::names {

namespace {

constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// An entry name is split on both slashes wherever it is unpacked: a name
// written on Windows must not become a file name with a backslash in it.
bool is_entry_name_sep(char c) { return c == '/' || c == '\\'; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

// Windows opens a device for these base names, whatever extension follows
// and whatever blanks precede the extension.
bool is_device_name(std::string_view c) {
  std::string_view base = c.substr(0, c.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (iequals(base, d)) return true;
  }
  if (base.size() < 4) return false;
  std::string_view stem = base.substr(0, 3);
  if (!iequals(stem, "COM") && !iequals(stem, "LPT")) return false;
  std::string_view num = base.substr(3);
  if (num.size() == 1) return num[0] >= '0' && num[0] <= '9';
  // Superscript one, two and three count as digits here too.
  return num == "\xC2\xB9" || num == "\xC2\xB2" || num == "\xC2\xB3";
}

}  // namespace

const char* describe(Verdict v) {
  switch (v) {
    case Verdict::ok: return "ok";
    case Verdict::empty: return "empty name";
    case Verdict::too_long: return "name too long";
    case Verdict::bad_utf8: return "name flagged UTF-8 is not valid UTF-8";
    case Verdict::absolute: return "absolute path";
    case Verdict::drive: return "drive letter in path";
    case Verdict::parent: return "\"..\" component in path";
    case Verdict::reserved_name: return "reserved device name";
    case Verdict::bad_char: return "character not allowed in Windows names (<>:\"|?*)";
    case Verdict::control_char: return "control character in name";
    case Verdict::trailing_dot_or_blank: return "component ends in a dot or blank";
    case Verdict::component_too_long: return "path component longer than 255 characters";
    case Verdict::component_too_long_here: return "path component longer than this system allows";
    case Verdict::temporary_name: return "name kept for the extractor's temporary files";
  }
  return "invalid name";
}

bool valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t n;
    uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; min = 0x10000; }
    else return false;
    if (static_cast<size_t>(end - p) <= n) return false;
    for (size_t i = 1; i <= n; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = cp << 6 | (p[i] & 0x3F);
    }
    // Overlong forms and surrogates would let two spellings name one file.
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += n + 1;
  }
  return true;
}

bool cp437_to_utf8(std::string_view in, char* out, size_t cap, size_t* len) {
  size_t n = 0;
  for (unsigned char c : in) {
    char enc[3];
    size_t k;
    if (c < 0x80) {
      enc[0] = static_cast<char>(c);
      k = 1;
    } else {
      uint16_t cp = kCp437High[c - 0x80];
      if (cp < 0x800) {
        enc[0] = static_cast<char>(0xC0 | cp >> 6);
        enc[1] = static_cast<char>(0x80 | (cp & 0x3F));
        k = 2;
      } else {
        enc[0] = static_cast<char>(0xE0 | cp >> 12);
        enc[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        enc[2] = static_cast<char>(0x80 | (cp & 0x3F));
        k = 3;
      }
    }
    if (cap - n <= k) return false;  // keep room for the terminator
    std::memcpy(out + n, enc, k);
    n += k;
  }
  if (n >= cap) return false;
  out[n] = '\0';
  *len = n;
  return true;
}

Verdict decode(const zip::Entry& e, char* out, size_t cap, size_t* len) {
  std::string_view src = e.name;
  bool as_utf8 = e.utf8();
  if (!as_utf8 && !e.unicode_name.empty() && valid_utf8(e.unicode_name)) {
    src = e.unicode_name;
    as_utf8 = true;
  }
  // Unix writers store the bytes of a UTF-8 locale without saying so; CP437
  // text with letters beyond ASCII is practically never valid UTF-8.
  if (!as_utf8 && (e.host() == zip::host::kUnix || e.host() == zip::host::kOsx) &&
      valid_utf8(src)) {
    as_utf8 = true;
  }
  if (as_utf8) {
    if (!valid_utf8(src)) return Verdict::bad_utf8;
    if (src.size() >= cap) return Verdict::too_long;
    std::memcpy(out, src.data(), src.size());
    out[src.size()] = '\0';
    *len = src.size();
    return Verdict::ok;
  }
  return cp437_to_utf8(src, out, cap, len) ? Verdict::ok : Verdict::too_long;
}

Verdict check_component(std::string_view c, ComponentLimit here) {
  if (c.empty()) return Verdict::empty;
  if (c == "..") return Verdict::parent;
  size_t units = 0;
  for (unsigned char ch : c) {
    if (ch < 0x20) return Verdict::control_char;
    if (std::strchr("<>:\"|?*", ch) != nullptr) return Verdict::bad_char;
    // Count UTF-16 units: one per lead byte, two for a four-byte sequence.
    if ((ch & 0xC0) != 0x80) units += (ch >= 0xF0) ? 2 : 1;
  }
  if (units > kMaxComponentUnits) return Verdict::component_too_long;
  if ((here.unit == ComponentLimit::Unit::byte ? c.size() : units) > here.most) {
    return Verdict::component_too_long_here;
  }
  // Windows drops these silently, so "a." and "a" would be one file.
  if (c.back() == '.' || c.back() == ' ') return Verdict::trailing_dot_or_blank;
  if (is_device_name(c)) return Verdict::reserved_name;
  if (looks_like_temp(c)) return Verdict::temporary_name;
  return Verdict::ok;
}

Verdict normalize(std::string_view name, char* out, size_t cap, size_t* len, bool* is_dir,
                  ComponentLimit here) {
  *len = 0;
  *is_dir = false;
  if (name.empty()) return Verdict::empty;
  if (name.size() > kMaxName) return Verdict::too_long;
  if (is_entry_name_sep(name[0])) return Verdict::absolute;
  if (name.size() >= 2 && name[1] == ':' && upper(name[0]) >= 'A' && upper(name[0]) <= 'Z') {
    return Verdict::drive;
  }
  *is_dir = is_entry_name_sep(name.back());
  size_t n = 0;
  size_t i = 0;
  while (i < name.size()) {
    size_t j = i;
    while (j < name.size() && !is_entry_name_sep(name[j])) ++j;
    std::string_view comp = name.substr(i, j - i);
    i = j + 1;
    if (comp.empty() || comp == ".") continue;
    Verdict v = check_component(comp, here);
    if (v != Verdict::ok) return v;
    size_t need = comp.size() + (n ? 1 : 0);
    if (need >= cap - n) return Verdict::too_long;
    if (n) out[n++] = '/';
    std::memcpy(out + n, comp.data(), comp.size());
    n += comp.size();
  }
  if (cap) out[n] = '\0';
  *len = n;
  if (n == 0 && !*is_dir) return Verdict::empty;
  return Verdict::ok;
}

namespace {

// Bytes of the character that starts at name[i]: its lead byte and the
// continuation bytes that follow it, at least 1.
size_t char_len(std::string_view name, size_t i) {
  const auto c = static_cast<unsigned char>(name[i]);
  const size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  size_t n = 1;
  while (n < want && i + n < name.size() && (static_cast<unsigned char>(name[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

// C0 controls, DEL, and the C1 controls U+0080..U+009F: a terminal acts on
// them all (U+009B starts a command, as ESC [ does).
bool is_control(std::string_view ch) {
  const auto c = static_cast<unsigned char>(ch[0]);
  if (ch.size() == 1) return c < 0x20 || c == 0x7F;
  return ch.size() == 2 && c == 0xC2 && static_cast<unsigned char>(ch[1]) < 0xA0;
}

}  // namespace

size_t printable(std::string_view name, char* out, size_t cap, bool ascii_only) {
  if (cap == 0) return 0;
  constexpr std::string_view kCut = "...";
  size_t limit = cap - 1;
  if (name.size() > limit) limit = limit > kCut.size() ? limit - kCut.size() : 0;
  size_t n = 0, i = 0;
  while (i < name.size()) {
    // Beyond ASCII, a byte at a time: each becomes '?'.
    const size_t k = ascii_only ? 1 : char_len(name, i);
    const std::string_view ch = name.substr(i, k);
    const bool masked = is_control(ch) || (ascii_only && static_cast<unsigned char>(ch[0]) >= 0x80);
    const size_t put = masked ? 1 : k;
    if (put > limit - n) break;  // never half a character before the ellipsis
    if (masked) out[n] = '?';
    else std::memcpy(out + n, ch.data(), k);
    n += put;
    i += k;
  }
  if (i < name.size()) {
    for (char c : kCut) {
      if (n < cap - 1) out[n++] = c;
    }
  }
  out[n] = '\0';
  return n;
}

}  // namespace rdz::names
