// Runs the fuzz target over saved inputs without libFuzzer, so that every
// input that once broke something stays a test in every build. Arguments are
// folders of inputs; a broken promise aborts the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    for (auto& it : std::filesystem::directory_iterator(argv[i])) inputs.push_back(it.path());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", p.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replay: %zu inputs, all survived\n", inputs.size());
  return inputs.size() < 2;  // an empty run would prove nothing
}
