/* Stands in for a command interpreter: appends its command line to
   recorded.txt in the current directory, and succeeds. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  FILE* f = fopen("recorded.txt", "a");
  if (f == NULL) return 1;
  fprintf(f, "%s\n", GetCommandLineA());
  return fclose(f) != 0;
}
