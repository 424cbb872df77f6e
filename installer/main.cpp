// Process entry. The installer takes no arguments; returning from main
// flushes the standard streams before the process ends with the result.
#include "installer/run.h"

int main() { return installer::run_installer(); }
