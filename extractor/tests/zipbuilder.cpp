#include "zipbuilder.h"

#include <zlib.h>

namespace rdz::test {

void put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
void put64(std::string& s, uint64_t v) {
  put32(s, static_cast<uint32_t>(v));
  put32(s, static_cast<uint32_t>(v >> 32));
}

uint32_t dos_datetime(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
  uint32_t time = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
  return date << 16 | time;
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

TestEntry dir_entry(const std::string& name) {
  TestEntry e;
  e.name = name;
  e.method = 0;
  e.external_attr = 040755u << 16 | 0x10;
  return e;
}

std::string build_zip(const std::vector<TestEntry>& entries, const BuildOptions& opt) {
  std::string body, cd;
  const uint64_t shift = opt.offsets_include_prefix ? opt.prefix.size() : 0;
  for (const TestEntry& e : entries) {
    std::string packed = e.payload ? *e.payload
                         : e.method == 8 ? deflate_raw(e.data)
                                         : e.data;
    const uint32_t crc = e.crc ? *e.crc
                               : static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(e.data.data()),
                                                            static_cast<uInt>(e.data.size())));
    const uint64_t usize = e.usize ? *e.usize : e.data.size();
    const uint64_t csize = e.csize ? *e.csize : packed.size();
    const uint64_t offset = body.size() + shift;
    const uint16_t flags = static_cast<uint16_t>(e.flags | (e.descriptor ? 0x08 : 0));
    const std::string& lname = e.local_name ? *e.local_name : e.name;

    std::string lextra;
    if (e.zip64) {
      put16(lextra, 0x0001);
      put16(lextra, 16);
      put64(lextra, e.descriptor ? 0 : usize);
      put64(lextra, e.descriptor ? 0 : csize);
    }
    put32(body, 0x04034b50);
    put16(body, e.zip64 ? 45 : 20);
    put16(body, flags);
    put16(body, e.method);
    put32(body, e.dos_time);
    put32(body, e.descriptor ? 0 : crc);
    put32(body, e.zip64 ? 0xFFFFFFFF : e.descriptor ? 0 : static_cast<uint32_t>(csize));
    put32(body, e.zip64 ? 0xFFFFFFFF : e.descriptor ? 0 : static_cast<uint32_t>(usize));
    put16(body, static_cast<uint32_t>(lname.size()));
    put16(body, static_cast<uint32_t>(lextra.size()));
    body += lname;
    body += lextra;
    body += packed;
    if (e.descriptor) {
      put32(body, 0x08074b50);
      put32(body, crc);
      if (e.zip64) {
        put64(body, csize);
        put64(body, usize);
      } else {
        put32(body, static_cast<uint32_t>(csize));
        put32(body, static_cast<uint32_t>(usize));
      }
    }

    std::string cextra;
    if (e.zip64) {
      put16(cextra, 0x0001);
      put16(cextra, 24);
      put64(cextra, usize);
      put64(cextra, csize);
      put64(cextra, offset);
    }
    if (e.unix_mtime) {
      put16(cextra, 0x5455);
      put16(cextra, 5);
      cextra += '\x01';
      put32(cextra, static_cast<uint32_t>(*e.unix_mtime));
    }
    cextra += e.cd_extra;
    put32(cd, 0x02014b50);
    put16(cd, e.made_by);
    put16(cd, e.zip64 ? 45 : 20);
    put16(cd, flags);
    put16(cd, e.method);
    put32(cd, e.dos_time);
    put32(cd, crc);
    put32(cd, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(csize));
    put32(cd, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(usize));
    put16(cd, static_cast<uint32_t>(e.name.size()));
    put16(cd, static_cast<uint32_t>(cextra.size()));
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put32(cd, e.external_attr);
    put32(cd, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(offset));
    cd += e.name;
    cd += cextra;
  }

  const uint64_t count = opt.declared_entries ? *opt.declared_entries : entries.size();
  const uint64_t cd_offset = body.size() + shift + opt.cd_offset_delta.value_or(0);
  std::string out = opt.prefix + body + cd;
  if (opt.zip64_end) {
    const uint64_t end64 = body.size() + cd.size() + shift;
    put32(out, 0x06064b50);
    put64(out, 44);
    put16(out, 45);
    put16(out, 45);
    put32(out, 0);
    put32(out, 0);
    put64(out, count);
    put64(out, count);
    put64(out, cd.size());
    put64(out, cd_offset);
    put32(out, 0x07064b50);
    put32(out, 0);
    put64(out, end64);
    put32(out, 1);
  }
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, opt.zip64_end ? 0xFFFF : static_cast<uint32_t>(count & 0xFFFF));
  put16(out, opt.zip64_end ? 0xFFFF : static_cast<uint32_t>(count & 0xFFFF));
  put32(out, opt.zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(cd.size()));
  put32(out, opt.zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(cd_offset));
  put16(out, static_cast<uint32_t>(opt.comment.size()));
  out += opt.comment;
  return out;
}

}  // namespace rdz::test
