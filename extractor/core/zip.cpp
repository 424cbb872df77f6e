#include "zip.h"

#include "signed_tail.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <zlib.h>

namespace rdz::zip {

namespace {

constexpr uint32_t kSigLocal = 0x04034b50;
constexpr uint32_t kSigCentral = 0x02014b50;
constexpr uint32_t kSigEnd = 0x06054b50;
constexpr uint32_t kSigEnd64 = 0x06064b50;
constexpr uint32_t kSigLocator64 = 0x07064b50;

constexpr size_t kEndSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kEnd64Size = 56;

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t u64(const unsigned char* p) {
  return static_cast<uint64_t>(u32(p)) | static_cast<uint64_t>(u32(p + 4)) << 32;
}

// Reads the Zip64 end record that the locator at `locator_pos` points to.
Error open_zip64(Source& src, uint64_t locator_pos, const unsigned char* loc,
                 Archive* ar) {
  if (u32(loc + 4) != 0 || u32(loc + 16) > 1) return Error::multi_disk;
  uint64_t stated = u64(loc + 8);
  // The record normally sits right before its locator; when bytes were put in
  // front of the archive, that is the only place where it can be found.
  unsigned char rec[kEnd64Size];
  uint64_t pos = 0;
  bool found = false;
  if (locator_pos >= kEnd64Size) {
    pos = locator_pos - kEnd64Size;
    if (!src.read(pos, rec, kEnd64Size)) return Error::io;
    found = u32(rec) == kSigEnd64;
  }
  if (!found && locator_pos >= kEnd64Size && stated <= locator_pos - kEnd64Size) {
    pos = stated;
    if (!src.read(pos, rec, kEnd64Size)) return Error::io;
    found = u32(rec) == kSigEnd64;
  }
  if (!found || pos < stated) return Error::bad_zip64_eocd;
  if (u32(rec + 16) != 0 || u32(rec + 20) != 0) return Error::multi_disk;
  if (u64(rec + 24) != u64(rec + 32)) return Error::multi_disk;
  uint64_t base = pos - stated;
  uint64_t entries = u64(rec + 32);
  uint64_t cd_size = u64(rec + 40);
  uint64_t cd_offset = u64(rec + 48);
  if (cd_offset > pos - base || cd_size > pos - base - cd_offset) {
    return Error::bad_zip64_eocd;
  }
  ar->base = base;
  ar->cd_begin = base + cd_offset;
  ar->cd_end = ar->cd_begin + cd_size;
  ar->entries = entries;
  ar->zip64 = true;
  return Error::none;
}

}  // namespace

bool MemorySource::read(uint64_t offset, void* buf, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n) std::memcpy(buf, data_ + offset, n);
  return true;
}

const char* describe(Error e) {
  switch (e) {
    case Error::none: return "no error";
    case Error::io: return "read error";
    case Error::no_archive: return "no ZIP archive found (end of central directory missing)";
    case Error::multi_disk: return "split (multi-disk) archives are not supported";
    case Error::bad_eocd: return "end of central directory record is inconsistent";
    case Error::bad_zip64_eocd: return "Zip64 end of central directory record is missing or inconsistent";
    case Error::bad_cd_record: return "central directory entry is malformed";
    case Error::bad_zip64_extra: return "Zip64 extra field is missing or too short";
    case Error::cd_count_mismatch: return "central directory holds a different number of entries than declared";
    case Error::bad_local_header: return "local header is missing or malformed";
    case Error::local_name_mismatch: return "local header names a different file";
    case Error::data_out_of_bounds: return "entry data lies outside the archive";
  }
  return "unknown error";
}

namespace {

// Reads the archive's layout from the end record at eocd_pos.
Error open_at(Source& src, const unsigned char* eocd, uint64_t eocd_pos, Archive* ar) {
  *ar = Archive{};
  if (eocd_pos >= kLocatorSize) {
    unsigned char loc[kLocatorSize];
    if (!src.read(eocd_pos - kLocatorSize, loc, kLocatorSize)) return Error::io;
    if (u32(loc) == kSigLocator64) {
      Error e = open_zip64(src, eocd_pos - kLocatorSize, loc, ar);
      if (e != Error::none) return e;
      if (ar->entries > (ar->cd_end - ar->cd_begin) / kCentralSize) return Error::bad_zip64_eocd;
      return Error::none;
    }
  }

  uint16_t disk = u16(eocd + 4), cd_disk = u16(eocd + 6);
  uint16_t on_disk = u16(eocd + 8), total = u16(eocd + 10);
  if (disk != 0 || cd_disk != 0 || on_disk != total) return Error::multi_disk;
  uint32_t cd_size = u32(eocd + 12), cd_offset = u32(eocd + 16);
  // The directory ends where the end record starts; whatever lies in front
  // of the stated offset is the stub.
  if (cd_size > eocd_pos || eocd_pos - cd_size < cd_offset) return Error::bad_eocd;
  if (total > cd_size / kCentralSize) return Error::bad_eocd;
  ar->cd_begin = eocd_pos - cd_size;
  ar->cd_end = eocd_pos;
  ar->base = ar->cd_begin - cd_offset;
  ar->entries = total;
  ar->zip64 = false;
  return Error::none;
}

// Where the archive must end: at the file's end, or before the certificate
// table a signer appended; false when what follows it is not a signature.
bool archive_end(Source& src, unsigned char* scratch, size_t scratch_size, uint64_t* end) {
  const uint64_t size = src.size();
  unsigned char head[signed_tail::kHeadSize];
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, sizeof head));
  signed_tail::Table t;
  *end = size;
  if (!src.read(0, head, n)) return false;
  switch (signed_tail::find_table(head, n, size, &t)) {
    case signed_tail::Tail::none: return true;
    case signed_tail::Tail::bad: return false;
    case signed_tail::Tail::table: break;
  }
  if (t.size > scratch_size || !src.read(t.offset, scratch, static_cast<size_t>(t.size)) ||
      !signed_tail::well_formed(scratch, static_cast<size_t>(t.size))) {
    return false;
  }
  *end = t.offset;
  return true;
}

}  // namespace

