// Runs the fuzz target over saved inputs without libFuzzer, so that every
// input that once broke something stays a test in every build. Arguments are
// folders of inputs; a broken promise aborts the run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    for (auto& it : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream in(it.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::fprintf(stderr, "replay: %s\n", it.path().c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  std::printf("replay: %zu inputs, all survived\n", count);
  return count < 2;  // an empty run would prove nothing
}
