#include "installer/record.h"

#include <cstring>

#include "installer/dirs.h"
#include "installer/system_error.h"
#include "platform/ops.h"

namespace installer {

namespace {

// Makes buf the root that a value of this type names, and returns its
// length; -1 when the value names none, because it is no text or too long.
// Another program may have stored the value without its terminator, or
// with bytes after it: the text is what comes before the first zero byte of
// the data returned, and nothing beyond that data is looked at. A
// REG_EXPAND_SZ is taken as its text, unexpanded, as the other copies of the
// installer take it: expanded, it would name what the environment of this
// run says, which the user who starts an elevated run partly sets.
long root_of(std::uint32_t type, char* buf, std::size_t size, std::size_t capacity) {
  const void* zero = std::memchr(buf, '\0', size);
  std::size_t length = zero ? static_cast<const char*>(zero) - buf : size;
  if (length >= capacity) {
    // No room left for a terminator: longer than any path we could use.
    buf[capacity - 1] = '\0';
    return -1;
  }
  buf[length] = '\0';
  if (type != ops::kRegSz && type != ops::kRegExpandSz) return -1;
  return static_cast<long>(length);
}

}  // namespace

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

  // Only a full path means the same place to every run: a relative one
  // would be looked up from wherever the installer happens to start.
  long length = root_of(type, buf, size, capacity);
  if (length <= 0 || !is_full_path(buf)) return 0;

  // A root so long that its library directory does not fit in a path can
  // not hold a usable installation; testing a cut-off path instead could
  // report the root itself as one.
  constexpr std::size_t kSuffixLength = sizeof kLibrarySuffix - 1;
  std::size_t end = static_cast<std::size_t>(length);
  if (end + kSuffixLength >= capacity) return 0;
  std::memcpy(buf + end, kLibrarySuffix, kSuffixLength + 1);
  int found = is_directory(buf);
  buf[end] = '\0';
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
