// Another user's Windows process racing an extraction under Wine: moves FROM
// to TO as soon as sharing allows, trying at most TRIES times.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  for (long i = argc == 4 ? std::wcstol(argv[3], nullptr, 10) : 0; i > 0; --i) {
    if (MoveFileExW(argv[1], argv[2], 0)) return 0;
  }
  return 1;
}
