// Turning a failed system call into a message the person can act on.
#pragma once

#include "platform/ops.h"

namespace installer {

// Prints "Error: " and the system's text for the thread's last-error code
// on stream (the text carries its own line end), or the code's number when
// the system has no text for it.
void report_system_error(ops::Stream stream);

}  // namespace installer
