// Writes ZIP archives for the tests, wrong in precise ways where asked: the
// archives no real writer would make. archives/recipes.txt describes each
// crafted archive the tests unpack; make_archives builds them all.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace rdz::test {

struct ZipEntry {
  std::string name, data;
  uint16_t method = 8, flags = 0x0800, made_by = 3 << 8 | 20;  // deflated, UTF-8 name, Unix
  uint32_t attr = 0100644u << 16, dos_time = 0x58216000;      // a regular file, 2024-01-01 12:00
  std::optional<uint32_t> mtime = 1700000000;                 // the extended timestamp field
  bool zip64 = false, descriptor = false;  // all-ones sizes and a Zip64 field; sizes after the data
  std::string cd_extra = {};
  // What a liar changes: the checksum and sizes it states, another name in
  // the local header, other bytes as data, a record without a local header
  // of its own that points at another one's.
  std::optional<uint32_t> crc = {};
  std::optional<uint64_t> usize = {}, csize = {}, shares = {};
  std::optional<std::string> local_name = {}, payload = {};
};

struct ZipWriter {
  void add(const ZipEntry& e);
  std::string finish();

  std::string prefix, comment;           // bytes before the archive (a stub); after it
  bool zip64_end = false, adjusted = false;  // Zip64 end records; offsets counting the prefix
  std::optional<uint64_t> declared;      // entries the end records state
  uint64_t cd_delta = 0;                 // added to the directory offset they state
  std::string body, cd;
  std::vector<uint64_t> locals, records;  // where each header begins, records within cd
  uint64_t cd_at = 0, end_at = 0;
};

std::string deflated(const std::string& data, int level = 6);

// Reads the next recipe: false at the end.
bool next_recipe(std::istream& in, std::string* name, std::string* archive);

}  // namespace rdz::test
