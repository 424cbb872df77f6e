#include "entry_time.h"

#include <algorithm>

namespace rdz {

int64_t entry_mtime(const zip::Entry& e, Host& host) {
  if (e.has_unix_mtime) return e.unix_mtime;
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

}  // namespace rdz
