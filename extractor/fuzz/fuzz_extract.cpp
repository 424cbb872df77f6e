// The extractor's promises, checked on whatever libFuzzer makes up: nothing
// written outside the target or when the archive is refused, no temporary
// left behind, every message one printable line, every file of a successful
// extraction equal to its entry, and what the reader refuses never unpacked.
// A broken promise aborts with a line saying which. Linked with replay.cpp
// instead of libFuzzer, it replays saved inputs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "temp_names.h"
#include "extract.h"

namespace {

namespace stdfs = std::filesystem;
using namespace rdz;

void promise(bool kept, const char* what) {
  if (kept) return;
  std::fprintf(stderr, "fuzz_extract: broken promise: %s\n", what);
  std::abort();
}

class CheckingReporter final : public Reporter {
 public:
  void info(std::string_view line) override { error(line); }
  void error(std::string_view line) override {
    bool ok = !line.empty() && line.back() == '\n';
    for (size_t i = 0; i + 1 < line.size(); ++i) {
      const auto c = static_cast<unsigned char>(line[i]), next = static_cast<unsigned char>(line[i + 1]);
      ok &= c >= 0x20 && c != 0x7F && !(c == 0xC2 && next >= 0x80 && next < 0xA0);  // C1 too
    }
    promise(ok, "a message is one printable line");
  }
};

// The files the reader says entries name, as CRC-32 and size (a folder's
// size is UINT64_MAX); false when it refuses the archive.
bool read_archive(zip::Source& src, std::map<std::string, std::pair<uint32_t, uint64_t>>* paths,
                  uint64_t* declared) {
  static unsigned char buf[zip::kMaxRecord > zip::kOpenScratch ? zip::kMaxRecord : zip::kOpenScratch];
  static char decoded[3 * names::kMaxName + 1], rel[names::kMaxName + 1];
  zip::Archive ar;
  if (zip::open(src, &ar, buf, sizeof buf) != zip::Error::none) return false;
  zip::Cursor cur(src, ar, buf, sizeof buf);
  zip::Entry e;
  for (bool done = false, dir = false; !done;) {
    if (cur.next(&e, &done) != zip::Error::none) return false;
    size_t dlen = 0, len = 0;
    *declared += done ? 0 : e.usize < (1u << 30) ? e.usize : (1u << 30);
    if (!done && names::decode(e, decoded, sizeof decoded, &dlen) == names::Verdict::ok &&
        names::normalize({decoded, dlen}, rel, sizeof rel, &len, &dir) == names::Verdict::ok) {
      (*paths)[std::string(rel, len)] = {e.crc, dir ? UINT64_MAX : e.usize};
    }
  }
  return true;
}

// The files this process holds open; an extraction must give back all it took.
size_t open_handles() {
  size_t n = 0;
  std::error_code ec;
  for (auto it = stdfs::directory_iterator("/proc/self/fd", ec); it != stdfs::directory_iterator(); it.increment(ec)) ++n;
  return n;
}

void fuzz_extraction(const uint8_t* data, size_t size) {
  // Two workers, as on a two-processor machine; kept for the process's life.
  static Workspace* const crew[] = {new Workspace, new Workspace};
  static const stdfs::path root = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/rdz-fuzz-XXXXXX";
    promise(::mkdtemp(dir.data()) != nullptr, "a scratch directory can be made");
    return stdfs::path(dir);
  }();
  const stdfs::path target = root / "t";
  zip::MemorySource src(data, size);
  std::map<std::string, std::pair<uint32_t, uint64_t>> paths;
  uint64_t declared = 0;
  const bool readable = read_archive(src, &paths, &declared);
  if (declared > (8u << 20)) return;  // a few bytes may declare gigabytes: keep runs quick

  CheckingReporter rep;
  Totals t;
  cli::Options opt;
  const size_t handles = open_handles();
  const int rc = extract(src, target.native(), opt, crew, 2, rep, &t);
  promise(open_handles() == handles, "every handle taken is given back");
  promise(rc >= kExitOk && rc <= kExitTarget, "the exit status is one an archive may cause");
  promise(readable || rc == kExitArchive, "what the reader refuses is not unpacked");
  promise(rc != kExitOk || (!t.failed && !t.refused), "success means no entry failed");
  promise((rc != kExitArchive && !t.refused) || !stdfs::exists(target), "a refused archive writes nothing");
  for (auto& it : stdfs::directory_iterator(root)) promise(it.path() == target, "nothing beside the target");
  std::error_code ec;
  for (auto it = stdfs::recursive_directory_iterator(target, ec); it != stdfs::recursive_directory_iterator();
       it.increment(ec)) {
    const auto want = paths.find(stdfs::relative(it->path(), target).generic_string());
    // Entries of a temporary's shape are refused, so any such file here is
    // one the run left; a folder that merely starts ".rdz-" is an entry's.
    promise(!looks_like_temp(it->path().filename().string()), "no temporary is left behind");
    if (rc != kExitOk || it->is_directory()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    promise(it->is_regular_file() && want != paths.end() && want->second.first == crc &&
                want->second.second == bytes.size(), "a file unpacked is its entry");
  }
  if (rc == kExitOk) {
    opt.update = true;
    promise(extract(src, target.native(), opt, crew, 2, rep, &t) == kExitOk, "-u over a fresh tree succeeds");
  }
  stdfs::remove_all(target, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string line(size / 2, u'\0');  // as a command line
  std::memcpy(line.data(), data, line.size() * 2);
  std::string storage(3 * line.size() + 1, '\0');
  std::string_view args[4], bad;
  cli::Options opt;
  if (const int n = cli::split(line, storage.data(), storage.size(), args, 4); n > 0) {
    cli::parse(args, n, &opt, &bad);
  }
  fuzz_extraction(data, size);
  return 0;
}