Error open(Source& src, Archive* ar, unsigned char* scratch, size_t scratch_size) {
  *ar = Archive{};
  uint64_t size = 0;
  if (!archive_end(src, scratch, scratch_size, &size)) return Error::no_archive;
  if (size < kEndSize) return Error::no_archive;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>({scratch_size, kOpenScratch, size}));
  if (tail < kEndSize) return Error::no_archive;
  const uint64_t tail_pos = size - tail;
  if (!src.read(tail_pos, scratch, tail)) return Error::io;

  // The record whose comment ends the archive is its end, even when its
  // comment holds the signature again: what it says is then judged, and
  // reported if wrong. A signature that turns up elsewhere, in a bare
  // program's code or in the data of a cut-short download, is no archive.
  for (size_t i = tail - kEndSize + 1; i-- > 0;) {
    const size_t e = i + kEndSize + u16(scratch + i + 20);
    if (u32(scratch + i) == kSigEnd && e <= tail &&
        (e == tail || (size < src.size() && signed_tail::is_padding(scratch + e, tail - e))))
      return open_at(src, scratch + i, tail_pos + i, ar);
  }
  return Error::no_archive;
}

namespace {

// Where an entry's local header lies, as the central record states it, and
// which of its values the record defers to the Zip64 field by setting them
// all ones.
struct Placement {
  uint64_t offset = 0;  // from the start of the archive
  uint32_t disk = 0;
  bool wide_usize = false, wide_csize = false, wide_offset = false, wide_disk = false;

  bool deferred() const { return wide_usize || wide_csize || wide_offset || wide_disk; }
};

// The fixed part of a central record, whose name follows it.
void parse_header(const unsigned char* h, size_t name_len, Entry* e, Placement* at) {
  *e = Entry{};
  e->made_by = u16(h + 4);
  e->flags = u16(h + 8);
  e->method = u16(h + 10);
  e->dos_datetime = static_cast<uint32_t>(u16(h + 14)) << 16 | u16(h + 12);
  e->crc = u32(h + 16);
  e->csize = u32(h + 20);
  e->usize = u32(h + 24);
  e->external_attr = u32(h + 38);
  e->name = std::string_view(reinterpret_cast<const char*>(h + kCentralSize), name_len);
  *at = Placement{};
  at->offset = u32(h + 42);
  at->disk = u16(h + 34);
  at->wide_usize = e->usize == 0xFFFFFFFF;
  at->wide_csize = e->csize == 0xFFFFFFFF;
  at->wide_offset = at->offset == 0xFFFFFFFF;
  at->wide_disk = at->disk == 0xFFFF;
}

// The Zip64 field holds, in this order, only the values the header deferred.
Error parse_zip64(const unsigned char* d, size_t len, Entry* e, Placement* at) {
  const unsigned char* p = d;
  const unsigned char* end = d + len;
  auto take64 = [&](uint64_t* v) {
    if (end - p < 8) return false;
    *v = u64(p);
    p += 8;
    return true;
  };
  if (at->wide_usize && !take64(&e->usize)) return Error::bad_zip64_extra;
  if (at->wide_csize && !take64(&e->csize)) return Error::bad_zip64_extra;
  if (at->wide_offset && !take64(&at->offset)) return Error::bad_zip64_extra;
  if (at->wide_disk) {
    if (end - p < 4) return Error::bad_zip64_extra;
    at->disk = u32(p);
  }
  at->wide_usize = at->wide_csize = at->wide_offset = at->wide_disk = false;
  return Error::none;
}

// The extra fields the extraction uses: Zip64, the extended timestamp and the
// Unicode path; any other is skipped.
Error parse_extras(const unsigned char* x, size_t extra_len, Entry* e, Placement* at) {
  const unsigned char* x_end = x + extra_len;
  while (x_end - x >= 4) {
    const uint16_t id = u16(x), len = u16(x + 2);
    const unsigned char* d = x + 4;
    if (len > x_end - d) break;  // a torn last field carries nothing we need
    if (id == 0x0001) {
      if (Error err = parse_zip64(d, len, e, at); err != Error::none) return err;
    } else if (id == 0x5455) {
      if (len >= 5 && (d[0] & 1)) {
        e->has_unix_mtime = true;
        e->unix_mtime = u32(d + 1);  // which of its two readings: see entry_mtime
      }
    } else if (id == 0x7075) {
      // Valid only while it still describes the name it was written for.
      const auto* name = reinterpret_cast<const Bytef*>(e->name.data());
      if (len >= 5 && d[0] == 1 &&
          u32(d + 1) == crc32(0L, name, static_cast<uInt>(e->name.size()))) {
        e->unicode_name = std::string_view(reinterpret_cast<const char*>(d + 5), len - 5u);
      }
    }
    x = d + len;
  }
  return Error::none;
}

}  // namespace

