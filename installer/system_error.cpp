#include "installer/system_error.h"

namespace installer {

void report_system_error(ops::Stream stream) {
  std::uint32_t code = ops::last_error();
  char* text = ops::acquire_error_text(code);
  if (text != nullptr) {
    ops::print(stream, "Error: %s\n", text);
    ops::release_error_text(text);
  } else {
    ops::print(stream, "Error: system error %lu.\n", static_cast<unsigned long>(code));
  }
}

}  // namespace installer
