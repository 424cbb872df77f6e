#include "entry_time.h"

#include <algorithm>

namespace rdz {

namespace {

int64_t dos_mtime(const zip::Entry& e, Host& host) {
  const unsigned date = e.dos_datetime >> 16, time = e.dos_datetime & 0xFFFF;
  int year = 1980 + static_cast<int>(date >> 9);
  int month = std::clamp(static_cast<int>((date >> 5) & 15), 1, 12);
  int day = std::clamp(static_cast<int>(date & 31), 1, 31);
  int hour = std::clamp(static_cast<int>(time >> 11), 0, 23);
  int minute = std::clamp(static_cast<int>((time >> 5) & 63), 0, 59);
  int second = std::clamp(static_cast<int>((time & 31) * 2), 0, 59);
  int64_t t;
  if (host.local_time_to_unix(year, month, day, hour, minute, second, &t)) return t;
  constexpr int64_t k1980 = 315532800;  // a day such as 31 February: the DOS epoch
  return k1980;
}

int64_t distance(int64_t a, int64_t b) { return a > b ? a - b : b - a; }

}  // namespace

int64_t entry_mtime(const zip::Entry& e, Host& host) {
  if (!e.has_unix_mtime) return dos_mtime(e, host);
  // With the top bit set the field has two readings: writers store times
  // after January 2038 unsigned, and some store times before 1970 signed.
  // The DOS time, which every writer stores too, lies near the one meant
  // (a time before 1980 is stored as 1980 there, still the nearer one).
  constexpr int64_t kHalf = int64_t{1} << 31;
  if (e.unix_mtime < kHalf) return e.unix_mtime;
  const int64_t as_signed = e.unix_mtime - 2 * kHalf, dos = dos_mtime(e, host);
  return distance(as_signed, dos) < distance(e.unix_mtime, dos) ? as_signed : e.unix_mtime;
}

}  // namespace rdz
