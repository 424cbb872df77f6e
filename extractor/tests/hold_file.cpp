// Holds a file open with the sharing given (FILE_SHARE_* bits), as another
// program would, until its standard input ends: hold-file PATH SHARE
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  HANDLE h = argc != 3 ? INVALID_HANDLE_VALUE
                       : CreateFileA(argv[1], GENERIC_READ, std::strtoul(argv[2], nullptr, 0),
                                     nullptr, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {}
  return 0;
}
