// Runs the fuzz target over saved inputs without libFuzzer, so that every
// input that once broke something stays a test in every build. Arguments are
// files or folders of files; it stops at the first input that aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", p.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replay: %s (%zu bytes)\n", p.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> files;
      for (auto& it : std::filesystem::directory_iterator(arg, ec)) {
        if (it.is_regular_file() && it.path().filename().native()[0] != '.') {
          files.push_back(it.path());
        }
      }
      std::sort(files.begin(), files.end());
      for (auto& f : files) {
        if (!replay(f)) return 1;
        ++count;
      }
    } else {
      if (!replay(arg)) return 1;
      ++count;
    }
  }
  // An empty run would pass without proving anything.
  if (count == 0) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 1;
  }
  std::printf("replay: %zu inputs, all survived\n", count);
  return 0;
}
