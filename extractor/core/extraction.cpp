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

bool Extraction::judge(const zip::Entry& e, uint64_t index, NamesGivenTwice& exact,
                       MayLandOnOneFile* paths) {
  Workspace& ws = *ws_[0];
  size_t rel_len;
  Refusal r;
  Kind kind = classify(e, ws.decoded_, sizeof ws.decoded_, ws.rel_, sizeof ws.rel_, &rel_len, &r,
                       host_.component_limit());
  const std::string_view rel(ws.rel_, rel_len);
  if (kind != Kind::refused) {
    switch (exact.add(rel, kind == Kind::dir)) {
      case NamesGivenTwice::Result::fresh: break;
      case NamesGivenTwice::Result::twice:
        kind = Kind::refused;
        r.reason = "another entry names the same file (letter case aside)";
        break;
      case NamesGivenTwice::Result::full: {
        Line l;
        l << kProg << "too many files and folders to check their names (more than "
          << static_cast<uint64_t>(NamesGivenTwice::kMostNames) << "); nothing was unpacked\n";
        rep_.error(l.view());
        return false;
      }
    }
  }
  if (kind == Kind::refused) {
    // Every refusal counts; the first ones are named, the rest summed up,
    // so that a hostile archive cannot bury the console in lines.
    if (++t_.refused > kMostRefusalsShown) return true;
    char shown[512];
    Line l;
    l << kProg << display_name(e, ws, shown, sizeof shown)
      << ": refused: " << std::string_view(r.reason);
    if (r.method) l << " " << static_cast<uint64_t>(r.method);
    l << "\n";
    rep_.error(l.view());
    return true;
  }
  if (kind == Kind::file) {
    ++files_;
    bytes_ = add_capped(bytes_, e.usize);
    note_size(index, e.usize);
  }
  if (paths && !paths->clash()) paths->add(rel, kind == Kind::dir);
  return true;
}

int Extraction::check_all() {
  Workspace& ws = *ws_[0];
  zip::Cursor cur(src_, ar_, ws.cd_, sizeof ws.cd_);
  // Each record names one file or folder at least, and takes this much room.
  const uint64_t records = (ar_.cd_end - ar_.cd_begin) / zip::kCentralSize + 1;
  std::optional<MayLandOnOneFile> paths;
  if (count_ > 1) paths.emplace(records);
  NamesGivenTwice exact(records);
  // Local headers and data of all entries, at least: more than lies in front
  // of the directory means entries share or overlap their data, the way an
  // archive writes gigabytes from kilobytes.
  uint64_t claimed = 0;
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
    claimed = add_capped(claimed, add_capped(zip::kLocalSize + e.name.size(), e.csize));
    if (!judge(e, cur.index() - 1, exact, paths ? &*paths : nullptr)) return kExitEntries;
  }
  entries_ = cur.index();
  ordered_ = !paths || paths->clash();
  return verdict(claimed);
}

int Extraction::verdict(uint64_t claimed) {
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

int Extraction::open_and_check() {
  bool ready = count_ > 0;
  for (unsigned i = 0; i < count_ && ready; ++i) ready = ws_[i] && ws_[i]->ready();
  if (!ready) {
    Line l;
    l << kProg << "out of memory\n";
    rep_.error(l.view());
    return kExitInternal;
  }
  const zip::Error err = zip::open(src_, &ar_, ws_[0]->cd_, sizeof ws_[0]->cd_);
  if (err != zip::Error::none) {
    Line l;
    l << kProg << "cannot read the archive: " << std::string_view(zip::describe(err)) << "\n";
    rep_.error(l.view());
    return kExitArchive;
  }
  return check_all();
}

int Extraction::unpack_and_report() {
  const int rc = unpack_all(plan_workers());
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
  return rc;
}

int Extraction::run(std::string_view target, Totals* totals) {
  int rc = open_and_check();
  if (rc == kExitOk && !start_saying()) {
    Line l;
    l << kProg << "out of memory\n";
    rep_.error(l.view());
    rc = kExitInternal;
  }
  if (rc == kExitOk) rc = prepare_target(target) ? unpack_and_report() : kExitTarget;
  if (totals) *totals = t_;
  return rc;
}

int extract(Host& host, zip::Source& src, std::string_view target, const ExtractOptions& opt,
            Workspace* const* ws, unsigned count, Reporter& rep, Totals* totals) {
  Extraction x(host, src, opt, ws, count, rep);
  return x.run(target, totals);
}

}  // namespace rdz
