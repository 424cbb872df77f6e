// Builds ZIP archives in memory, with knobs to make them wrong in precise
// ways: the tests need archives no real writer would produce.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rdz::test {

uint32_t dos_datetime(int year, int month, int day, int hour, int minute, int second);

// Little-endian fields, appended.
void put16(std::string& s, uint32_t v);
void put32(std::string& s, uint32_t v);
void put64(std::string& s, uint64_t v);

struct TestEntry {
  std::string name;
  std::string data;
  uint16_t method = 8;                       // 0 stored, 8 deflated, else raw copy
  uint16_t flags = 0x0800;                   // UTF-8 names
  uint16_t made_by = 3 << 8 | 20;            // Unix
  uint32_t external_attr = 0100644u << 16;   // regular file, rw-r--r--
  uint32_t dos_time = dos_datetime(2024, 1, 1, 12, 0, 0);
  std::optional<int32_t> unix_mtime;         // adds an extended timestamp
  bool zip64 = false;                        // all-ones header fields + Zip64 extra
  bool descriptor = false;                   // sizes after the data
  std::string cd_extra;                      // appended to the central extra field
  // Faults.
  std::optional<uint32_t> crc;
  std::optional<uint64_t> usize;
  std::optional<uint64_t> csize;
  std::optional<std::string> local_name;
  std::optional<std::string> payload;        // replaces the compressed bytes
};

struct BuildOptions {
  std::string prefix;                        // bytes in front, like a stub
  bool zip64_end = false;                    // Zip64 end record and locator
  std::string comment;
  std::optional<uint64_t> declared_entries;
  std::optional<uint64_t> cd_offset_delta;   // added to the stated directory offset
  bool offsets_include_prefix = false;       // as if adjusted after prepending
};

std::string deflate_raw(const std::string& data, int level = 6);
std::string build_zip(const std::vector<TestEntry>& entries, const BuildOptions& opt = {});

// A directory entry, as writers emit them.
TestEntry dir_entry(const std::string& name);

}  // namespace rdz::test
