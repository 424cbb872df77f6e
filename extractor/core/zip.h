// Reading the ZIP container: locating the archive inside a larger file,
// walking the central directory, and finding each entry's data.
//
// Everything works through a Source and caller-owned buffers, so the same code
// reads a self-extractor from disk, a test archive from memory, and fuzzer
// input; memory use does not depend on the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rdz::zip {

// Random access to the bytes that hold the archive.
class Source {
 public:
  virtual uint64_t size() const = 0;
  // Reads exactly `n` bytes at `offset`; false on any shortfall or failure.
  virtual bool read(uint64_t offset, void* buf, size_t n) = 0;

 protected:
  ~Source() = default;
};

class MemorySource final : public Source {
 public:
  MemorySource(const void* data, size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* buf, size_t n) override;

 private:
  const unsigned char* data_;
  size_t size_;
};

enum class Error {
  none,
  io,                 // the source could not be read
  no_archive,         // no end-of-central-directory record
  multi_disk,         // split archives are not supported
  bad_eocd,           // end record inconsistent with the file
  bad_zip64_eocd,
  bad_cd_record,      // central directory entry malformed or out of bounds
  bad_zip64_extra,
  cd_count_mismatch,  // entry count differs from what the end record says
  bad_local_header,
  local_name_mismatch,
  data_out_of_bounds,
};

const char* describe(Error e);

struct Archive {
  uint64_t base = 0;      // bytes in front of the archive (the stub)
  uint64_t cd_begin = 0;  // absolute offsets in the source
  uint64_t cd_end = 0;
  uint64_t entries = 0;   // count declared by the end record
  bool zip64 = false;
};

// Scratch space open() needs: the largest possible end record and comment,
// plus the Zip64 locator in front of it.
constexpr size_t kOpenScratch = 22 + 65535 + 20;

Error open(Source& src, Archive* ar, unsigned char* scratch, size_t scratch_size);

namespace host {
constexpr unsigned kDos = 0, kUnix = 3, kNtfs = 10, kOsx = 19;
}

struct Entry {
  std::string_view name;          // bytes as stored
  std::string_view unicode_name;  // Info-ZIP Unicode Path extra (0x7075) when it matches
  uint16_t made_by = 0;           // high byte: host system
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_datetime = 0;      // date << 16 | time
  uint32_t crc = 0;
  uint32_t external_attr = 0;
  uint64_t csize = 0;
  uint64_t usize = 0;
  uint64_t local_header = 0;      // absolute offset in the source
  bool has_unix_mtime = false;    // extended timestamp (0x5455) present
  int64_t unix_mtime = 0;         // its 32 bits, read unsigned

  bool utf8() const { return (flags & 0x0800) != 0; }
  bool encrypted() const { return (flags & 0x0041) != 0; }
  unsigned host() const { return made_by >> 8; }
};

// The fixed parts of a central directory record and of a local header, in
// front of their variable fields.
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;

// A record holds its header and three fields of at most 64 KiB each.
constexpr size_t kMaxRecord = kCentralSize + 3 * 65535;

// Walks the central directory one record at a time through a window of the
// caller's buffer (at least kMaxRecord bytes). An Entry's views point into
// that buffer and stay valid until the next call.
class Cursor {
 public:
  Cursor(Source& src, const Archive& ar, unsigned char* buf, size_t cap)
      : src_(src), ar_(ar), buf_(buf), cap_(cap), pos_(ar.cd_begin) {}

  // Error::none with *done set once the directory has been read in full.
  Error next(Entry* e, bool* done);
  uint64_t index() const { return count_; }

 private:
  // Makes the `need` bytes at pos_ lie in the buffer; false on a read error.
  bool window(size_t need);
  // The record at pos_, whole in the buffer, at *h.
  Error read_record(const unsigned char** h, size_t* record);

  Source& src_;
  const Archive& ar_;
  unsigned char* buf_;
  size_t cap_;
  uint64_t pos_;            // next record, absolute
  uint64_t win_begin_ = 0;  // absolute offset of buf_[0]
  size_t win_len_ = 0;
  uint64_t count_ = 0;
};

// Checks the entry's local header and returns where its data begins.
// `scratch` must hold 64 KiB, enough for a local name.
Error locate_data(Source& src, const Archive& ar, const Entry& e,
                  unsigned char* scratch, size_t scratch_size, uint64_t* data_begin);

}  // namespace rdz::zip
