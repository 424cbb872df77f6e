// Everything an archive reaches on its way to the disk, driven by libFuzzer:
// the container reader, the entry-name rules, the command-line splitter and
// the extraction itself, into a scratch directory that is inspected and
// emptied after every input.
//
// A finding is an abort with a line on stderr saying which promise broke.
// The same file, linked with replay.cpp instead of libFuzzer, replays saved
// inputs as an ordinary test under any compiler.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "cmdline.h"
#include "extract.h"
#include "names.h"
#include "zip.h"

namespace {

namespace stdfs = std::filesystem;

// Bounds per input, so that a small input declaring gigabytes costs
// milliseconds: the reader is walked whatever the sizes, the disk is only
// used when what the archive declares fits.
constexpr uint64_t kInflateBudget = 64u << 20;
constexpr uint64_t kDiskBudget = 8u << 20;

[[noreturn]] void broken(const char* promise, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz_extract: broken promise: %s", promise);
  if (!detail.empty()) {
    std::fprintf(stderr, ": ");
    for (char c : detail) std::fputc((c >= 0x20 && c < 0x7F) ? c : '?', stderr);
  }
  std::fputc('\n', stderr);
  std::abort();
}

bool has_control(std::string_view s) {
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// A normalized name must be a plain relative path that stays below the
// target on every system, and normalizing it again must change nothing.
void check_normalized(std::string_view in, std::string_view out, bool is_dir) {
  if (out.size() > rdz::names::kMaxName) broken("normalized name too long", out);
  if (!rdz::names::valid_utf8(out)) broken("normalized name is not UTF-8", out);
  if (out.empty()) {
    if (!is_dir) broken("empty file name accepted", in);
    return;
  }
  if (out.front() == '/' || out.back() == '/') broken("separator at an end", out);
  if (out.find('\\') != std::string_view::npos) broken("backslash survived", out);
  if (out.find(':') != std::string_view::npos) broken("colon survived", out);
  // DEL is a legal character in Windows names, and printable() masks it.
  for (char ch : out) {
    if (static_cast<unsigned char>(ch) < 0x20) broken("control character survived", out);
  }
  size_t i = 0;
  while (i <= out.size()) {
    size_t j = out.find('/', i);
    if (j == std::string_view::npos) j = out.size();
    std::string_view c = out.substr(i, j - i);
    if (c.empty() || c == "." || c == "..") broken("bad component survived", out);
    if (rdz::names::check_component(c) != rdz::names::Verdict::ok) {
      broken("component fails its own rule", out);
    }
    i = j + 1;
  }
  char again[rdz::names::kMaxName + 1];
  size_t len = 0;
  bool dir = false;
  if (rdz::names::normalize(out, again, sizeof again, &len, &dir) != rdz::names::Verdict::ok ||
      std::string_view(again, len) != out || dir) {
    broken("normalizing twice changes the name", out);
  }
}

void check_printable(std::string_view name, bool ascii_only) {
  char shown[64];
  size_t n = rdz::names::printable(name, shown, sizeof shown, ascii_only);
  if (n >= sizeof shown || shown[n] != '\0') broken("printable overran", name);
  std::string_view s(shown, n);
  if (has_control(s)) broken("printable let a control character through", name);
  if (ascii_only) {
    for (char c : s) {
      if (static_cast<unsigned char>(c) >= 0x80) broken("printable let a high byte through", name);
    }
  }
  if (rdz::names::valid_utf8(name) && !rdz::names::valid_utf8(s)) {
    broken("printable cut a character in half", name);
  }
}

// The name rules on their own, with the input as a name in every encoding a
// header can ask for.
void fuzz_names(const uint8_t* data, size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data),
                       size < 3 * rdz::names::kMaxName ? size : 3 * rdz::names::kMaxName);
  static char decoded[3 * rdz::names::kMaxName + 1];
  static char rel[rdz::names::kMaxName + 1];
  const uint16_t flag_sets[] = {0x0800, 0};
  const uint16_t hosts[] = {rdz::zip::host::kDos, rdz::zip::host::kUnix};
  for (uint16_t flags : flag_sets) {
    for (uint16_t host : hosts) {
      rdz::zip::Entry e;
      e.name = raw;
      e.flags = flags;
      e.made_by = static_cast<uint16_t>(host << 8);
      size_t dlen = 0;
      if (rdz::names::decode(e, decoded, sizeof decoded, &dlen) != rdz::names::Verdict::ok) {
        continue;
      }
      if (dlen >= sizeof decoded || decoded[dlen] != '\0') broken("decode overran", raw);
      std::string_view d(decoded, dlen);
      if (!rdz::names::valid_utf8(d)) broken("decoded name is not UTF-8", raw);
      check_printable(d, false);
      size_t len = 0;
      bool is_dir = false;
      if (rdz::names::normalize(d, rel, sizeof rel, &len, &is_dir) == rdz::names::Verdict::ok) {
        check_normalized(d, {rel, len}, is_dir);
      }
    }
  }
  check_printable(raw, true);
}

