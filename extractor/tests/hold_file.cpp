// Holds a file open with the sharing given (FILE_SHARE_* bits, one digit), as
// another program would, until its standard input ends: hold-file PATH SHARE
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE h = argc != 3 ? INVALID_HANDLE_VALUE
                       : CreateFileA(argv[1], GENERIC_READ, argv[2][0] - '0', nullptr, OPEN_ALWAYS,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  DWORD n;
  char c;
  if (h == INVALID_HANDLE_VALUE) return 1;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &n, nullptr);
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr) && n) {}
  return 0;
}
