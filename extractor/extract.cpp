#include "extract.h"

#include <cstring>

namespace rdz {

namespace {

constexpr std::string_view kProg = "ruduvizide: ";

bool is_sep(char c) { return c == '/' || (fs::kBackslashIsSeparator && c == '\\'); }

// A message assembled in a fixed buffer; anything beyond it is cut.
class Line {
 public:
  Line& operator<<(std::string_view s) {
    size_t take = s.size() < sizeof buf_ - n_ ? s.size() : sizeof buf_ - n_;
    std::memcpy(buf_ + n_, s.data(), take);
    n_ += take;
    return *this;
  }
  Line& operator<<(uint64_t v) {
    char digits[20];
    size_t k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    while (k && n_ < sizeof buf_) buf_[n_++] = digits[--k];
    return *this;
  }
  std::string_view view() const { return {buf_, n_}; }

 private:
  char buf_[2048];
  size_t n_ = 0;
};

enum class Kind { file, dir };

// Why an entry cannot be unpacked at all, found before anything is written.
struct Refusal {
  const char* reason = nullptr;
  unsigned method = 0;  // for the unsupported-method message
};

// Why an entry's data did not reach the disk; err is set for OS failures.
struct Failure {
  const char* what = nullptr;
  fs::Err err = 0;
};

constexpr uint32_t kModeType = 0170000, kModeDir = 0040000, kModeFile = 0100000,
                   kModeLink = 0120000;
constexpr uint32_t kDosDirectory = 0x10;

}  // namespace

int64_t entry_mtime(const zip::Entry& e) {
  if (e.has_unix_mtime) return e.unix_mtime;
  const unsigned date = e.dos_datetime >> 16, time = e.dos_datetime & 0xFFFF;
  auto clamp = [](int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; };
  int year = 1980 + static_cast<int>(date >> 9);
  int month = clamp(static_cast<int>((date >> 5) & 15), 1, 12);
  int day = clamp(static_cast<int>(date & 31), 1, 31);
  int hour = clamp(static_cast<int>(time >> 11), 0, 23);
  int minute = clamp(static_cast<int>((time >> 5) & 63), 0, 59);
  int second = clamp(static_cast<int>((time & 31) * 2), 0, 59);
  int64_t t;
  if (fs::local_time_to_unix(year, month, day, hour, minute, second, &t)) return t;
  constexpr int64_t k1980 = 315532800;  // a day such as 31 February: the DOS epoch
  return k1980;
}

Workspace::Workspace() { inflate_ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }

Workspace::~Workspace() {
  if (inflate_ready_) inflateEnd(&z_);
}

class Extraction {
 public:
  Extraction(zip::Source& src, const cli::Options& opt, Workspace& ws, Reporter& rep)
      : src_(src), opt_(opt), ws_(ws), rep_(rep) {}

  int run(std::string_view target, Totals* totals);

 private:
  // Pass one: the whole directory, read and judged without touching the disk.
  int check_all();
  // Pass two: the entries in directory order.
  int unpack_all();
  Kind classify(const zip::Entry& e, size_t* rel_len, Refusal* r);
  bool unpack_file(const zip::Entry& e, size_t rel_len);
  bool unpack_dir(size_t rel_len);
  Failure copy_data(const zip::Entry& e, uint64_t data, const fs::File& out);
  // Builds ws_.path_ from the target and ws_.rel_, noting where its parts start.
  bool join(size_t rel_len);
  bool ensure_parent();
  fs::Err ensure_dirs(char* path, size_t len);
  bool prepare_target(std::string_view target);

  void entry_error(std::string_view what, std::string_view detail, fs::Err e = 0);
  std::string_view display_name(const zip::Entry& e);