void fuzz_cmdline(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  std::vector<char> storage(size ? size : 1);
  std::string_view args[8];
  int n = rdz::cli::split(line, storage.data(), size, args, 8);
  if (n < -1 || n > 8) broken("split count out of range");
  for (int i = 0; i < n; ++i) {
    if (!args[i].empty() &&
        (args[i].data() < storage.data() || args[i].data() + args[i].size() > storage.data() + size)) {
      broken("split argument outside its storage");
    }
  }
  if (n > 0) {
    rdz::cli::Options opt;
    std::string_view bad;
    rdz::cli::parse(args, n, &opt, &bad);
  }
}

struct Expected {
  uint32_t crc;
  uint64_t size;
};

// Reads the archive the way the extractor does, inflating each entry in
// memory. Returns false when the reader refuses it; *declared is the sum of
// the sizes it claims, *files what each name should hold once the last entry
// of that name is on disk.
bool walk(rdz::zip::Source& src, uint64_t* declared, std::map<std::string, Expected>* files,
          std::set<std::string>* named_paths) {
  static unsigned char cd[rdz::zip::kMaxRecord > rdz::zip::kOpenScratch ? rdz::zip::kMaxRecord
                                                                         : rdz::zip::kOpenScratch];
  static unsigned char in[64 * 1024];
  static unsigned char out[256 * 1024];
  static char decoded[3 * rdz::names::kMaxName + 1];
  static char rel[rdz::names::kMaxName + 1];
  *declared = 0;
  rdz::zip::Archive ar;
  if (rdz::zip::open(src, &ar, cd, sizeof cd) != rdz::zip::Error::none) return false;
  if (ar.base > src.size() || ar.cd_begin < ar.base || ar.cd_end < ar.cd_begin ||
      ar.cd_end > src.size()) {
    broken("archive bounds outside the source");
  }
  rdz::zip::Cursor cur(src, ar, cd, sizeof cd);
  uint64_t budget = kInflateBudget;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) broken("inflateInit2");
  bool ok = true;
  uint64_t claimed = 0;
  for (;;) {
    rdz::zip::Entry e;
    bool done = false;
    if (cur.next(&e, &done) != rdz::zip::Error::none) {
      ok = false;
      break;
    }
    if (done) break;
    if (cur.index() > src.size() / 46) broken("more entries than the source can hold");
    if (e.local_header < ar.base || e.local_header >= ar.cd_begin) {
      broken("local header outside the archive");
    }
    *declared += e.usize < kDiskBudget ? e.usize : kDiskBudget + 1;
    // Headers and data that add up to more than the space in front of the
    // directory overlap somewhere: the extractor refuses such an archive.
    const uint64_t need = 30 + e.name.size() + e.csize;
    claimed = e.csize > UINT64_MAX - 30 - e.name.size() || need > UINT64_MAX - claimed
                  ? UINT64_MAX
                  : claimed + need;

    size_t dlen = 0, len = 0;
    bool is_dir = false;
    bool named = rdz::names::decode(e, decoded, sizeof decoded, &dlen) == rdz::names::Verdict::ok &&
                 rdz::names::normalize({decoded, dlen}, rel, sizeof rel, &len, &is_dir) ==
                     rdz::names::Verdict::ok;
    if (named) {
      check_normalized({decoded, dlen}, {rel, len}, is_dir);
      named_paths->emplace(rel, len);
    }

    uint64_t data = 0;
    if (rdz::zip::locate_data(src, ar, e, in, sizeof in, &data) != rdz::zip::Error::none) continue;
    if (data < e.local_header || data > ar.cd_begin || e.csize > ar.cd_begin - data) {
      broken("entry data outside the archive");
    }
    if (named && !is_dir) files->insert_or_assign(std::string(rel, len), Expected{e.crc, e.usize});
    // The data itself, as far as the budget goes.
    uint64_t left = e.csize;
    if (e.method == 0) {
      while (left && budget) {
        size_t n = left < sizeof out ? static_cast<size_t>(left) : sizeof out;
        if (!src.read(data, out, n)) broken("read inside the archive failed");
        data += n;
        left -= n;
        budget -= n < budget ? n : budget;
      }
    } else if (e.method == 8) {
      inflateReset(&z);
      int rc = Z_OK;
      while (rc == Z_OK && budget) {
        if (z.avail_in == 0 && left) {
          size_t n = left < sizeof in ? static_cast<size_t>(left) : sizeof in;
          if (!src.read(data, in, n)) broken("read inside the archive failed");
          z.next_in = in;
          z.avail_in = static_cast<uInt>(n);
          data += n;
          left -= n;
        }
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = inflate(&z, Z_NO_FLUSH);
        size_t n = sizeof out - z.avail_out;
        budget -= n < budget ? n : budget;
        if (rc == Z_BUF_ERROR && n == 0) break;
      }
    }
  }
  inflateEnd(&z);
  return ok && claimed <= ar.cd_begin - ar.base;
}

