#include "zipwriter.h"

#include <zlib.h>

#include <cstdlib>
#include <sstream>

namespace rdz::test {

namespace {

void put(std::string& s, uint64_t v, int bytes) {  // little-endian
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
}

}  // namespace

std::string deflated(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The local header repeats the record's fields from the version needed on.
void ZipWriter::add(const ZipEntry& e) {
  const std::string packed = e.payload ? *e.payload : e.method == 8 ? deflated(e.data) : e.data;
  const uint32_t crc = e.crc.value_or(static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()))));
  const uint64_t usize = e.usize.value_or(e.data.size()), csize = e.csize.value_or(packed.size());
  const uint64_t offset = e.shares.value_or(body.size() + (adjusted ? prefix.size() : 0));
  const uint32_t all = 0xFFFFFFFF, flags = e.flags | (e.descriptor ? 0x08 : 0);
  auto fixed = [&](std::string& s, bool local) {
    put(s, e.zip64 ? 45 : 20, 2), put(s, flags, 2), put(s, e.method, 2), put(s, e.dos_time, 4);
    const bool hide = local && e.descriptor;
    put(s, hide ? 0 : crc, 4);
    put(s, e.zip64 ? all : hide ? 0 : csize, 4), put(s, e.zip64 ? all : hide ? 0 : usize, 4);
  };
  if (!e.shares) {
    const std::string& name = e.local_name ? *e.local_name : e.name;
    locals.push_back(prefix.size() + body.size());
    put(body, 0x04034b50, 4), fixed(body, true), put(body, name.size(), 2), put(body, e.zip64 ? 20 : 0, 2);
    body += name;
    if (e.zip64) put(body, 1, 2), put(body, 16, 2), put(body, usize, 8), put(body, csize, 8);
    body += packed;
    if (e.descriptor) {
      put(body, 0x08074b50, 4), put(body, crc, 4);
      put(body, csize, e.zip64 ? 8 : 4), put(body, usize, e.zip64 ? 8 : 4);
    }
  }
  std::string x;
  if (e.zip64) put(x, 1, 2), put(x, 24, 2), put(x, usize, 8), put(x, csize, 8), put(x, offset, 8);
  if (e.mtime) put(x, 0x5455, 2), put(x, 5, 2), put(x, 1, 1), put(x, *e.mtime, 4);
  x += e.cd_extra;
  records.push_back(cd.size());
  put(cd, 0x02014b50, 4), put(cd, e.made_by, 2), fixed(cd, false);
  put(cd, e.name.size(), 2), put(cd, x.size(), 2), put(cd, 0, 6), put(cd, e.attr, 4);
  put(cd, e.zip64 ? all : offset, 4);
  cd += e.name + x;
}

std::string ZipWriter::finish() {
  const uint64_t n = declared.value_or(records.size()), shift = adjusted ? prefix.size() : 0;
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

// Decimal or hexadecimal numbers joined by +, - and *, read up to what
// follows them.
uint64_t number(const char** p) {
  uint64_t sum = 0, term = 1;
  for (char sign = '+';;) {
    char* end;
    term *= std::strtoull(*p, &end, 0);
    *p = end + (*end == '*' || *end == '+' || *end == '-');
    if (*end == '*') continue;
    sum = sign == '+' ? sum + term : sum - term, term = 1, sign = *end;
    if (*p == end) return sum;
  }
}

uint64_t number(const std::string& s) {
  const char* p = s.c_str();
  return number(&p);
}

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
    const char* rest = s.c_str() + op + 1;
    const uint64_t n = number(&rest);
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

std::vector<std::string> tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> t;
  for (std::string w; in >> w && w != "#";) t.push_back(w);
  return t;
}

// "file NAME [DATA] [FIELD=VALUE | FLAG]..." or "dir NAME ...".
ZipEntry entry(const std::vector<std::string>& t) {
  ZipEntry e;
  e.name = bytes(t.at(1));
  if (t[0] == "dir") e.method = 0, e.attr = 040755u << 16 | 0x10;
  std::optional<uint64_t> cut;
  std::string pad;
  for (size_t i = 2; i < t.size(); ++i) {
    const size_t eq = t[i].find('=');
    const std::string k = t[i].substr(0, eq), v = eq == std::string::npos ? "" : t[i].substr(eq + 1);
    if (k == "zip64" || k == "descriptor") (k == "zip64" ? e.zip64 : e.descriptor) = true;
    else if (eq == std::string::npos) e.data = bytes(k);
    else if (k == "method") e.method = static_cast<uint16_t>(number(v));
    else if (k == "flags") e.flags = static_cast<uint16_t>(number(v));
    else if (k == "made-by") e.made_by = static_cast<uint16_t>(number(v));
    else if (k == "attr") e.attr = static_cast<uint32_t>(number(v));
    else if (k == "time") e.dos_time = static_cast<uint32_t>(number(v));
    else if (k == "mtime") e.mtime = v == "none" ? std::nullopt : std::optional<uint32_t>(number(v));
    else if (k == "extra") e.cd_extra = bytes(v);
    else if (k == "crc") e.crc = static_cast<uint32_t>(number(v));
    else if (k == "usize") e.usize = number(v);
    else if (k == "csize") e.csize = number(v);
    else if (k == "shares") e.shares = number(v);
    else if (k == "local-name") e.local_name = bytes(v);
    else if (k == "payload") e.payload = bytes(v);
    else if (k == "cut") cut = number(v);
    else if (k == "pad") pad = bytes(v);
    else std::abort();  // a recipe misspelt
  }
  if (cut || !pad.empty()) {
    e.payload = e.payload.value_or(e.method == 8 ? deflated(e.data) : e.data);
    e.payload = e.payload->substr(0, cut.value_or(e.payload->size())) + pad;
  }
  return e;
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
    else if (k == "declared") w.declared = number(v);
    else if (k == "cd-delta") w.cd_delta = number(v);
    else std::abort();
  }
  std::vector<std::vector<std::string>> mutations;
  for (std::string line; (in.peek() == ' ' || in.peek() == '\n') && std::getline(in, line);) {
    const std::vector<std::string> t = tokens(line);
    if (t.empty()) continue;
    if (t[0] == "set" || t[0] == "drop") mutations.push_back(t);
    else if (t[0] == "repeat") add_repeated(w, t);
    else if (t[0] == "raw") raw += bytes(t.at(1));
    else w.add(entry(t));
  }
  *archive = head.size() > 1 && head[1].rfind("raw=", 0) == 0 ? raw : w.finish();
  for (auto& t : mutations) mutate(w, t, *archive);
  return true;
}

}  // namespace rdz::test
