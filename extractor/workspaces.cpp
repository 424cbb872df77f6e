#include "workspaces.h"

#include <cstdlib>
#include <new>

namespace rdz::cli {

// Each worker's buffers in one block from malloc: operator new would pull
// the C++ exception machinery into a program that has no use for it.
unsigned make_workspaces(unsigned processors, Workspace** ws) {
  const unsigned workers =
      processors < kMostWorkersWorthStarting ? processors + 1 : kMostWorkersWorthStarting;
  unsigned made = 0;
  for (; made < workers; ++made) {
    void* mem = std::malloc(sizeof(Workspace));
    if (!mem) break;
    auto* w = new (mem) Workspace;
    // A worker less rather than no extraction; the first one's failure is
    // for extract() to report.
    if (made > 0 && !w->ready()) {
      w->~Workspace();
      std::free(mem);
      break;
    }
    ws[made] = w;
  }
  return made;
}

void free_workspaces(Workspace** ws, unsigned made) {
  for (unsigned i = 0; i < made; ++i) {
    ws[i]->~Workspace();
    std::free(ws[i]);
  }
}

}  // namespace rdz::cli