// Messages reach a terminal: each must be one line, with no bytes that a
// terminal would act on.
class CheckingReporter final : public rdz::Reporter {
 public:
  void info(std::string_view line) override { check(line); }
  void error(std::string_view line) override { check(line); }

 private:
  static void check(std::string_view line) {
    if (line.empty() || line.back() != '\n') broken("message is not one whole line", line);
    if (has_control(line.substr(0, line.size() - 1))) {
      broken("message carries a control character", line);
    }
  }
};

// One scratch directory per process, removed when it ends normally;
// scripts/fuzz points TMPDIR at a folder of its own and removes that too.
class Scratch {
 public:
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/rdz-fuzz-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) broken("cannot make a scratch directory");
    root_ = buf.data();
    target_ = root_ / "t";
  }
  ~Scratch() {
    std::error_code ec;
    stdfs::remove_all(root_, ec);
  }
  const stdfs::path& root() const { return root_; }
  const stdfs::path& target() const { return target_; }

 private:
  stdfs::path root_, target_;
};

uint32_t crc_of(const stdfs::path& p, uint64_t* size) {
  FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) broken("cannot read back an unpacked file", p.native());
  static unsigned char buf[64 * 1024];
  uLong crc = crc32(0L, Z_NULL, 0);
  *size = 0;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    crc = crc32(crc, buf, static_cast<uInt>(n));
    *size += n;
  }
  std::fclose(f);
  return static_cast<uint32_t>(crc);
}

// The extractor's temporary names: ".rdz-" and sixteen hex digits, ".tmp".
bool is_temporary(const std::string& name) {
  if (name.size() != 25 || name.compare(0, 5, ".rdz-") != 0 || name.compare(21, 4, ".tmp") != 0) {
    return false;
  }
  return name.find_first_not_of("0123456789abcdef", 5) == 21;
}

