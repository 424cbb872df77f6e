// Builds ZIP archives in memory, with knobs to make them wrong in precise
// ways: the tests need archives no real writer would produce.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rdz::test {

uint32_t dos_datetime(int year, int month, int day, int hour, int minute, int second);
void put(std::string& s, uint64_t v, int bytes);  // little-endian
std::string deflate_raw(const std::string& data, int level = 6);

struct TestEntry {
  std::string name, data;
  uint16_t method = 8;                      // 0 stored, 8 deflated, else raw copy
  uint16_t flags = 0x0800;                  // UTF-8 names
  uint16_t made_by = 3 << 8 | 20;           // Unix
  uint32_t external_attr = 0100644u << 16;  // regular file
  uint32_t dos_time = dos_datetime(2024, 1, 1, 12, 0, 0);
  std::optional<int32_t> unix_mtime = 1700000000;  // extended timestamp
  bool zip64 = false;                       // all-ones header fields + Zip64 extra
  bool descriptor = false;                  // sizes after the data
  std::string cd_extra;
  // Faults.
  std::optional<uint32_t> crc;
  std::optional<uint64_t> usize, csize;
  std::optional<std::string> local_name, payload;  // payload replaces the compressed bytes
  std::optional<uint64_t> shares;  // no local header: the record points at this offset
};

TestEntry file(std::string name, std::string data);
TestEntry dir(std::string name);

struct BuildOptions {
  std::string prefix;                       // bytes in front, like a stub
  bool zip64_end = false;
  std::string comment;
  std::optional<uint64_t> declared_entries;
  uint64_t cd_offset_delta = 0;             // added to the stated directory offset
  bool offsets_include_prefix = false;      // as if adjusted after prepending
};

// An archive grown one entry at a time, for counts no vector should hold.
struct ZipWriter {
  void add(const TestEntry& e);
  std::string finish(const BuildOptions& opt = {}) const;
  std::string body, cd;
  uint64_t count = 0, shift = 0;
};

std::string build_zip(const std::vector<TestEntry>& entries, const BuildOptions& opt = {});

}  // namespace rdz::test
