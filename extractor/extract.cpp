#include "extract.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RDZ_CLMUL 1
#endif

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

uint64_t add_capped(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// Refused entries named one by one before the rest are only counted.
constexpr uint64_t kMostRefusalsShown = 100;

// Hands the caller's Reporter one message at a time, whichever worker sends it.
class SharedReporter final : public Reporter {
 public:
  explicit SharedReporter(Reporter& to) : to_(to) {}
  void info(std::string_view line) override {
    fs::Lock hold(mu_);
    to_.info(line);
  }
  void error(std::string_view line) override {
    fs::Lock hold(mu_);
    to_.error(line);
  }

 private:
  Reporter& to_;
  fs::Mutex mu_;
};

// A worker's view of the archive through a buffer of its workspace: a local
// header, its name and the start of its data come in one read, and so, for
// small files, do the next few entries.
class Window final : public zip::Source {
 public:
  Window(zip::Source& src, unsigned char* buf, size_t cap) : src_(src), buf_(buf), cap_(cap) {}

  uint64_t size() const override { return src_.size(); }

  bool read(uint64_t offset, void* out, size_t n) override {
    if (n == 0 || n > cap_) return src_.read(offset, out, n);
    if (!holds(offset, n) && (!fill(offset) || len_ < n)) return false;
    std::memcpy(out, buf_ + (offset - begin_), n);
    return true;
  }

  // Up to `want` (> 0) bytes at `offset`, moving the window there when it
  // does not hold them. Null when the archive cannot be read there.
  unsigned char* fetch(uint64_t offset, uint64_t want, size_t* got) {
    if (!holds(offset, 1) && !fill(offset)) return nullptr;
    return peek(offset, want, got);
  }

  // As fetch, but null when the window does not hold `offset` already.
  unsigned char* peek(uint64_t offset, uint64_t want, size_t* got) {
    if (!holds(offset, 1)) return nullptr;
    const size_t at = static_cast<size_t>(offset - begin_);
    const size_t have = len_ - at;
    *got = want < have ? static_cast<size_t>(want) : have;
    return buf_ + at;
  }

 private:
  bool holds(uint64_t offset, size_t n) const {
    if (offset < begin_ || offset - begin_ >= len_) return false;
    return n <= len_ - static_cast<size_t>(offset - begin_);
  }
  bool fill(uint64_t offset) {
    const uint64_t size = src_.size();
    len_ = 0;
    if (offset >= size) return false;
    const size_t len = size - offset < cap_ ? static_cast<size_t>(size - offset) : cap_;
    if (!src_.read(offset, buf_, len)) return false;
    begin_ = offset;
    len_ = len;
    return true;
  }

  zip::Source& src_;
  unsigned char* buf_;
  size_t cap_;
  uint64_t begin_ = 0;
  size_t len_ = 0;
};

// The paths an archive puts on the disk, each under a key that is the same
// for any two paths one file system might take for one object, so that pass
// one can tell whether the order in which entries are unpacked can change
// the result. Windows compares names by upper-casing each UTF-16 unit: ASCII
// letters fold, every other character counts as one and the same (which
// only ever merges more paths than Windows would), and a name with '~' in
// it could be the short name of another. Keys live in a fixed open-addressed
// table; a full table counts as a clash, since nothing more can be told.
class NameSet {
 public:
  NameSet(uint64_t* slots, size_t count) : slots_(slots), mask_(count - 1) {
    std::memset(slots_, 0, count * sizeof *slots_);
  }

  // False once some path may be reached by two entries of which one is a
  // file (two directory entries for one directory are harmless).
  bool add(std::string_view rel, bool is_dir) {
    uint64_t h = kFnvBasis;
    for (size_t i = 0; i < rel.size() && !clash_; ++i) {
      auto c = static_cast<unsigned char>(rel[i]);
      if (c == '/') {
        insert(h, true);
      } else if (c == '~') {
        clash_ = true;
      } else if ((c & 0xC0) == 0x80) {
        continue;  // the rest of a character already counted
      } else if (c >= 0x80) {
        // Dotless i and long s are the two whose capitals are ASCII.
        unsigned char next = i + 1 < rel.size() ? static_cast<unsigned char>(rel[i + 1]) : 0;
        c = (c == 0xC4 && next == 0xB1) ? 'i' : (c == 0xC5 && next == 0xBF) ? 's' : 0x80;
      } else if (c >= 'A' && c <= 'Z') {
        c = static_cast<unsigned char>(c - 'A' + 'a');
      }
      h = (h ^ c) * kFnvPrime;
    }
    if (!rel.empty() && !clash_) insert(h, is_dir);
    return !clash_;
  }

  bool clash() const { return clash_; }

 private:
  static constexpr uint64_t kFnvBasis = 0xcbf29ce484222325ULL, kFnvPrime = 0x100000001b3ULL;

  void insert(uint64_t key, bool dir) {
    key &= ~uint64_t{1};  // the low bit tells directories
    if (key == 0) key = 2;  // 0 marks a free slot
    size_t i = static_cast<size_t>((key ^ (key >> 29)) * 0x9e3779b97f4a7c15ULL >> 24) & mask_;
    for (; slots_[i] != 0; i = (i + 1) & mask_) {
      if ((slots_[i] & ~uint64_t{1}) == key) {
        if (!dir || !(slots_[i] & 1)) clash_ = true;
        return;
      }
    }
    if (++used_ > (mask_ + 1) / 2) {
      clash_ = true;
      return;
    }
    slots_[i] = key | (dir ? 1 : 0);
  }

  uint64_t* slots_;
  size_t mask_;
  size_t used_ = 0;
  bool clash_ = false;
};

// The paths entries name, compared as Windows compares ASCII letters (other
// bytes as they are), to refuse an archive that names one file twice: which
// of the two would be "the" file is anybody's guess. Directories named twice
// are harmless; a file where a directory is named or implied is not. Keys are
// 64-bit hashes: two different names share one by accident about once in
// 10^19 pairs. The table is sized from the directory's size and capped, so a
// directory too large for it is refused rather than left unchecked.
class ExactNames {
 public:
  // Four slots a record: one for the path, the rest for the directories it
  // implies; half may fill.
  static constexpr size_t kMostSlots = size_t{1} << 21;  // 16 MiB

  explicit ExactNames(uint64_t records) {
    size_t want = 1024;
    while (want < kMostSlots && want / 8 < records) want *= 2;
    slots_ = static_cast<uint64_t*>(std::calloc(want, sizeof *slots_));
    mask_ = slots_ ? want - 1 : 0;
  }
  ~ExactNames() { std::free(slots_); }
  ExactNames(const ExactNames&) = delete;
  ExactNames& operator=(const ExactNames&) = delete;

  enum class Result { fresh, twice, full };

  Result add(std::string_view rel, bool is_dir) {
    if (slots_ == nullptr) return Result::full;
    while (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
    if (rel.empty()) return Result::fresh;
    uint64_t h = kFnvBasis;
    Result r = Result::fresh;
    for (size_t i = 0; i < rel.size(); ++i) {
      auto c = static_cast<unsigned char>(rel[i]);
      if (c == '/') {
        Result d = insert(h, true);
        if (d != Result::fresh) r = d;
      }
      if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
      h = (h ^ c) * kFnvPrime;
    }
    Result own = insert(h, is_dir);
    return own != Result::fresh ? own : r;
  }

 private:
  static constexpr uint64_t kFnvBasis = 0xcbf29ce484222325ULL, kFnvPrime = 0x100000001b3ULL;

  Result insert(uint64_t key, bool dir) {
    key ^= key >> 31;
    key *= 0x7fb5d329728ea185ULL;
    key ^= key >> 27;
    key &= ~uint64_t{1};  // the low bit tells directories
    if (key == 0) key = 2;
    size_t i = static_cast<size_t>(key >> 20) & mask_;
    for (; slots_[i] != 0; i = (i + 1) & mask_) {
      if ((slots_[i] & ~uint64_t{1}) != key) continue;
      if (dir && (slots_[i] & 1)) return Result::fresh;
      return Result::twice;
    }
    if (++used_ > (mask_ + 1) / 2) return Result::full;
    slots_[i] = key | (dir ? 1 : 0);
    return Result::fresh;
  }

  uint64_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t used_ = 0;
};

// Decides what one entry is: refused (r says why), a directory, or a file;
// the relative path it goes to is left in `rel`.
Kind classify(const zip::Entry& e, char* decoded, size_t decoded_cap, char* rel, size_t rel_cap,
              size_t* rel_len, Refusal* r) {
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
  names::Verdict v = names::decode(e, decoded, decoded_cap, &dlen);
  bool slash_dir = false;
  if (v == names::Verdict::ok) {
    v = names::normalize({decoded, dlen}, rel, rel_cap, rel_len, &slash_dir);
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

#ifdef RDZ_CLMUL
#define RDZ_TARGET_CLMUL __attribute__((target("pclmul,sse2")))

RDZ_TARGET_CLMUL inline __m128i load16(const unsigned char* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x times x^k (k's two halves for the two halves of x), plus what follows.
RDZ_TARGET_CLMUL inline __m128i fold16(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// CRC-32 by carry-less multiplication: 64 bytes at a time are folded into
// four 128-bit lanes, the lanes into one, and that one reduced to 32 bits.
// Several times the speed of the table-driven loop, on processors that have
// the instruction; every byte checked still counts. `crc` is the register
// itself (not inverted), `n` at least 64 and a multiple of 16.
RDZ_TARGET_CLMUL uint32_t crc32_folded(uint32_t crc, const unsigned char* p, size_t n) {
  // x^(512±32), x^(128±32), x^64 mod P, and Barrett's mu and P, all
  // bit-reflected.
  const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i mu_p = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  __m128i x0 = _mm_xor_si128(load16(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load16(p + 16), x2 = load16(p + 32), x3 = load16(p + 48);
  p += 64;
  n -= 64;
  for (; n >= 64; p += 64, n -= 64) {
    x0 = fold16(x0, k1k2, load16(p));
    x1 = fold16(x1, k1k2, load16(p + 16));
    x2 = fold16(x2, k1k2, load16(p + 32));
    x3 = fold16(x3, k1k2, load16(p + 48));
  }
  x0 = fold16(fold16(fold16(x0, k3k4, x1), k3k4, x2), k3k4, x3);
  for (; n >= 16; p += 16, n -= 16) x0 = fold16(x0, k3k4, load16(p));
  // 128 bits to 64, then to 32, then Barrett's reduction to the remainder.
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(k3k4, x0, 0x01), _mm_srli_si128(x0, 8));
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x0, low32), k5, 0x00),
                     _mm_srli_si128(x0, 4));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), mu_p, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), mu_p, 0x00);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(t, x0), 4)));
}
#endif

}  // namespace