bool Cursor::window(size_t need) {
  if (pos_ >= win_begin_ && pos_ + need <= win_begin_ + win_len_) return true;
  uint64_t rest = ar_.cd_end - pos_;
  size_t len = static_cast<size_t>(std::min<uint64_t>(rest, cap_));
  if (!src_.read(pos_, buf_, len)) return false;
  win_begin_ = pos_;
  win_len_ = len;
  return true;
}

Error Cursor::read_record(const unsigned char** h, size_t* record) {
  const uint64_t remaining = ar_.cd_end - pos_;
  if (remaining < kCentralSize || cap_ < kMaxRecord) return Error::bad_cd_record;
  if (!window(kCentralSize)) return Error::io;
  const unsigned char* p = buf_ + (pos_ - win_begin_);
  if (u32(p) != kSigCentral) return Error::bad_cd_record;
  *record = kCentralSize + u16(p + 28) + u16(p + 30) + u16(p + 32);
  if (*record > remaining) return Error::bad_cd_record;
  if (!window(*record)) return Error::io;
  *h = buf_ + (pos_ - win_begin_);
  return Error::none;
}

Error Cursor::next(Entry* e, bool* done) {
  *done = false;
  if (pos_ == ar_.cd_end) {
    *done = true;
    // Without Zip64 the 16-bit count wraps; the directory's size bounds it.
    bool match = ar_.zip64 ? count_ == ar_.entries
                           : (count_ & 0xFFFF) == (ar_.entries & 0xFFFF);
    return match ? Error::none : Error::cd_count_mismatch;
  }
  if (ar_.zip64 && count_ >= ar_.entries) return Error::cd_count_mismatch;
  const unsigned char* h = nullptr;
  size_t record = 0;
  if (Error err = read_record(&h, &record); err != Error::none) return err;
  const size_t name_len = u16(h + 28);
  Placement at;
  parse_header(h, name_len, e, &at);
  Error err = parse_extras(h + kCentralSize + name_len, u16(h + 30), e, &at);
  if (err != Error::none) return err;
  // A field the header defers to Zip64 but no Zip64 field supplies: the
  // all-ones value is then meant literally only in a plain archive.
  if (at.deferred() && ar_.zip64) return Error::bad_zip64_extra;
  if (at.disk != 0) return Error::multi_disk;
  if (at.offset > ar_.cd_begin - ar_.base || ar_.cd_begin - ar_.base - at.offset < kLocalSize) {
    return Error::bad_cd_record;
  }
  e->local_header = ar_.base + at.offset;
  if (e->csize > ar_.cd_begin - e->local_header - kLocalSize) return Error::data_out_of_bounds;

  pos_ += record;
  ++count_;
  return Error::none;
}

Error locate_data(Source& src, const Archive& ar, const Entry& e,
                  unsigned char* scratch, size_t scratch_size, uint64_t* data_begin) {
  unsigned char h[kLocalSize];
  if (e.local_header > ar.cd_begin || ar.cd_begin - e.local_header < kLocalSize) {
    return Error::bad_local_header;
  }
  if (!src.read(e.local_header, h, kLocalSize)) return Error::io;
  if (u32(h) != kSigLocal) return Error::bad_local_header;
  const size_t name_len = u16(h + 26), extra_len = u16(h + 28);
  if (name_len != e.name.size() || name_len > scratch_size) return Error::local_name_mismatch;
  const uint64_t name_pos = e.local_header + kLocalSize;
  if (name_len > ar.cd_begin - name_pos) return Error::bad_local_header;
  if (!src.read(name_pos, scratch, name_len)) return Error::io;
  if (name_len && std::memcmp(scratch, e.name.data(), name_len) != 0) {
    return Error::local_name_mismatch;
  }
  const uint64_t data = name_pos + name_len + extra_len;
  if (data > ar.cd_begin || e.csize > ar.cd_begin - data) return Error::data_out_of_bounds;
  *data_begin = data;
  return Error::none;
}

}  // namespace rdz::zip
