#include "zipwriter.h"

#include <zlib.h>

#include <cstdlib>
#include <sstream>

namespace rdz::test {

namespace {

void put(std::string& s, uint64_t v, int bytes) {  // little-endian
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
}

// Raw deflate: the stream zlib wraps, without the wrapping.
std::string deflated(const std::string& data, int level) {
  uLongf n = compressBound(data.size());
  std::string out(n, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(data.data()), data.size(), level);
  return out.substr(2, n - 6);
}

// Decimal or hexadecimal numbers joined by +, - and *; rest, if asked,
// is where what follows them begins.
uint64_t number(const char* p, const char** rest = nullptr) {
  uint64_t sum = 0, term = 1;
  for (char sign = '+';;) {
    char* end;
    term *= std::strtoull(p, &end, 0);
    p = end + (*end == '*' || *end == '+' || *end == '-');
    if (*end == '*') continue;
    sum = sign == '+' ? sum + term : sum - term, term = 1, sign = *end;
    if (p == end && rest) *rest = p;
    if (p == end) return sum;
  }
}

uint64_t number(const std::string& s) { return number(s.c_str()); }

std::string unescape(const std::string& s) {  // \xHH and \\ .
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') out += s[i];
    else if (s[++i] == 'x') out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
    else out += s[i];
  }
  return out;
}

std::string with_index(std::string s, uint64_t i) {
  for (size_t at; (at = s.find("%d")) != std::string::npos;) s.replace(at, 2, std::to_string(i));
  for (size_t at; (at = s.find("%c")) != std::string::npos;) s.replace(at, 2, 1, static_cast<char>('a' + i % 26));
  return s;
}

// TEXT, N copies of TEXT ("TEXT*N", "%d" the copy's number) or TEXT
// repeated to N bytes ("TEXT#N"), then what follows N; "zL:" in front
// deflates it all at level L.
std::string bytes(std::string s) {
  const int level = s.size() > 2 && s[0] == 'z' && s[2] == ':' ? s[1] - '0' : -1;
  if (level >= 0) s.erase(0, 3);
  const size_t op = s.find_first_of("*#");
  std::string out = unescape(s.substr(0, op));
  if (op != std::string::npos) {
    const std::string text = out;
    const char* rest;
    const uint64_t n = number(s.c_str() + op + 1, &rest);
    if (s[op] == '*') {
      out.clear();
      for (uint64_t i = 0; i < n; ++i) out += with_index(text, i);
    } else {
      while (!out.empty() && out.size() < n) out += out;
      out.resize(n);
    }
    out += bytes(rest);
  }
  return level < 0 ? out : deflated(out, level);
}

}  // namespace

