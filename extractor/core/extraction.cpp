#include <cstring>
#include <optional>

#include "entry_policy.h"
#include "extraction_parts.h"
#include "may_land_on_one_file.h"
#include "message.h"
#include "names_given_twice.h"

namespace rdz {

namespace {

// Refused entries named one by one before the rest are only counted.
constexpr uint64_t kMostRefusalsShown = 100;

}  // namespace

Workspace::Workspace() { inflate_ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }

Workspace::~Workspace() {
  if (inflate_ready_) inflateEnd(&z_);
}

std::string_view Extraction::display_name(const zip::Entry& e, Workspace& ws, char* shown,
                                          size_t cap) {
  size_t len;
  if (names::decode(e, ws.decoded_, sizeof ws.decoded_, &len) == names::Verdict::ok) {
    return {shown, names::printable({ws.decoded_, len}, shown, cap)};
  }
  // Undecodable: whatever it is, it must not reach a terminal raw.
  return {shown, names::printable(e.name, shown, cap, true)};
}

int Extraction::check_all() {
  Workspace& ws = *ws_[0];
  zip::Cursor cur(src_, ar_, ws.cd_, sizeof ws.cd_);
  // Room for four slots a record, which the directory's size bounds; half of
  // them may fill before the set gives up.
  std::optional<MayLandOnOneFile> paths;
  if (count_ > 1) {
    const uint64_t records = (ar_.cd_end - ar_.cd_begin) / 46 + 1;
    size_t slots = 1024;
    while (slots < Workspace::kNameSlots && slots / 4 < records) slots *= 2;
    paths.emplace(ws.names_, slots);
  }
  NamesGivenTwice exact((ar_.cd_end - ar_.cd_begin) / 46 + 1);
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
    if (kind != Kind::refused) {
      switch (exact.add({ws.rel_, rel_len}, kind == Kind::dir)) {
        case NamesGivenTwice::Result::fresh:
          break;
        case NamesGivenTwice::Result::twice:
          kind = Kind::refused;
          r.reason = "another entry names the same file (letter case aside)";
          break;
        case NamesGivenTwice::Result::full: {
          Line l;
          l << kProg << "too many entries to check their names (more than "
            << static_cast<uint64_t>(NamesGivenTwice::kMostSlots / 8) << "); nothing was unpacked\n";
          rep_.error(l.view());
          return kExitEntries;
        }
      }
    }
    if (kind == Kind::refused) {
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
    Line l;
    l << kProg << "damaged archive: entries overlap (their headers and data add up to more "
                  "than the archive holds); nothing was unpacked\n";
    rep_.error(l.view());
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
  Err e = ensure_dirs(host_, ws.base_, len);
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

int Extraction::run(std::string_view target, Totals* totals) {
  int rc = kExitOk;
  bool ready = count_ > 0;
  for (unsigned i = 0; i < count_ && ready; ++i) ready = ws_[i] && ws_[i]->ready();
  if (!ready) {
    Line l;
    l << kProg << "out of memory\n";
    rep_.error(l.view());
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
    host_.close_dir(target_);
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

int extract(Host& host, zip::Source& src, std::string_view target, const ExtractOptions& opt,
            Workspace* const* ws, unsigned count, Reporter& rep, Totals* totals) {
  Extraction x(host, src, opt, ws, count, rep);
  return x.run(target, totals);
}

}  // namespace rdz
