#include "installer/record.h"

#include <cstring>

#include "installer/dirs.h"
#include "installer/system_error.h"
#include "platform/ops.h"

namespace installer {

int read_installation_record(char* buf, std::size_t capacity) {
  if (capacity == 0) return 0;
  ops::RegKey key = nullptr;
  if (ops::reg_open_read(kRecordKey, &key) != 0) return 0;
  std::uint32_t type = 0;
  std::uint32_t size = static_cast<std::uint32_t>(capacity);
  long status = ops::reg_query_value(key, kRecordValue, &type,
                                     reinterpret_cast<unsigned char*>(buf), &size);
  ops::reg_close(key);
  if (status != 0 || size > capacity) return 0;

  // Another program may have stored the value without its terminator, or
  // with bytes after it: the root is what comes before the first zero byte
  // of the data returned, and nothing beyond that data is looked at.
  const void* zero = std::memchr(buf, '\0', size);
  std::size_t length = zero ? static_cast<const char*>(zero) - buf : size;
  if (length >= capacity) {
    // No room left for a terminator: longer than any path we could use.
    buf[capacity - 1] = '\0';
    return 0;
  }
  buf[length] = '\0';
  if (length == 0) return 0;

  // A root so long that its library directory does not fit in a path can
  // not hold a usable installation; testing a cut-off path instead could
  // report the root itself as one.
  constexpr std::size_t kSuffixLength = sizeof kLibrarySuffix - 1;
  if (length + kSuffixLength >= capacity) return 0;
  std::memcpy(buf + length, kLibrarySuffix, kSuffixLength + 1);
  int found = is_directory(buf);
  buf[length] = '\0';
  return found;
}

void write_installation_record(const char* root) {
  ops::RegKey key = nullptr;
  // The registry returns its error instead of setting the thread's
  // last-error code, so the code is set here for the report to name it.
  long status = ops::reg_create_write(kRecordKey, &key);
  if (status != 0) {
    ops::set_last_error(static_cast<std::uint32_t>(status));
    report_system_error(ops::Stream::out);
    return;
  }
  status = ops::reg_set_value(key, kRecordValue, ops::kRegSz,
                              reinterpret_cast<const unsigned char*>(root),
                              static_cast<std::uint32_t>(std::strlen(root) + 1));
  if (status != 0) {
    ops::set_last_error(static_cast<std::uint32_t>(status));
    report_system_error(ops::Stream::out);
  }
  ops::reg_close(key);
}

}  // namespace installer
