#include <cstring>
#include <optional>

#include "crc32.h"
#include "entry_policy.h"
#include "entry_time.h"
#include "extraction_parts.h"
#include "message.h"

namespace rdz {

// Another worker may be making the same ones at the same time: a directory
// that appears meanwhile is as good as one made here.
Err ensure_dirs(Host& host, char* p, size_t len) {
  Err e = host.make_dir(p);
  if (e == 0 || !host.is_missing(e)) return e;
  // Climb to the deepest ancestor that exists, then come back down.
  size_t end = len;
  while (true) {
    size_t sep = end;
    while (sep > 0 && !is_sep(p[sep - 1])) --sep;
    if (sep == 0) return e;
    --sep;
    while (sep > 0 && is_sep(p[sep - 1])) --sep;
    // Up to a root ("/", "C:\") and still missing: nothing more to make.
    if (sep == 0 || (kBackslashIsSeparator && sep == 2 && p[1] == ':')) return e;
    char saved = p[sep];
    p[sep] = '\0';
    e = host.make_dir(p);
    p[sep] = saved;
    end = sep;
    if (e == 0) break;
    if (!host.is_missing(e)) return e;
  }
  for (size_t i = end + 1; i < len; ++i) {
    if (is_sep(p[i]) && !is_sep(p[i - 1])) {
      char saved = p[i];
      p[i] = '\0';
      e = host.make_dir(p);
      p[i] = saved;
      if (e) return e;
    }
  }
  return host.make_dir(p);
}

void Worker::entry_error(std::string_view what, std::string_view detail, Err e) {
  Line l;
  l << kProg << current_ << ": " << what;
  if (!detail.empty()) l << ": " << detail;
  if (e) {
    char text[256];
    x_.host_.error_text(e, text, sizeof text);
    l << ": " << std::string_view(text);
  }
  l << "\n";
  x_.rep_.error(l.view());
}

bool Worker::join(size_t rel_len) {
  const size_t blen = x_.base_len_;
  bool sep = blen > 0 && is_sep(x_.base_[blen - 1]);
  size_t total = blen + (sep ? 0 : 1) + rel_len;
  if (total > kMaxPath) {
    entry_error("cannot unpack", "", kErrPathTooLong);
    return false;
  }
  char* out = ws_.path_;
  std::memcpy(out, x_.base_, blen);
  size_t at = blen;
  if (!sep) out[at++] = '/';
  std::memcpy(out + at, ws_.rel_, rel_len);
  out[total] = '\0';
  rel_pos_ = at;
  const char* last = std::strrchr(out + at, '/');  // rel_ uses '/' only
  leaf_pos_ = last ? static_cast<size_t>(last - out) + 1 : at;
  return true;
}

bool Worker::ensure_parent() {
  // A file at the top goes straight into the target, which exists.
  if (leaf_pos_ == rel_pos_) return true;
  char* path = ws_.path_;
  const size_t len = leaf_pos_ - 1;
  path[len] = '\0';
  bool ok = true;
  if (std::strcmp(path, ws_.made_dir_) != 0) {
    Err e = ensure_dirs(x_.host_, path, len);
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

bool Worker::unpack_dir(size_t rel_len) {
  if (rel_len == 0) return true;  // the target itself
  if (!join(rel_len)) return false;
  Err e = ensure_dirs(x_.host_, ws_.path_, std::strlen(ws_.path_));
  if (e) {
    entry_error("cannot create directory", "", e);
    return false;
  }
  ++t_.dirs;
  if (x_.opt_.quiet == 0) {
    Line l;
    l << "  directory: " << current_ << "/\n";
    x_.rep_.info(l.view());
  }
  return true;
}

Failure Worker::copy_data(const zip::Entry& e, uint64_t data, Handle out) {
  uint32_t crc = 0;
  uint64_t produced = 0;
  uint64_t left = e.csize;
  if (e.method == 0) {
    while (left) {
      // What the window already holds goes straight to the file; the rest
      // in reads as large as the output buffer.
      size_t n;
      const unsigned char* p = win_.peek(data, left, &n);
      if (!p) {
        n = left < sizeof ws_.out_ ? static_cast<size_t>(left) : sizeof ws_.out_;
        if (!x_.src_.read(data, ws_.out_, n)) return {"cannot read the archive"};
        p = ws_.out_;
      }
      crc = crc32_update(crc, p, n);
      if (Err err = x_.host_.write_all(out, p, n)) return {"cannot write", err};
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
        size_t n;
        unsigned char* p = win_.fetch(data, left, &n);
        if (!p) return {"cannot read the archive"};
        z.next_in = p;
        z.avail_in = static_cast<uInt>(n);
        data += n;
        left -= n;
      }
      z.next_out = ws_.out_;
      z.avail_out = sizeof ws_.out_;
      // Z_FINISH: an entry that fits the output buffer is inflated in one
      // call, without zlib copying it into its window as well; a larger one
      // goes on as with Z_NO_FLUSH, each call that does not end the stream
      // answering Z_BUF_ERROR.
      rc = inflate(&z, Z_FINISH);
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
        crc = crc32_update(crc, ws_.out_, n);
        if (Err err = x_.host_.write_all(out, ws_.out_, n)) return {"cannot write", err};
        produced += n;
      }
    }
  }
  if (produced != e.usize) return {"data is shorter than declared"};
  if (crc != e.crc) return {"CRC-32 mismatch"};
  return {};
}

bool Worker::unpack_file(const zip::Entry& e, size_t rel_len) {
  if (!join(rel_len)) return false;
  const int64_t mtime = entry_mtime(e, x_.host_);
  if (x_.opt_.update) {
    Stat st;
    Err err = x_.host_.stat(ws_.path_, &st);
    if (err) return entry_error("cannot check existing file", "", err), false;
    if (st.kind == Stat::Kind::file && st.mtime >= mtime) {
      ++t_.skipped;
      if (x_.opt_.quiet == 0) {
        Line l;
        l << " up to date: " << current_ << "\n";
        x_.rep_.info(l.view());
      }
      return true;
    }
  }
  if (!ensure_parent()) return false;

  uint64_t data;
  zip::Error zerr = zip::locate_data(win_, x_.ar_, e, ws_.out_, sizeof ws_.out_, &data);
  if (zerr != zip::Error::none) {
    entry_error("damaged entry", zip::describe(zerr));
    return false;
  }

  // The temporary file lives beside the final one, so the closing rename
  // never crosses a file system. The worker's number leads its serials, so
  // that workers writing into one directory do not race for one name.
  std::memcpy(ws_.temp_, ws_.path_, leaf_pos_);
  char* tail = ws_.temp_ + leaf_pos_;
  Handle out = kNoHandle;
  Err err = 0;
  for (int tries = 0; tries < 64; ++tries) {
    uint32_t serial = (ws_.temp_serial_++ & 0x0FFFFFFF) | static_cast<uint32_t>(id_) << 28;
    static constexpr char kHex[] = "0123456789abcdef";
    char name[] = ".rdz-00000000.tmp";
    for (int i = 0; i < 8; ++i) name[12 - i] = kHex[(serial >> (4 * i)) & 15];
    if (static_cast<size_t>(tail - ws_.temp_) + sizeof name > sizeof ws_.temp_) {
      err = kErrPathTooLong;
      break;
    }
    std::memcpy(tail, name, sizeof name);
    err = x_.host_.create_new(ws_.temp_, &out);
    if (!err) break;
    Stat st;
    if (x_.host_.stat(ws_.temp_, &st) != 0 || st.kind == Stat::Kind::missing) break;
  }
  if (err) return entry_error("cannot create file", "", err), false;

  Failure f = copy_data(e, data, out);
  bool ok = f.what == nullptr;
  if (f.err) {
    entry_error(f.what, "", f.err);
  } else if (!ok) {
    entry_error("not unpacked", f.what);
  }
  if (ok && (err = x_.host_.set_mtime(out, mtime)) != 0) {
    entry_error("cannot set modification time", "", err);
    ok = false;
  }
  if ((err = x_.host_.close(out)) != 0 && ok) {
    entry_error("cannot write", "", err);
    ok = false;
  }
  if (ok && (err = x_.host_.rename_replace(ws_.temp_, ws_.path_)) != 0) {
    entry_error("cannot replace file", "", err);
    ok = false;
  }
  if (!ok) {
    x_.host_.remove_file(ws_.temp_);
    return false;
  }
  ++t_.files;
  t_.bytes += e.usize;
  if (x_.opt_.quiet == 0) {
    Line l;
    l << "   unpacked: " << current_ << "\n";
    x_.rep_.info(l.view());
  }
  return true;
}

void Worker::unpack(const zip::Entry& e) {
  size_t rel_len;
  Refusal r;
  Kind kind = classify(e, ws_.decoded_, sizeof ws_.decoded_, ws_.rel_, sizeof ws_.rel_, &rel_len, &r);
  if (r.reason) {
    // Pass one let it through, so the archive changed in between.
    current_ = x_.display_name(e, ws_, shown_, sizeof shown_);
    ++t_.failed;
    entry_error("refused", r.reason);
    return;
  }
  current_ = {shown_, names::printable({ws_.rel_, rel_len}, shown_, sizeof shown_)};
  bool ok = kind == Kind::dir ? unpack_dir(rel_len) : unpack_file(e, rel_len);
  if (!ok) ++t_.failed;
}

void Worker::run() {
  ws_.made_dir_[0] = '\0';
  // Each worker walks the directory itself, up to the entries it claims;
  // only the step from the big entries back to the others starts it again.
  std::optional<zip::Cursor> cur;
  uint64_t at = 0;  // the index of the record cur reads next
  uint64_t index;
  zip::Entry e;
  Extraction::Run run;
  while (x_.claim(&run, &index)) {
    if (!cur || index < at) {
      cur.emplace(x_.src_, x_.ar_, ws_.cd_, sizeof ws_.cd_);
      at = 0;
    }
    bool done = false;
    zip::Error err = zip::Error::none;
    while (at <= index) {
      err = cur->next(&e, &done);
      if (err != zip::Error::none || done) break;
      ++at;
    }
    if (err != zip::Error::none || done) {
      // The directory was read in full once already; failing now means the
      // file changed underneath.
      x_.changed(done ? zip::Error::cd_count_mismatch : err);
      return;
    }
    unpack(e);
  }
}

}  // namespace rdz