uint32_t crc32_update(uint32_t crc, const unsigned char* p, size_t n) {
#ifdef RDZ_CLMUL
  if (n >= 64 && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2")) {
    const size_t bulk = n & ~size_t{15};
    crc = ~crc32_folded(~crc, p, bulk);
    p += bulk;
    n -= bulk;
  }
#endif
  return static_cast<uint32_t>(crc32_z(crc, p, n));
}

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

class Worker;

// What all workers share: the archive, the target, the options, and the
// order in which they take entries.
class Extraction {
 public:
  Extraction(zip::Source& src, const cli::Options& opt, Workspace* const* ws, unsigned count,
             Reporter& rep)
      : src_(src), opt_(opt), ws_(ws), count_(count < kMaxWorkers ? count : kMaxWorkers),
        rep_(rep) {}

  int run(std::string_view target, Totals* totals);

 private:
  friend class Worker;

  // Entries worth starting with, so that a long one does not end up alone
  // on one processor at the end while the others wait.
  static constexpr size_t kFirst = 16;
  static constexpr uint64_t kFirstMin = 1 << 20;

  // Pass one: the whole directory, read and judged without touching the disk.
  int check_all();
  void note_size(uint64_t index, uint64_t size);
  unsigned plan_workers() const;
  bool prepare_target(std::string_view target);
  // Pass two: the workers take entries until none is left.
  int unpack_all(unsigned workers);
  // Entries a worker has claimed and not yet taken: [next, end).
  struct Run {
    uint64_t next = 0, end = 0;
  };
  static constexpr uint64_t kRun = 16;
  bool claim(Run* run, uint64_t* index);
  bool is_first(uint64_t index) const;
  void changed(zip::Error err);
  std::string_view display_name(const zip::Entry& e, Workspace& ws, char* shown, size_t cap);

