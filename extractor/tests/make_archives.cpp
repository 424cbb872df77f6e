// Builds every archive archives/recipes.txt describes, into a folder.
#include <fstream>

#include "zipwriter.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ifstream in(argv[1]);
  for (std::string name, zip; rdz::test::next_recipe(in, &name, &zip);) {
    if (!(std::ofstream(std::string(argv[2]) + "/" + name, std::ios::binary) << zip)) return 1;
  }
  return in.bad() ? 1 : 0;
}