  zip::Source& src_;
  const cli::Options& opt_;
  Workspace& ws_;
  Reporter& rep_;
  zip::Archive ar_;
  Totals t_;
  std::string_view current_;  // the entry being worked on, for messages
  size_t rel_pos_ = 0;         // where ws_.rel_ starts in ws_.path_
  size_t leaf_pos_ = 0;        // where the last component starts in ws_.path_
  char shown_[512];
};

std::string_view Extraction::display_name(const zip::Entry& e) {
  size_t len;
  if (names::decode(e, ws_.decoded_, sizeof ws_.decoded_, &len) == names::Verdict::ok) {
    return {shown_, names::printable({ws_.decoded_, len}, shown_, sizeof shown_)};
  }
  // Undecodable: whatever it is, it must not reach a terminal raw.
  return {shown_, names::printable(e.name, shown_, sizeof shown_, true)};
}

void Extraction::entry_error(std::string_view what, std::string_view detail, fs::Err e) {
  Line l;
  l << kProg << current_ << ": " << what;
  if (!detail.empty()) l << ": " << detail;
  if (e) {
    char text[256];
    fs::error_text(e, text, sizeof text);
    l << ": " << std::string_view(text);
  }
  l << "\n";
  rep_.error(l.view());
}

Kind Extraction::classify(const zip::Entry& e, size_t* rel_len, Refusal* r) {
  *r = Refusal{};
  *rel_len = 0;
  const bool unix_host = e.host() == zip::host::kUnix || e.host() == zip::host::kOsx;
  const uint32_t mode = unix_host ? e.external_attr >> 16 : 0;
  const uint32_t type = mode & kModeType;
  if (type == kModeLink) {
    r->reason = "symbolic links are not unpacked";
    return Kind::file;
  }
  if (type != 0 && type != kModeDir && type != kModeFile) {
    r->reason = "special files (devices, pipes, sockets) are not unpacked";
    return Kind::file;
  }
  size_t dlen;
  names::Verdict v = names::decode(e, ws_.decoded_, sizeof ws_.decoded_, &dlen);
  bool slash_dir = false;
  if (v == names::Verdict::ok) {
    v = names::normalize({ws_.decoded_, dlen}, ws_.rel_, sizeof ws_.rel_, rel_len, &slash_dir);
  }
  if (v != names::Verdict::ok) {
    r->reason = names::describe(v);
    return Kind::file;
  }
  const bool dir = slash_dir || type == kModeDir ||
                   (!unix_host && (e.external_attr & kDosDirectory) && e.usize == 0);
  if (dir) return Kind::dir;
  if (*rel_len == 0) {
    r->reason = names::describe(names::Verdict::empty);
  } else if (e.encrypted()) {
    r->reason = "encrypted entries are not supported";
  } else if (e.method != 0 && e.method != 8) {
    r->reason = "unsupported compression method";
    r->method = e.method;
  } else if (e.method == 0 && e.csize != e.usize) {
    r->reason = "stored entry with differing compressed and original sizes";
  }
  return Kind::file;
}

int Extraction::check_all() {
  zip::Cursor cur(src_, ar_, ws_.cd_, sizeof ws_.cd_);
  zip::Entry e;
  bool done = false;
  while (true) {
    zip::Error err = cur.next(&e, &done);
    if (err != zip::Error::none) {
      Line l;
      l << kProg << "damaged archive: " << std::string_view(zip::describe(err))
        << " (central directory entry " << cur.index() + 1 << ")\n";
      rep_.error(l.view());
      return kExitArchive;
    }
    if (done) break;
    size_t rel_len;
    Refusal r;
    classify(e, &rel_len, &r);
    if (r.reason) {
      ++t_.refused;
      current_ = display_name(e);
      Line l;
      l << kProg << current_ << ": refused: " << std::string_view(r.reason);
      if (r.method) l << " " << static_cast<uint64_t>(r.method);
      l << "\n";
      rep_.error(l.view());
    }
  }
  if (t_.refused) {
    Line l;
    l << kProg << t_.refused << (t_.refused == 1 ? " entry" : " entries")
      << " refused; nothing was unpacked\n";
    rep_.error(l.view());
    return kExitEntries;
  }
  return kExitOk;
}

bool Extraction::prepare_target(std::string_view target) {
  Line l;
  size_t len = 0;
  if (target.empty()) target = ".";
  if (target.size() + names::kMaxName + 2 > sizeof ws_.base_) {
    l << kProg << "target directory name is too long\n";
    rep_.error(l.view());
    return false;
  }
  std::memcpy(ws_.base_, target.data(), target.size());
  len = target.size();
  // "C:\libs\" and "C:\libs" are one directory; a root keeps its separator.
  while (len > 1 && is_sep(ws_.base_[len - 1])) --len;
  if (fs::kBackslashIsSeparator && len == 2 && ws_.base_[1] == ':' && target.size() > 2) ++len;
  ws_.base_[len] = '\0';
  fs::Err e = ensure_dirs(ws_.base_, len);
  if (e) {
    char text[256];
    fs::error_text(e, text, sizeof text);
    l << kProg << "cannot create target directory " << std::string_view(ws_.base_, len)
      << ": " << std::string_view(text) << "\n";
    rep_.error(l.view());
    return false;
  }
  return true;
}

fs::Err Extraction::ensure_dirs(char* p, size_t len) {
  fs::Err e = fs::make_dir(p);
  if (e == 0 || !fs::is_missing(e)) return e;
  // Climb to the deepest ancestor that exists, then come back down.
  size_t end = len;
  while (true) {
    size_t sep = end;
    while (sep > 0 && !is_sep(p[sep - 1])) --sep;
    if (sep == 0) return e;
    --sep;
    while (sep > 0 && is_sep(p[sep - 1])) --sep;
    // Up to a root ("/", "C:\") and still missing: nothing more to make.
    if (sep == 0 || (fs::kBackslashIsSeparator && sep == 2 && p[1] == ':')) return e;
    char saved = p[sep];
    p[sep] = '\0';
    e = fs::make_dir(p);
    p[sep] = saved;
    end = sep;
    if (e == 0) break;
    if (!fs::is_missing(e)) return e;
  }
  for (size_t i = end + 1; i < len; ++i) {
    if (is_sep(p[i]) && !is_sep(p[i - 1])) {
      char saved = p[i];
      p[i] = '\0';
      e = fs::make_dir(p);
      p[i] = saved;
      if (e) return e;
    }
  }
  return fs::make_dir(p);
}

bool Extraction::join(size_t rel_len) {
  size_t blen = std::strlen(ws_.base_);
  bool sep = blen > 0 && is_sep(ws_.base_[blen - 1]);
  size_t total = blen + (sep ? 0 : 1) + rel_len;
  if (total > fs::kMaxPath) {
    entry_error("cannot unpack", "", fs::kErrPathTooLong);
    return false;
  }
  char* out = ws_.path_;
  std::memcpy(out, ws_.base_, blen);
  if (!sep) out[blen++] = '/';
  std::memcpy(out + blen, ws_.rel_, rel_len);
  out[total] = '\0';
  rel_pos_ = blen;
  const char* last = std::strrchr(out + blen, '/');  // rel_ uses '/' only
  leaf_pos_ = last ? static_cast<size_t>(last - out) + 1 : blen;
  return true;
}

bool Extraction::ensure_parent() {
  // A file at the top goes straight into the target, which exists.
  if (leaf_pos_ == rel_pos_) return true;
  char* path = ws_.path_;
  const size_t len = leaf_pos_ - 1;
  path[len] = '\0';
  bool ok = true;
  if (std::strcmp(path, ws_.made_dir_) != 0) {
    fs::Err e = ensure_dirs(path, len);
    if (e) {
      entry_error("cannot create directory", "", e);
      ok = false;
      ws_.made_dir_[0] = '\0';
    } else {
      std::memcpy(ws_.made_dir_, path, len + 1);
    }
  }
  path[len] = '/';
  return ok;
}

bool Extraction::unpack_dir(size_t rel_len) {
  if (rel_len == 0) return true;  // the target itself
  if (!join(rel_len)) return false;
  fs::Err e = ensure_dirs(ws_.path_, std::strlen(ws_.path_));
  if (e) {
    entry_error("cannot create directory", "", e);
    return false;
  }
  ++t_.dirs;
  if (opt_.quiet == 0) {
    Line l;
    l << "  directory: " << current_ << "/\n";
    rep_.info(l.view());
  }
  return true;
}

Failure Extraction::copy_data(const zip::Entry& e, uint64_t data, const fs::File& out) {
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t produced = 0;
  uint64_t left = e.csize;
  if (e.method == 0) {
    while (left) {
      size_t n = left < sizeof ws_.out_ ? static_cast<size_t>(left) : sizeof ws_.out_;
      if (!src_.read(data, ws_.out_, n)) return {"cannot read the archive"};
      crc = crc32(crc, ws_.out_, static_cast<uInt>(n));
      if (fs::Err err = fs::write_all(out, ws_.out_, n)) return {"cannot write", err};
      data += n;
      left -= n;
      produced += n;
    }
  } else {
    z_stream& z = ws_.z_;
    inflateReset(&z);
    z.avail_in = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
      if (z.avail_in == 0 && left) {
        size_t n = left < sizeof ws_.in_ ? static_cast<size_t>(left) : sizeof ws_.in_;
        if (!src_.read(data, ws_.in_, n)) return {"cannot read the archive"};
        z.next_in = ws_.in_;
        z.avail_in = static_cast<uInt>(n);
        data += n;
        left -= n;
      }
      z.next_out = ws_.out_;
      z.avail_out = sizeof ws_.out_;
      rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        return {"compressed data is corrupt"};
      }
      size_t n = sizeof ws_.out_ - z.avail_out;
      if (rc == Z_BUF_ERROR && n == 0 && z.avail_in == 0 && left == 0) {
        return {"compressed data ends early"};
      }
      // Stop a stream that inflates past its declared size at once, rather
      // than after it has filled the disk.
      if (n > e.usize - produced) return {"data is longer than declared"};
      if (n) {
        crc = crc32(crc, ws_.out_, static_cast<uInt>(n));
        if (fs::Err err = fs::write_all(out, ws_.out_, n)) return {"cannot write", err};
        produced += n;
      }
    }
  }
  if (produced != e.usize) return {"data is shorter than declared"};
  if (crc != e.crc) return {"CRC-32 mismatch"};
  return {};
}