  zip::Source& src_;
  const cli::Options& opt_;
  Workspace* const* ws_;
  const unsigned count_;
  SharedReporter rep_;
  zip::Archive ar_;
  Totals t_;
  const char* base_ = nullptr;  // the target, without trailing separators
  size_t base_len_ = 0;

  // Learnt in pass one.
  uint64_t entries_ = 0;  // records in the directory
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;    // declared, capped
  bool ordered_ = false;  // entries must be unpacked in archive order
  struct Big {
    uint64_t index, size;
  } big_[kFirst];
  size_t n_big_ = 0;
  uint64_t first_[kFirst];  // indices of big_, ascending
  size_t n_first_ = 0;

  // Pass two.
  std::atomic<size_t> next_first_{0};
  std::atomic<uint64_t> next_{0};
  std::atomic<bool> stop_{false};
  unsigned workers_ = 1;
};

// One thread's share of pass two, with its own Workspace.
class Worker {
 public:
  Worker(Extraction& x, Workspace& ws, unsigned id)
      : x_(x), ws_(ws), id_(id), win_(x.src_, ws.in_, sizeof ws.in_) {}

  static void enter(void* self) { static_cast<Worker*>(self)->run(); }
  void run();
  const Totals& totals() const { return t_; }

 private:
  void unpack(const zip::Entry& e);
  bool unpack_file(const zip::Entry& e, size_t rel_len);
  bool unpack_dir(size_t rel_len);
  Failure copy_data(const zip::Entry& e, uint64_t data, const fs::File& out);
  // Builds ws_.path_ from the target and ws_.rel_, noting where its parts start.
  bool join(size_t rel_len);
  bool ensure_parent();
  void entry_error(std::string_view what, std::string_view detail, fs::Err e = 0);