void check_tree(const Scratch& s, bool written, const std::set<std::string>& named_paths,
                const std::map<std::string, Expected>* files) {
  std::error_code ec;
  for (auto& it : stdfs::directory_iterator(s.root(), ec)) {
    if (it.path() != s.target()) broken("something was written beside the target", it.path().native());
  }
  if (!written) {
    if (stdfs::symlink_status(s.target(), ec).type() != stdfs::file_type::not_found) {
      broken("the target was touched though the archive was refused");
    }
    return;
  }
  if (!stdfs::exists(s.target(), ec)) return;
  for (auto it = stdfs::recursive_directory_iterator(s.target(), ec);
       it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
    const stdfs::path& p = it->path();
    const stdfs::file_type type = it->symlink_status(ec).type();
    const std::string name = p.filename().native();
    const std::string rel = stdfs::relative(p, s.target(), ec).generic_string();
    if (is_temporary(name) && named_paths.count(rel) == 0) {
      broken("a temporary file was left behind", rel);
    }
    if (type == stdfs::file_type::directory) continue;
    if (type != stdfs::file_type::regular) broken("something other than a file or directory", name);
    if (files) {
      auto want = files->find(rel);
      if (want == files->end()) broken("a file no entry names", rel);
      uint64_t size = 0;
      uint32_t crc = crc_of(p, &size);
      if (size != want->second.size || crc != want->second.crc) {
        broken("a file differs from its last entry", rel);
      }
    }
  }
}

void fuzz_extraction(const uint8_t* data, size_t size) {
  // Two workers, as on a two-processor machine: archives with enough to do
  // are unpacked by both at once. Kept for the process's life.
  static rdz::Workspace* const crew[] = {new rdz::Workspace, new rdz::Workspace};
  static Scratch scratch;
  rdz::zip::MemorySource src(data, size);
  uint64_t declared = 0;
  std::map<std::string, Expected> files;
  std::set<std::string> named_paths;
  const bool readable = walk(src, &declared, &files, &named_paths);

  // Whatever the walk said, the extractor must agree that it can read the
  // archive, or refuse it without writing.
  if (readable && declared > kDiskBudget) return;
  CheckingReporter rep;
  rdz::Totals t;
  rdz::cli::Options opt;
  const std::string target = scratch.target().native();
  int rc = rdz::extract(src, target, opt, crew, 2, rep, &t);
  if (rc != rdz::kExitOk && rc != rdz::kExitEntries && rc != rdz::kExitArchive &&
      rc != rdz::kExitTarget) {
    broken("unexpected exit code");
  }
  if (!readable && rc != rdz::kExitArchive) broken("an archive the reader refuses was unpacked");
  if (readable && rc == rdz::kExitArchive) broken("an archive the reader accepts was refused");
  if (rc == rdz::kExitOk && (t.failed || t.refused)) broken("success with failures");
  if (t.refused && t.files + t.dirs) broken("refused entries, yet something was unpacked");
  const bool written = rc == rdz::kExitOk || (rc == rdz::kExitEntries && t.refused == 0);
  check_tree(scratch, written, named_paths, rc == rdz::kExitOk ? &files : nullptr);

  if (rc == rdz::kExitOk) {
    // Again over the result: everything is up to date or replaced in place.
    opt.update = true;
    opt.quiet = 2;
    int again = rdz::extract(src, target, opt, crew, 2, rep, &t);
    if (again != rdz::kExitOk) broken("updating a fresh extraction failed");
    check_tree(scratch, true, named_paths, nullptr);
  }
  std::error_code ec;
  stdfs::remove_all(scratch.target(), ec);
  if (ec) broken("cannot empty the scratch directory", ec.message());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_names(data, size);
  fuzz_cmdline(data, size);
  fuzz_extraction(data, size);
  return 0;
}
