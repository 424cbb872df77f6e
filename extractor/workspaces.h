// The workers' workspaces, for the program to hand to the extraction.
#pragma once

#include "extraction.h"

namespace rdz::cli {

// A worker per processor and one more, up to four: past that the disk sets
// the pace, not inflating. The one more keeps the processors busy while a
// worker waits for the disk: the archive is read as it is unpacked, and the
// file system reads what it needs to place new files.
constexpr unsigned kMostWorkersWorthStarting = 4;
static_assert(kMostWorkersWorthStarting <= kMostWorkspaces);

// A workspace for each of `processors` and one more, up to the most worth
// starting, into `ws`. Returns how many it made; 0 when not even one.
unsigned make_workspaces(unsigned processors, Workspace** ws);
void free_workspaces(Workspace** ws, unsigned made);

}  // namespace rdz::cli
