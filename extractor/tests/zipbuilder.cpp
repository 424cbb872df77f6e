#include "zipbuilder.h"

#include <zlib.h>

namespace rdz::test {

void put(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
}

uint32_t dos_datetime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 |
                               minute << 5 | second / 2);
}

std::string deflate_raw(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TestEntry file(std::string name, std::string data) {
  TestEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  return e;
}

TestEntry dir(std::string name) {
  TestEntry e = file(std::move(name), "");
  e.method = 0;
  e.external_attr = 040755u << 16 | 0x10;
  return e;
}

// Local header fields from the version needed on: CRC, sizes, name, extra.
void ZipWriter::add(const TestEntry& e) {
  const std::string packed = e.payload ? *e.payload : e.method == 8 ? deflate_raw(e.data) : e.data;
  const uint32_t crc = e.crc.value_or(static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()))));
  const uint64_t usize = e.usize.value_or(e.data.size()), csize = e.csize.value_or(packed.size());
  const uint64_t offset = e.shares.value_or(body.size() + shift);
  const uint32_t all = 0xFFFFFFFF, flags = e.flags | (e.descriptor ? 0x08 : 0);
  const std::string& lname = e.local_name ? *e.local_name : e.name;
  auto fixed = [&](std::string& s, bool local) {
    put(s, e.zip64 ? 45 : 20, 2), put(s, flags, 2), put(s, e.method, 2), put(s, e.dos_time, 4);
    const bool hide = local && e.descriptor;
    put(s, hide ? 0 : crc, 4);
    put(s, e.zip64 ? all : hide ? 0 : csize, 4), put(s, e.zip64 ? all : hide ? 0 : usize, 4);
  };
  if (!e.shares) {
    put(body, 0x04034b50, 4), fixed(body, true);
    put(body, lname.size(), 2), put(body, e.zip64 ? 20 : 0, 2);
    body += lname;
    if (e.zip64) put(body, 1, 2), put(body, 16, 2), put(body, usize, 8), put(body, csize, 8);
    body += packed;
    if (e.descriptor) {
      put(body, 0x08074b50, 4), put(body, crc, 4);
      put(body, csize, e.zip64 ? 8 : 4), put(body, usize, e.zip64 ? 8 : 4);
    }
  }
  std::string x;
  if (e.zip64) put(x, 1, 2), put(x, 24, 2), put(x, usize, 8), put(x, csize, 8), put(x, offset, 8);
  if (e.unix_mtime) put(x, 0x5455, 2), put(x, 5, 2), put(x, 1, 1), put(x, *e.unix_mtime, 4);
  x += e.cd_extra;
  put(cd, 0x02014b50, 4), put(cd, e.made_by, 2), fixed(cd, false);
  put(cd, e.name.size(), 2), put(cd, x.size(), 2), put(cd, 0, 6), put(cd, e.external_attr, 4);
  put(cd, e.zip64 ? all : offset, 4);
  cd += e.name + x;
  ++count;
}

std::string ZipWriter::finish(const BuildOptions& opt) const {
  const uint64_t n = opt.declared_entries.value_or(count);
  const uint64_t at = body.size() + shift + opt.cd_offset_delta;
  std::string out = opt.prefix + body + cd;
  const bool z = opt.zip64_end;
  if (z) {
    put(out, 0x06064b50, 4), put(out, 44, 8), put(out, 45, 2), put(out, 45, 2), put(out, 0, 8);
    put(out, n, 8), put(out, n, 8), put(out, cd.size(), 8), put(out, at, 8);
    put(out, 0x07064b50, 4), put(out, 0, 4), put(out, body.size() + cd.size() + shift, 8);
    put(out, 1, 4);
  }
  put(out, 0x06054b50, 4), put(out, 0, 4), put(out, z ? 0xFFFF : n & 0xFFFF, 2);
  put(out, z ? 0xFFFF : n & 0xFFFF, 2), put(out, z ? 0xFFFFFFFF : cd.size(), 4);
  put(out, z ? 0xFFFFFFFF : at, 4), put(out, opt.comment.size(), 2);
  return out + opt.comment;
}

std::string build_zip(const std::vector<TestEntry>& entries, const BuildOptions& opt) {
  ZipWriter w;
  w.shift = opt.offsets_include_prefix ? opt.prefix.size() : 0;
  for (const TestEntry& e : entries) w.add(e);
  return w.finish(opt);
}

}  // namespace rdz::test
