// The lines about each entry, from whichever thread learns what became of it.
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "entry_policy.h"
#include "extraction_parts.h"
#include "message.h"

namespace rdz {

// An entry's line is made again from its central directory record, so that
// nothing but its outcome need be kept while it waits behind an earlier one:
// a name, decoded again, is what its worker saw. Lines are said in archive
// order, so one walk through the directory finds every name.
struct Extraction::Says {
  unsigned char cd[Workspace::kCd];
  char decoded[3 * names::kMaxName + 1];
  char rel[names::kMaxName + 1];
  char shown[512];
  std::optional<zip::Cursor> cur;
  uint64_t at = 0;    // the index of the record cur reads next
  bool lost = false;  // the directory no longer reads as it did
};

Extraction::~Extraction() {
  delete says_;
  delete[] outcome_;
}

bool Extraction::start_saying() {
  // A byte for each record, of 46 bytes at least in the archive.
  if (entries_ > SIZE_MAX) return false;
  const size_t n = static_cast<size_t>(entries_);
  says_ = new (std::nothrow) Says;
  outcome_ = new (std::nothrow) uint8_t[n];
  if (!says_ || !outcome_) return false;
  says_->cur.emplace(src_, ar_, says_->cd, sizeof says_->cd);
  std::memset(outcome_, kUnsettled, n);
  return true;
}

std::string_view Extraction::name_of(uint64_t index) {
  Says& s = *says_;
  zip::Entry e;
  bool done = false;
  while (!s.lost && s.at <= index) {
    const zip::Error err = s.cur->next(&e, &done);
    s.lost = err != zip::Error::none || done;
    ++s.at;
    // Read in full once already, so the file changed underneath: said once,
    // here or by a worker, and the run does not end as a success.
    if (s.lost) changed(done ? zip::Error::cd_count_mismatch : err, true);
  }
  size_t len;
  Refusal r;
  // Lost, the name is not guessed at: the line says nothing then.
  if (s.lost) return {};
  if (classify(e, s.decoded, sizeof s.decoded, s.rel, sizeof s.rel, &len, &r) == Kind::refused) {
    return "?";
  }
  return {s.shown, names::printable({s.rel, len}, s.shown, sizeof s.shown)};
}

void Extraction::say(uint64_t index, Outcome o) {
  std::string_view head, tail = "\n";
  switch (o) {
    case Outcome::unpacked: head = "   unpacked: "; break;
    case Outcome::directory: head = "  directory: "; tail = "/\n"; break;
    case Outcome::up_to_date: head = " up to date: "; break;
    case Outcome::newer_kept: head = " newer kept: "; break;
    case Outcome::failed:
    case Outcome::nothing: return;
  }
  const std::string_view name = name_of(index);
  if (name.empty()) return;
  Line l;
  l << head << name << tail;
  rep_.held().info(l.view());
}

void Extraction::say_settled(bool to_the_end) {
  for (; front_ < entries_; ++front_) {
    // An entry's kept lines go out as soon as it is at the front: those
    // that come later are said at once, after them.
    for (std::string_view line; held_.take(front_, &line);) rep_.held().error(line);
    const uint8_t o = outcome_[front_];
    if (o == kUnsettled && !to_the_end) break;
    if (o == kUnsettled) {
      ++t_.failed;  // never started, as the run stopped: not in place either
    } else if (opt_.quiet == 0) {
      say(front_, static_cast<Outcome>(o));
    }
  }
}

void Extraction::say_the_rest() {
  HostLock hold(host_);
  say_settled(true);
}

void Extraction::settle(uint64_t index, Outcome o) {
  HostLock hold(host_);
  outcome_[index] = static_cast<uint8_t>(o);
  switch (o) {
    case Outcome::unpacked: ++t_.files; break;
    case Outcome::directory: ++t_.dirs; break;
    case Outcome::up_to_date:
    case Outcome::newer_kept: ++t_.skipped; break;
    case Outcome::failed: ++t_.failed; break;
    case Outcome::nothing: break;
  }
  // Whoever settles the entry at the front says what waited behind it.
  if (index == front_) say_settled(false);
}

void Extraction::entry_error(uint64_t index, std::string_view line) {
  HostLock hold(host_);
  // Kept only while an earlier entry is unsettled; without memory to keep
  // it, a line said out of turn is better than a line lost.
  if (index <= front_ || !held_.keep(index, line)) rep_.held().error(line);
}

}  // namespace rdz
