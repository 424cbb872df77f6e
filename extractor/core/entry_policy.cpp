#include "entry_policy.h"

#include "names.h"

namespace rdz {

namespace {

constexpr uint32_t kModeType = 0170000, kModeDir = 0040000, kModeFile = 0100000,
                   kModeLink = 0120000;
constexpr uint32_t kDosDirectory = 0x10;

}  // namespace

Kind classify(const zip::Entry& e, char* decoded, size_t decoded_cap, char* rel, size_t rel_cap,
              size_t* rel_len, Refusal* r, ComponentLimit here) {
  *r = Refusal{};
  *rel_len = 0;
  const bool unix_host = e.host() == zip::host::kUnix || e.host() == zip::host::kOsx;
  const uint32_t mode = unix_host ? e.external_attr >> 16 : 0;
  const uint32_t type = mode & kModeType;
  if (type == kModeLink) {
    r->reason = "symbolic links are not unpacked";
    return Kind::refused;
  }
  if (type != 0 && type != kModeDir && type != kModeFile) {
    r->reason = "special files (devices, pipes, sockets) are not unpacked";
    return Kind::refused;
  }
  size_t dlen;
  names::Verdict v = names::decode(e, decoded, decoded_cap, &dlen);
  bool slash_dir = false;
  if (v == names::Verdict::ok) {
    v = names::normalize({decoded, dlen}, rel, rel_cap, rel_len, &slash_dir, here);
  }
  if (v != names::Verdict::ok) {
    r->reason = names::describe(v);
    return Kind::refused;
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
  return r->reason ? Kind::refused : Kind::file;
}

Update judge_update(const Stat& st, int64_t entry_time, bool dos_only, uint64_t entry_size) {
  if (st.kind != Stat::Kind::file) return Update::write;
  const int64_t d = st.mtime - entry_time;
  auto near = [](int64_t x) { return x >= -2 && x <= 2; };
  if (near(d) || (dos_only && (near(d - 3600) || near(d + 3600)))) {
    // A time alone could belong to a file that a power cut left torn.
    return st.size == entry_size ? Update::same : Update::write;
  }
  return d > 0 ? Update::newer : Update::write;
}

}  // namespace rdz
