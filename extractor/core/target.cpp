// The target directory made ready: created with whatever parents it lacks,
// and the names of those made put on disk before anything is unpacked.
#include <cstring>

#include "extraction_parts.h"
#include "message.h"

namespace rdz {

namespace {

// How much of p[0, len) names its parent: 0 for the current directory; a
// root ("/", "C:\") or a drive ("C:") keeps its own length.
size_t parent_of(const char* p, size_t len) {
  size_t sep = len;
  while (sep > 0 && !is_path_sep(p[sep - 1])) --sep;
  if (sep == 0) return kBackslashIsSeparator && len > 2 && p[1] == ':' ? 2 : 0;
  --sep;
  while (sep > 0 && is_path_sep(p[sep - 1])) --sep;
  if (sep == 0) return 1;
  return kBackslashIsSeparator && sep == 2 && p[1] == ':' ? 3 : sep;
}

// Nothing above it to make: the current directory, a root or a drive.
bool is_top(const char* p, size_t len) {
  return len == 0 || (len == 1 && is_path_sep(p[0])) ||
         (kBackslashIsSeparator && len <= 3 && len >= 2 && p[1] == ':');
}

// Runs host.fn on p[0, len) as a path of its own; "." when len is 0.
template <class Fn>
Err with_prefix(char* p, size_t len, Fn fn) {
  if (len == 0) return fn(".");
  const char saved = p[len];
  p[len] = '\0';
  Err e = fn(static_cast<const char*>(p));
  p[len] = saved;
  return e;
}

// Each directory made is on disk only once its parent is. The target holds
// the names this run puts in it, and is flushed with them; this flushes the
// directory where the first one was made and each made since but the target.
Err flush_made_parents(Host& host, char* p, size_t len, size_t made_at) {
  constexpr size_t kChunk = 16;
  Handle dirs[kChunk];
  size_t n = 0;
  Err e = 0;
  size_t parent = parent_of(p, made_at);
  for (size_t i = made_at; i <= len && e == 0; ++i) {
    if (i < len && !(is_path_sep(p[i]) && !is_path_sep(p[i - 1]))) continue;
    // p[0, i) is a directory this run made; its name lives in p[0, parent).
    e = with_prefix(p, parent, [&](const char* path) { return host.open_target(path, &dirs[n]); });
    if (e == 0) ++n;
    if (n == kChunk || i == len || e) {
      if (e == 0) e = flush_each_device(host, dirs, n, true);
      while (n) host.close_dir(dirs[--n]);
    }
    parent = i;
  }
  return e;
}

// Makes p[0, len) a directory with whatever parents it lacks; *made_at is
// the length of the first directory made, 0 when none was.
Err ensure_dirs(Host& host, char* p, size_t len, size_t* made_at) {
  bool made;
  *made_at = 0;
  auto make = [&](size_t at) {
    Err e = with_prefix(p, at, [&](const char* path) { return host.make_dir(path, &made); });
    if (e == 0 && made && *made_at == 0) *made_at = at;
    return e;
  };
  Err e = host.make_dir(p, &made);
  if (e == 0 && made) *made_at = len;
  if (e == 0 || host.kind_of(e) != ErrKind::missing) return e;
  // Climb to the deepest ancestor that exists, then come back down.
  size_t end = len;
  do {
    end = parent_of(p, end);
    if (is_top(p, end)) return e;
  } while ((e = make(end)) != 0 && host.kind_of(e) == ErrKind::missing);
  if (e) return e;
  for (size_t i = end + 1; i < len; ++i) {
    if (is_path_sep(p[i]) && !is_path_sep(p[i - 1]) && (e = make(i)) != 0) return e;
  }
  return make(len);
}

}  // namespace

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
  while (len > 1 && is_path_sep(ws.base_[len - 1])) --len;
  if (kBackslashIsSeparator && len == 2 && ws.base_[1] == ':' && target.size() > 2) ++len;
  ws.base_[len] = '\0';
  size_t made_at;
  Err e = ensure_dirs(host_, ws.base_, len, &made_at);
  if (e == 0 && made_at) {
    e = flush_made_parents(host_, ws.base_, len, made_at);
  }
  if (e == 0) e = host_.open_target(ws.base_, &target_);
  // Only this run's temporaries carry its number; older ones are leftovers.
  if (e == 0) e = host_.random(&run_id_, sizeof run_id_);
  if (e) {
    char text[256];
    host_.error_text(e, text, sizeof text);
    l << kProg << "cannot create target directory " << std::string_view(ws.base_, len)
      << ": " << std::string_view(text) << "\n";
    rep_.error(l.view());
    return false;
  }
  base_ = ws.base_;
  base_len_ = len;
  return true;
}

}  // namespace rdz
