// Writes the fuzzer's starting points: one small archive of every shape the
// unit tests build, good and broken, so that mutation starts next to every
// branch of the reader instead of having to discover the format.
//
//   make-fuzz-seeds DIR     (scripts/fuzz --seeds refreshes the committed set)
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "zip.h"
#include "zipbuilder.h"

namespace {

using rdz::test::build_zip;
using rdz::test::BuildOptions;
using rdz::test::dir_entry;
using rdz::test::TestEntry;

TestEntry file(std::string name, std::string data, uint16_t method = 8) {
  TestEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  e.method = method;
  return e;
}

std::string text(size_t n) {
  std::string s;
  while (s.size() < n) s += "Ravozi run-time line " + std::to_string(s.size()) + "\n";
  s.resize(n);
  return s;
}

std::vector<std::pair<std::string, std::string>> seeds() {
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](std::string name, std::string bytes) {
    out.emplace_back(std::move(name), std::move(bytes));
  };

  add("empty", build_zip({}));
  add("stored", build_zip({file("readme.txt", text(200), 0)}));
  add("deflated-tree",
      build_zip({dir_entry("bin/"), dir_entry("bin/win32/"), file("bin/win32/rvzrt60.dll", text(900)),
                 file("toolbox/readme.txt", "hello\n"), file("empty.txt", ""),
                 dir_entry("toolbox/empty/")}));
  {
    TestEntry t = file("stamped", "time");
    t.unix_mtime = 1700000000;
    TestEntry dos = file("dos-time", "time");
    dos.dos_time = rdz::test::dos_datetime(2021, 7, 4, 13, 14, 16);
    add("timestamps", build_zip({t, dos}));
  }
  {
    BuildOptions o;
    o.zip64_end = true;
    TestEntry big = file("big.bin", text(600));
    big.zip64 = true;
    TestEntry streamed = file("streamed.bin", text(300));
    streamed.zip64 = true;
    streamed.descriptor = true;
    add("zip64", build_zip({big, streamed, file("plain", "p")}, o));
  }
  {
    TestEntry a = file("a.txt", text(400));
    a.descriptor = true;
    TestEntry b = file("b.txt", "stored with a descriptor", 0);
    b.descriptor = true;
    add("descriptors", build_zip({a, b}));
  }
  add("utf8-names", build_zip({file("caf\xC3\xA9/na\xC3\xAFve \xE2\x82\xAC.txt", "utf-8"),
                               file("\xF0\x9F\x98\x80.txt", "four bytes")}));
  {
    TestEntry dos = file("DOS\\CAF\x90.TXT", "cp437");
    dos.flags = 0;
    dos.made_by = rdz::zip::host::kDos << 8 | 20;
    dos.external_attr = 0x20;
    TestEntry dosdir = dir_entry("EMPTY");
    dosdir.made_by = rdz::zip::host::kNtfs << 8 | 20;
    dosdir.external_attr = 0x10;
    TestEntry unix_bytes = file("unix-\xC3\xA9", "unflagged UTF-8 from a Unix writer");
    unix_bytes.flags = 0;
    add("cp437-names", build_zip({dos, dosdir, unix_bytes}));
  }
  {
    // An Info-ZIP Unicode Path field: version, CRC-32 of the stored name, UTF-8 name.
    const std::string stored = "caf\x82.txt";
    const std::string utf8 = "caf\xC3\xA9.txt";
    uint32_t crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size())));
    std::string up;
    up += '\x75';
    up += '\x70';
    up += static_cast<char>(5 + utf8.size());
    up += '\0';
    up += '\x01';
    for (int i = 0; i < 4; ++i) up += static_cast<char>((crc >> (8 * i)) & 0xFF);
    up += utf8;
    TestEntry e = file(stored, "unicode path");
    e.flags = 0;
    e.made_by = rdz::zip::host::kDos << 8 | 20;
    e.cd_extra = up;
    add("unicode-path", build_zip({e}));
  }
  {
    BuildOptions o;
    o.prefix = "MZ" + std::string(300, 'S');
    o.comment = "a comment";
    add("prefixed", build_zip({file("a", "1"), file("b/c", text(100))}, o));
    o.offsets_include_prefix = true;
    o.comment = "PK\x05\x06 in the comment";
    add("prefixed-adjusted", build_zip({file("a", "1")}, o));
  }
  {
    std::string whole = build_zip({file("one", text(300)), file("two", text(300))});
    add("truncated-half", whole.substr(0, whole.size() / 2));
    add("truncated-end", whole.substr(0, whole.size() - 1));
    std::string flipped = whole;
    flipped[flipped.size() / 3] ^= 0x40;
    add("flipped", flipped);
  }
  {
    std::vector<TestEntry> refused;
    refused.push_back(file("../escape", "evil"));
    refused.push_back(file("/abs", "evil"));
    refused.push_back(file("C:\\win.ini", "evil"));
    refused.push_back(file("aux.txt", "evil"));
    refused.push_back(file("a?b", "evil"));
    refused.push_back(file("dir./x", "evil"));
    TestEntry link = file("link", "target");
    link.external_attr = 0120777u << 16;
    refused.push_back(link);
    TestEntry secret = file("secret", "x");
    secret.flags |= 1;
    refused.push_back(secret);
    TestEntry bz = file("bz", "x");
    bz.method = 12;
    refused.push_back(bz);
    for (size_t i = 0; i < refused.size(); ++i) {
      add("refused-" + std::to_string(i), build_zip({file("first", "ok"), refused[i]}));
    }
  }
  {
    TestEntry crc = file("crc", text(200));
    crc.crc = 1234;
    TestEntry shorter = file("short", text(200));
    shorter.usize = 201;
    TestEntry longer = file("long", text(200));
    longer.usize = 199;
    TestEntry garbage = file("garbage", "x");
    garbage.payload = std::string(40, '\xFF');
    TestEntry bomb = file("bomb", "");
    bomb.payload = rdz::test::deflate_raw(std::string(200000, '\0'), 9);
    bomb.usize = 100;
    add("bad-data", build_zip({crc, shorter, longer, garbage, bomb, file("fine", "ok")}));
  }
  add("duplicates", build_zip({file("a", "first"), file("a", "second"), file("A", "upper"),
                               dir_entry("d/"), file("d/x", "in d")}));
  {
    BuildOptions o;
    o.declared_entries = 1;
    add("count-lies", build_zip({file("a", "1"), file("b", "2")}, o));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-fuzz-seeds DIR\n");
    return 2;
  }
  for (auto& [name, bytes] : seeds()) {
    std::string path = std::string(argv[1]) + "/builder-" + name + ".zip";
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) {
      std::fprintf(stderr, "make-fuzz-seeds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