  Extraction& x_;
  Workspace& ws_;
  const unsigned id_;
  Window win_;
  Totals t_;
  std::string_view current_;  // the entry being worked on, for messages
  size_t rel_pos_ = 0;         // where ws_.rel_ starts in ws_.path_
  size_t leaf_pos_ = 0;        // where the last component starts in ws_.path_
  char shown_[512];
};

namespace {

// Makes `p` (of length `len`) a directory, with whatever parents it lacks.
// Another worker may be making the same ones at the same time: a directory
// that appears meanwhile is as good as one made here.
fs::Err ensure_dirs(char* p, size_t len) {
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

}  // namespace

std::string_view Extraction::display_name(const zip::Entry& e, Workspace& ws, char* shown,
                                          size_t cap) {
  size_t len;
  if (names::decode(e, ws.decoded_, sizeof ws.decoded_, &len) == names::Verdict::ok) {
    return {shown, names::printable({ws.decoded_, len}, shown, cap)};
  }
  // Undecodable: whatever it is, it must not reach a terminal raw.
  return {shown, names::printable(e.name, shown, cap, true)};
}

void Worker::entry_error(std::string_view what, std::string_view detail, fs::Err e) {
  Line l;
  l << kProg << current_ << ": " << what;
  if (!detail.empty()) l << ": " << detail;
  if (e) {
    char text[256];
    fs::error_text(e, text, sizeof text);
    l << ": " << std::string_view(text);
  }
  l << "\n";
  x_.rep_.error(l.view());
}

void Extraction::note_size(uint64_t index, uint64_t size) {
  if (size < kFirstMin) return;
  size_t at = n_big_;
  if (at == kFirst) {
    if (size <= big_[kFirst - 1].size) return;
    --at;
  } else {
    ++n_big_;
  }
  while (at > 0 && big_[at - 1].size < size) {
    big_[at] = big_[at - 1];
    --at;
  }
  big_[at] = {index, size};
}

int Extraction::check_all() {
  Workspace& ws = *ws_[0];
  zip::Cursor cur(src_, ar_, ws.cd_, sizeof ws.cd_);
  // Room for four slots a record, which the directory's size bounds; half of
  // them may fill before the set gives up.
  std::optional<NameSet> paths;
  if (count_ > 1) {
    const uint64_t records = (ar_.cd_end - ar_.cd_begin) / 46 + 1;
    size_t slots = 1024;
    while (slots < Workspace::kNameSlots && slots / 4 < records) slots *= 2;
    paths.emplace(ws.names_, slots);
  }
  ExactNames exact((ar_.cd_end - ar_.cd_begin) / 46 + 1);
  // Local headers and data of all entries, at least: more than lies in front
  // of the directory means entries share or overlap their data, the way an
  // archive writes gigabytes from kilobytes.
  uint64_t claimed = 0;
  zip::Entry e;
  bool done = false;
  char shown[512];
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
    claimed = add_capped(claimed, add_capped(30 + e.name.size(), e.csize));
    size_t rel_len;
    Refusal r;
    Kind kind = classify(e, ws.decoded_, sizeof ws.decoded_, ws.rel_, sizeof ws.rel_, &rel_len, &r);
    if (!r.reason) {
      switch (exact.add({ws.rel_, rel_len}, kind == Kind::dir)) {
        case ExactNames::Result::fresh:
          break;
        case ExactNames::Result::twice:
          r.reason = "another entry names the same file (letter case aside)";
          break;
        case ExactNames::Result::full: {
          Line l;
          l << kProg << "too many entries to check their names (more than "
            << static_cast<uint64_t>(ExactNames::kMostSlots / 8) << "); nothing was unpacked\n";
          rep_.error(l.view());
          return kExitEntries;
        }
      }
    }
    if (r.reason) {
      // Every refusal counts; the first ones are named, the rest summed up,
      // so that a hostile archive cannot bury the console in lines.
      if (++t_.refused > kMostRefusalsShown) continue;
      Line l;
      l << kProg << display_name(e, ws, shown, sizeof shown)
        << ": refused: " << std::string_view(r.reason);
      if (r.method) l << " " << static_cast<uint64_t>(r.method);
      l << "\n";
      rep_.error(l.view());
      continue;
    }
    if (kind == Kind::file) {
      ++files_;
      bytes_ = add_capped(bytes_, e.usize);
      note_size(cur.index() - 1, e.usize);
    }
    if (paths && !paths->clash()) paths->add({ws.rel_, rel_len}, kind == Kind::dir);
  }
  entries_ = cur.index();
  ordered_ = !paths || paths->clash();
  if (claimed > ar_.cd_begin - ar_.base) {
    rep_.error(
        "ruduvizide: damaged archive: entries overlap (their headers and data add up to more "
        "than the archive holds); nothing was unpacked\n");
    return kExitArchive;
  }
  if (t_.refused > kMostRefusalsShown) {
    Line l;
    l << kProg << "... and " << t_.refused - kMostRefusalsShown << " more refused entries\n";
    rep_.error(l.view());
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

unsigned Extraction::plan_workers() const {
  if (count_ <= 1 || ordered_) return 1;
  // A worker earns its start-up when it has about this much to do; a file
  // costs its system calls on top of its bytes.
  constexpr uint64_t kPerFile = 16 << 10, kPerWorker = 1 << 20;
  const uint64_t work = add_capped(bytes_, files_ > UINT64_MAX / kPerFile ? UINT64_MAX
                                                                           : files_ * kPerFile);
  const uint64_t n = work / kPerWorker;
  return n < 1 ? 1 : n < count_ ? static_cast<unsigned>(n) : count_;
}

bool Extraction::prepare_target(std::string_view target) {
  Workspace& ws = *ws_[0];
  Line l;
  size_t len = 0;
  if (target.empty()) target = ".";
  if (target.size() + names::kMaxName + 2 > sizeof ws.base_) {
    l << kProg << "target directory name is too long\n";
    rep_.error(l.view());
    return false;
  }
  std::memcpy(ws.base_, target.data(), target.size());
  len = target.size();
  // "C:\libs\" and "C:\libs" are one directory; a root keeps its separator.
  while (len > 1 && is_sep(ws.base_[len - 1])) --len;
  if (fs::kBackslashIsSeparator && len == 2 && ws.base_[1] == ':' && target.size() > 2) ++len;
  ws.base_[len] = '\0';
  fs::Err e = ensure_dirs(ws.base_, len);
  if (e) {
    char text[256];
    fs::error_text(e, text, sizeof text);
    l << kProg << "cannot create target directory " << std::string_view(ws.base_, len)
      << ": " << std::string_view(text) << "\n";
    rep_.error(l.view());
    return false;
  }
  base_ = ws.base_;
  base_len_ = len;
  return true;
}

bool Worker::join(size_t rel_len) {
  const size_t blen = x_.base_len_;
  bool sep = blen > 0 && is_sep(x_.base_[blen - 1]);
  size_t total = blen + (sep ? 0 : 1) + rel_len;
  if (total > fs::kMaxPath) {
    entry_error("cannot unpack", "", fs::kErrPathTooLong);
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

bool Worker::unpack_dir(size_t rel_len) {
  if (rel_len == 0) return true;  // the target itself
  if (!join(rel_len)) return false;
  fs::Err e = ensure_dirs(ws_.path_, std::strlen(ws_.path_));
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

Failure Worker::copy_data(const zip::Entry& e, uint64_t data, const fs::File& out) {
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
      if (fs::Err err = fs::write_all(out, p, n)) return {"cannot write", err};
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
        if (fs::Err err = fs::write_all(out, ws_.out_, n)) return {"cannot write", err};
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
  const int64_t mtime = entry_mtime(e);
  if (x_.opt_.update) {
    fs::Stat st;
    fs::Err err = fs::stat(ws_.path_, &st);
    if (err) return entry_error("cannot check existing file", "", err), false;
    if (st.kind == fs::Stat::Kind::file && st.mtime >= mtime) {
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
  fs::File out;
  fs::Err err = 0;
  for (int tries = 0; tries < 64; ++tries) {
    uint32_t serial = (ws_.temp_serial_++ & 0x0FFFFFFF) | static_cast<uint32_t>(id_) << 28;
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

bool Extraction::is_first(uint64_t index) const {
  for (size_t i = 0; i < n_first_; ++i) {
    if (first_[i] == index) return true;
  }
  return false;
}

bool Extraction::claim(Run* run, uint64_t* index) {
  if (stop_.load(std::memory_order_relaxed)) return false;
  if (n_first_) {
    size_t k = next_first_.fetch_add(1, std::memory_order_relaxed);
    if (k < n_first_) {
      *index = first_[k];
      return true;
    }
  }
  while (true) {
    if (run->next == run->end) {
      // A run of neighbours at a time: they mostly share a directory, and
      // two workers creating files in one directory wait for each other's
      // lock on it. Shorter runs towards the end keep the finish even.
      uint64_t at = next_.load(std::memory_order_relaxed), n;
      do {
        if (at >= entries_) return false;
        n = (entries_ - at) / (4 * workers_);
        n = n < 1 ? 1 : n > kRun ? kRun : n;
      } while (!next_.compare_exchange_weak(at, at + n, std::memory_order_relaxed));
      run->next = at;
      run->end = at + n;
    }
    uint64_t i = run->next++;
    if (!is_first(i)) {
      *index = i;
      return true;
    }
  }
}

void Extraction::changed(zip::Error err) {
  if (stop_.exchange(true)) return;  // told once is enough
  Line l;
  l << kProg << "archive changed while unpacking: " << std::string_view(zip::describe(err)) << "\n";
  rep_.error(l.view());
}

int Extraction::unpack_all(unsigned workers) {
  workers_ = workers;
  // Big entries first, in archive order, each worker's directory walk moving
  // only forward through them; unordered archives only.
  n_first_ = 0;
  if (workers > 1) {
    for (size_t i = 0; i < n_big_; ++i) {
      size_t at = n_first_++;
      while (at > 0 && first_[at - 1] > big_[i].index) {
        first_[at] = first_[at - 1];
        --at;
      }
      first_[at] = big_[i].index;
    }
  }
  std::optional<Worker> crew[kMaxWorkers];
  fs::Thread threads[kMaxWorkers];
  for (unsigned i = 0; i < workers; ++i) crew[i].emplace(*this, *ws_[i], i);
  // A thread the system will not give is a worker less, not a failure.
  t_.workers = 1;
  while (t_.workers < workers && threads[t_.workers].start(&Worker::enter, &*crew[t_.workers]) == 0) {
    ++t_.workers;
  }
  crew[0]->run();
  for (unsigned i = 1; i < workers; ++i) threads[i].join();
  for (unsigned i = 0; i < workers; ++i) {
    const Totals& w = crew[i]->totals();
    t_.files += w.files;
    t_.bytes += w.bytes;
    t_.skipped += w.skipped;
    t_.dirs += w.dirs;
    t_.failed += w.failed;
  }
  if (stop_.load()) return kExitArchive;
  return t_.failed ? kExitEntries : kExitOk;
}

int Extraction::run(std::string_view target, Totals* totals) {
  int rc = kExitOk;
  bool ready = count_ > 0;
  for (unsigned i = 0; i < count_ && ready; ++i) ready = ws_[i] && ws_[i]->ready();
  if (!ready) {
    rep_.error("ruduvizide: out of memory\n");
    rc = kExitInternal;
  } else if (zip::Error err = zip::open(src_, &ar_, ws_[0]->cd_, sizeof ws_[0]->cd_);
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
    rc = unpack_all(plan_workers());
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
            Workspace* const* ws, unsigned count, Reporter& rep, Totals* totals) {
  Extraction x(src, opt, ws, count, rep);
  return x.run(target, totals);
}

int extract(zip::Source& src, std::string_view target, const cli::Options& opt,
            Workspace& ws, Reporter& rep, Totals* totals) {
  Workspace* one = &ws;
  return extract(src, target, opt, &one, 1, rep, totals);
}

}  // namespace rdz
