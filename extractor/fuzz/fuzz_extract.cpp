// The extractor's promises, checked on whatever libFuzzer makes up: nothing
// written outside the target or when the archive is refused, no temporary
// left behind, every message one printable line, every file of a successful
// extraction equal to its entry, and the reader and the extractor agreeing
// on what can be read. A broken promise aborts with a line saying which.
// Linked with replay.cpp instead of libFuzzer, it replays saved inputs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <zlib.h>

#include "extract.h"

namespace {

namespace stdfs = std::filesystem;
using namespace rdz;

[[noreturn]] void broken(const char* promise) {
  std::fprintf(stderr, "fuzz_extract: broken promise: %s\n", promise);
  std::abort();
}

bool printable_line(std::string_view s) {
  if (s.empty() || s.back() != '\n') return false;
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) < 0x20 || s[i] == 0x7F) return false;
  }
  return true;
}

class CheckingReporter final : public Reporter {
 public:
  void info(std::string_view line) override { error(line); }
  void error(std::string_view line) override {
    if (!printable_line(line)) broken("a message is not one printable line");
  }
};

// The input as an entry name, as a DOS and a Unix writer would have stored
// it, and as a command line.
void fuzz_names(std::string_view raw) {
  static char decoded[3 * names::kMaxName + 1], shown[64];
  for (unsigned host : {zip::host::kDos, zip::host::kUnix}) {
    zip::Entry e;
    e.name = raw.substr(0, names::kMaxName);
    e.made_by = static_cast<uint16_t>(host << 8);
    size_t len = 0;
    if (names::decode(e, decoded, sizeof decoded, &len) != names::Verdict::ok) continue;
    const size_t n = names::printable({decoded, len}, shown, sizeof shown - 1);
    if (!printable_line(std::string(shown, n) + "\n")) broken("printable let a control byte through");
  }
  std::string_view args[4];
  std::string storage(raw.size() + 1, '\0');
  cli::Options opt;
  std::string_view bad;
  const int n = cli::split(raw, storage.data(), raw.size(), args, 4);
  if (n > 0) cli::parse(args, n, &opt, &bad);
}

struct Expected {
  uint32_t crc;
  uint64_t size;
};

// What the reader makes of the archive: false when it refuses it, else the
// paths entries name with their CRC and size, and the sum of sizes declared.
bool read_archive(zip::Source& src, std::map<std::string, Expected>* paths, uint64_t* declared) {
  static unsigned char buf[zip::kMaxRecord > zip::kOpenScratch ? zip::kMaxRecord : zip::kOpenScratch];
  static char decoded[3 * names::kMaxName + 1], rel[names::kMaxName + 1];
  zip::Archive ar;
  if (zip::open(src, &ar, buf, sizeof buf) != zip::Error::none) return false;
  zip::Cursor cur(src, ar, buf, sizeof buf);
  for (;;) {
    zip::Entry e;
    bool done = false, is_dir = false;
    if (cur.next(&e, &done) != zip::Error::none) return false;
    if (done) return true;
    *declared += e.usize < (1u << 30) ? e.usize : (1u << 30);
    size_t dlen = 0, len = 0;
    if (names::decode(e, decoded, sizeof decoded, &dlen) == names::Verdict::ok &&
        names::normalize({decoded, dlen}, rel, sizeof rel, &len, &is_dir) == names::Verdict::ok) {
      (*paths)[std::string(rel, len)] = {e.crc, is_dir ? UINT64_MAX : e.usize};
    }
  }
}

uint32_t crc_of(const stdfs::path& p, uint64_t* size) {
  static unsigned char buf[64 * 1024];
  FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) broken("an unpacked file cannot be read back");
  uLong crc = crc32(0, Z_NULL, 0);
  *size = 0;
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0; *size += n) {
    crc = crc32(crc, buf, static_cast<uInt>(n));
  }
  std::fclose(f);
  return static_cast<uint32_t>(crc);
}

// No temporary is left unless an entry names it; after a success every file
// is the one its entry holds.
void check_tree(const stdfs::path& target, const std::map<std::string, Expected>& paths, bool ok) {
  std::error_code ec;
  for (auto it = stdfs::recursive_directory_iterator(target, ec);
       it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
    const auto want = paths.find(stdfs::relative(it->path(), target).generic_string());
    if (it->path().filename().string().rfind(".rdz-", 0) == 0 && want == paths.end()) {
      broken("a temporary file was left behind");
    }
    if (!ok || it->is_directory()) continue;
    uint64_t size = 0;
    if (!it->is_regular_file() || want == paths.end()) broken("a file no entry names");
    if (crc_of(it->path(), &size) != want->second.crc || size != want->second.size) {
      broken("a file differs from its entry");
    }
  }
}

void fuzz_extraction(const uint8_t* data, size_t size) {
  // Two workers, as on a two-processor machine; kept for the process's life.
  static Workspace* const crew[] = {new Workspace, new Workspace};
  static const stdfs::path root = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/rdz-fuzz-XXXXXX";
    if (!::mkdtemp(dir.data())) broken("no scratch directory");
    return stdfs::path(dir);
  }();
  const stdfs::path target = root / "t";
  zip::MemorySource src(data, size);
  std::map<std::string, Expected> paths;
  uint64_t declared = 0;
  const bool readable = read_archive(src, &paths, &declared);
  if (declared > (8u << 20)) return;  // a few bytes may declare gigabytes: keep runs quick

  CheckingReporter rep;
  Totals t;
  cli::Options opt;
  const int rc = extract(src, target.native(), opt, crew, 2, rep, &t);
  if (rc < kExitOk || rc > kExitTarget) broken("an exit status no archive should cause");
  if (!readable && rc != kExitArchive) broken("an archive the reader refuses was unpacked");
  if (rc == kExitOk && (t.failed || t.refused)) broken("success with failures");
  if ((rc == kExitArchive || t.refused) && stdfs::exists(target)) broken("a refused archive wrote");
  for (auto& it : stdfs::directory_iterator(root)) {
    if (it.path() != target) broken("something was written beside the target");
  }
  check_tree(target, paths, rc == kExitOk);
  if (rc == kExitOk) {
    opt.update = true;
    if (extract(src, target.native(), opt, crew, 2, rep, &t) != kExitOk) {
      broken("updating a fresh extraction failed");
    }
  }
  std::error_code ec;
  stdfs::remove_all(target, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_names({reinterpret_cast<const char*>(data), size});
  fuzz_extraction(data, size);
  return 0;
}