bool Extraction::unpack_file(const zip::Entry& e, size_t rel_len) {
  if (!join(rel_len)) return false;
  const int64_t mtime = entry_mtime(e);
  if (opt_.update) {
    fs::Stat st;
    fs::Err err = fs::stat(ws_.path_, &st);
    if (err) return entry_error("cannot check existing file", "", err), false;
    if (st.kind == fs::Stat::Kind::file && st.mtime >= mtime) {
      ++t_.skipped;
      if (opt_.quiet == 0) {
        Line l;
        l << " up to date: " << current_ << "\n";
        rep_.info(l.view());
      }
      return true;
    }
  }
  if (!ensure_parent()) return false;

  uint64_t data;
  zip::Error zerr = zip::locate_data(src_, ar_, e, ws_.in_, sizeof ws_.in_, &data);
  if (zerr != zip::Error::none) {
    entry_error("damaged entry", zip::describe(zerr));
    return false;
  }

  // The temporary file lives beside the final one, so the closing rename
  // never crosses a file system.
  std::memcpy(ws_.temp_, ws_.path_, leaf_pos_);
  char* tail = ws_.temp_ + leaf_pos_;
  fs::File out;
  fs::Err err = 0;
  for (int tries = 0; tries < 64; ++tries) {
    uint32_t serial = ws_.temp_serial_++;
    static constexpr char kHex[] = "0123456789abcdef";
    char name[] = ".rdz-00000000.tmp";
    for (int i = 0; i < 8; ++i) name[12 - i] = kHex[(serial >> (4 * i)) & 15];
    if (static_cast<size_t>(tail - ws_.temp_) + sizeof name > sizeof ws_.temp_) {
      err = fs::kErrPathTooLong;
      break;
    }
    std::memcpy(tail, name, sizeof name);
    err = fs::create_new(ws_.temp_, out);
    if (!err) break;
    fs::Stat st;
    if (fs::stat(ws_.temp_, &st) != 0 || st.kind == fs::Stat::Kind::missing) break;
  }
  if (err) return entry_error("cannot create file", "", err), false;

  Failure f = copy_data(e, data, out);
  bool ok = f.what == nullptr;
  if (f.err) {
    entry_error(f.what, "", f.err);
  } else if (!ok) {
    entry_error("not unpacked", f.what);
  }
  if (ok && (err = fs::set_mtime(out, mtime)) != 0) {
    entry_error("cannot set modification time", "", err);
    ok = false;
  }
  if ((err = fs::close(out)) != 0 && ok) {
    entry_error("cannot write", "", err);
    ok = false;
  }
  if (ok && (err = fs::rename_replace(ws_.temp_, ws_.path_)) != 0) {
    entry_error("cannot replace file", "", err);
    ok = false;
  }
  if (!ok) {
    fs::remove_file(ws_.temp_);
    return false;
  }
  ++t_.files;
  t_.bytes += e.usize;
  if (opt_.quiet == 0) {
    Line l;
    l << "   unpacked: " << current_ << "\n";
    rep_.info(l.view());
  }
  return true;
}

