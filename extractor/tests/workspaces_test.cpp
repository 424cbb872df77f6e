#include "workspaces.h"

#include <gtest/gtest.h>

namespace rdz::cli {
namespace {

TEST(Workspaces, AWorkerPerProcessorUpToFour) {
  const struct { unsigned processors, made; } rows[] = {{1, 1}, {2, 2}, {9, 4}};
  for (const auto& r : rows) {
    Workspace* ws[kMostWorkersWorthStarting];
    const unsigned made = make_workspaces(r.processors, ws);
    EXPECT_EQ(made, r.made) << r.processors;
    for (unsigned i = 0; i < made; ++i) EXPECT_TRUE(ws[i]->ready());
    free_workspaces(ws, made);
  }
}

}  // namespace
}  // namespace rdz::cli