// The local header repeats the record's fields from the version needed on.
void ZipWriter::add(const Fields& f) {
  auto num = [&](const char* k, uint64_t d) { return f.count(k) ? number(f.find(k)->second) : d; };
  auto text = [&](const char* k, const std::string& d) { return f.count(k) ? bytes(f.find(k)->second) : d; };
  const std::string name = text("name", ""), data = text("data", "");
  const bool zip64 = f.count("zip64"), descriptor = f.count("descriptor"), dir = f.count("dir");
  const uint64_t method = num("method", dir ? 0 : 8), all = 0xFFFFFFFF;
  std::string packed = text("payload", method == 8 ? deflated(data, 6) : data);
  packed = packed.substr(0, num("cut", packed.size())) + text("pad", "");
  const uint64_t crc = num("crc", crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  const uint64_t usize = num("usize", data.size()), csize = num("csize", packed.size());
  const uint64_t offset = num("shares", body.size() + (adjusted ? prefix.size() : 0));
  auto fixed = [&](std::string& s, bool local) {
    put(s, zip64 ? 45 : 20, 2), put(s, num("flags", 0x0800) | (descriptor ? 0x08 : 0), 2), put(s, method, 2);
    put(s, num("time", 0x58216000), 4);  // 2024-01-01 12:00
    const bool hide = local && descriptor;
    put(s, hide ? 0 : crc, 4), put(s, zip64 ? all : hide ? 0 : csize, 4), put(s, zip64 ? all : hide ? 0 : usize, 4);
  };
  if (!f.count("shares")) {  // else the record points at another's local header
    const std::string local_name = text("local-name", name);
    locals.push_back(prefix.size() + body.size());
    put(body, 0x04034b50, 4), fixed(body, true), put(body, local_name.size(), 2), put(body, zip64 ? 20 : 0, 2);
    body += local_name;
    if (zip64) put(body, 1, 2), put(body, 16, 2), put(body, usize, 8), put(body, csize, 8);
    body += packed;
    if (descriptor) {
      put(body, 0x08074b50, 4), put(body, crc, 4);
      put(body, csize, zip64 ? 8 : 4), put(body, usize, zip64 ? 8 : 4);
    }
  }
  std::string x;
  if (zip64) put(x, 1, 2), put(x, 24, 2), put(x, usize, 8), put(x, csize, 8), put(x, offset, 8);
  if (text("mtime", "") != "none") put(x, 0x5455, 2), put(x, 5, 2), put(x, 1, 1), put(x, num("mtime", 1700000000), 4);
  x += text("extra", "");
  records.push_back(cd.size());
  put(cd, 0x02014b50, 4), put(cd, num("made-by", 3 << 8 | 20), 2), fixed(cd, false);  // Unix
  put(cd, name.size(), 2), put(cd, x.size(), 2), put(cd, 0, 6);
  put(cd, num("attr", dir ? 040755u << 16 | 0x10 : 0100644u << 16), 4), put(cd, zip64 ? all : offset, 4);
  cd += name + x;
}

std::string ZipWriter::finish() {
  const uint64_t n = declared >= 0 ? declared : records.size(), shift = adjusted ? prefix.size() : 0;
  const uint64_t at = body.size() + shift + cd_delta;
  std::string out = prefix + body + cd;
  cd_at = prefix.size() + body.size();
  if (zip64_end) {
    put(out, 0x06064b50, 4), put(out, 44, 8), put(out, 45, 2), put(out, 45, 2), put(out, 0, 8);
    put(out, n, 8), put(out, n, 8), put(out, cd.size(), 8), put(out, at, 8);
    put(out, 0x07064b50, 4), put(out, 0, 4), put(out, body.size() + cd.size() + shift, 8), put(out, 1, 4);
  }
  end_at = out.size();
  put(out, 0x06054b50, 4), put(out, 0, 4), put(out, zip64_end ? 0xFFFF : n & 0xFFFF, 2);
  put(out, zip64_end ? 0xFFFF : n & 0xFFFF, 2), put(out, zip64_end ? 0xFFFFFFFF : cd.size(), 4);
  put(out, zip64_end ? 0xFFFFFFFF : at, 4), put(out, comment.size(), 2);
  return out + comment;
}

namespace {

std::vector<std::string> tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> t;
  for (std::string w; in >> w && w != "#";) t.push_back(w);
  return t;
}

// "file NAME [DATA] [FIELD=VALUE | FLAG]..." or "dir NAME ...".
Fields entry(const std::vector<std::string>& t) {
  static const std::string known = " data dir method flags made-by attr time mtime extra crc usize csize shares"
                                   " local-name payload cut pad zip64 descriptor ";
  Fields f{{"name", t.at(1)}};
  if (t[0] == "dir") f["dir"];
  for (size_t i = 2; i < t.size(); ++i) {
    const size_t eq = t[i].find('=');
    const bool flag = t[i] == "zip64" || t[i] == "descriptor";
    const std::string k = eq != std::string::npos ? t[i].substr(0, eq) : flag ? t[i] : "data";
    f[k] = eq != std::string::npos ? t[i].substr(eq + 1) : flag ? "" : t[i];
    if (known.find(" " + k + " ") == std::string::npos) std::abort();  // a recipe misspelt
  }
  return f;
}

// "repeat FROM TO ENTRY": in each copy "%d" is its number, "%c" a letter
// after it, and of "A|B|C" the number modulo 3 chooses one.
void add_repeated(ZipWriter& w, const std::vector<std::string>& t) {
  for (uint64_t i = number(t.at(1)); i < number(t.at(2)); ++i) {
    std::vector<std::string> one;
    for (size_t k = 3; k < t.size(); ++k) {
      const size_t eq = t[k].find('=') + 1;  // 0 without one
      std::vector<std::string> alt(1);
      for (char c : t[k].substr(eq)) c == '|' ? alt.emplace_back() : alt.back() += c;
      one.push_back(with_index(t[k].substr(0, eq) + alt[i % alt.size()], i));
    }
    w.add(entry(one));
  }
}

uint64_t anchor(const ZipWriter& w, const std::string& a) {
  if (a.rfind("local", 0) == 0) return w.locals.at(std::stoul(a.substr(5)) - 1);
  if (a.rfind("record", 0) == 0) return w.cd_at + w.records.at(std::stoul(a.substr(6)) - 1);
  return a == "end" ? w.end_at : a == "locator" ? w.end_at - 20 : w.end_at - 76;  // zip64-end
}

// "set ANCHOR[+N] VALUE BYTES" writes VALUE over BYTES bytes N past where
// ANCHOR begins; "drop N" cuts the last N bytes off.
void mutate(const ZipWriter& w, const std::vector<std::string>& t, std::string& zip) {
  if (t.at(0) == "drop") return zip.resize(zip.size() - number(t.at(1)));
  const size_t plus = t.at(1).find('+');
  const uint64_t at = anchor(w, t[1].substr(0, plus)) + (plus == std::string::npos ? 0 : number(t[1].substr(plus + 1)));
  for (uint64_t i = 0, v = number(t.at(2)); i < number(t.at(3)); ++i) zip.at(at + i) = static_cast<char>(v >> (8 * i));
}

}  // namespace

bool next_recipe(std::istream& in, std::string* name, std::string* archive) {
  std::vector<std::string> head;
  for (std::string line; head.empty() && std::getline(in, line);) head = tokens(line);
  if (head.empty()) return false;
  ZipWriter w;
  std::string raw;
  *name = head[0];
  for (size_t i = 1; i < head.size(); ++i) {
    const size_t eq = head[i].find('=');
    const std::string k = head[i].substr(0, eq), v = eq == std::string::npos ? "" : head[i].substr(eq + 1);
    if (k == "prefix") w.prefix += bytes(v);
    else if (k == "comment") w.comment += bytes(v);
    else if (k == "raw") raw += bytes(v);
    else if (k == "zip64" || k == "adjusted") (k == "zip64" ? w.zip64_end : w.adjusted) = true;
    else if (k == "declared") w.declared = static_cast<int64_t>(number(v));
    else if (k == "cd-delta") w.cd_delta = number(v);
    else std::abort();
  }
  std::vector<std::vector<std::string>> mutations;
  for (std::string line; (in.peek() == ' ' || in.peek() == '\n') && std::getline(in, line);) {
    const std::vector<std::string> t = tokens(line);
    if (t.empty()) continue;
    if (t[0] == "set" || t[0] == "drop") mutations.push_back(t);
    else if (t[0] == "repeat") add_repeated(w, t);
    else w.add(entry(t));
  }
  *archive = head.size() > 1 && head[1].rfind("raw=", 0) == 0 ? raw : w.finish();
  for (auto& t : mutations) mutate(w, t, *archive);
  return true;
}

}  // namespace rdz::test