int Extraction::unpack_all() {
  zip::Cursor cur(src_, ar_, ws_.cd_, sizeof ws_.cd_);
  zip::Entry e;
  bool done = false;
  ws_.made_dir_[0] = '\0';
  while (true) {
    // The directory was read in full once already; failing now means the
    // file changed underneath.
    zip::Error err = cur.next(&e, &done);
    if (err != zip::Error::none) {
      Line l;
      l << kProg << "archive changed while unpacking: " << std::string_view(zip::describe(err)) << "\n";
      rep_.error(l.view());
      return kExitArchive;
    }
    if (done) break;
    size_t rel_len;
    Refusal r;
    Kind kind = classify(e, &rel_len, &r);
    if (r.reason) {
      current_ = display_name(e);
      ++t_.failed;
      entry_error("refused", r.reason);
      continue;
    }
    current_ = {shown_, names::printable({ws_.rel_, rel_len}, shown_, sizeof shown_)};
    bool ok = kind == Kind::dir ? unpack_dir(rel_len) : unpack_file(e, rel_len);
    if (!ok) ++t_.failed;
  }
  return t_.failed ? kExitEntries : kExitOk;
}

int Extraction::run(std::string_view target, Totals* totals) {
  int rc = kExitOk;
  if (!ws_.ready()) {
    rep_.error("ruduvizide: out of memory\n");
    rc = kExitInternal;
  } else if (zip::Error err = zip::open(src_, &ar_, ws_.cd_, sizeof ws_.cd_);
             err != zip::Error::none) {
    Line l;
    l << kProg << "cannot read the archive: " << std::string_view(zip::describe(err)) << "\n";
    rep_.error(l.view());
    rc = kExitArchive;
  } else if ((rc = check_all()) != kExitOk) {
    // reported
  } else if (!prepare_target(target)) {
    rc = kExitTarget;
  } else {
    rc = unpack_all();
    if (opt_.quiet < 2) {
      Line l;
      l << kProg << t_.files << (t_.files == 1 ? " file" : " files") << " unpacked ("
        << t_.bytes << " bytes)";
      if (opt_.update) l << ", " << t_.skipped << " up to date";
      l << ", " << t_.dirs << (t_.dirs == 1 ? " directory" : " directories");
      l << "\n";
      rep_.info(l.view());
    }
    if (t_.failed) {
      Line l;
      l << kProg << t_.failed << (t_.failed == 1 ? " entry was" : " entries were")
        << " not unpacked\n";
      rep_.error(l.view());
    }
  }
  if (totals) *totals = t_;
  return rc;
}

int extract(zip::Source& src, std::string_view target, const cli::Options& opt,
            Workspace& ws, Reporter& rep, Totals* totals) {
  Extraction x(src, opt, ws, rep);
  return x.run(target, totals);
}

}  // namespace rdz
