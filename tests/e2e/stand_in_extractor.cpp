// A stand-in for the real extractor in the installer's end-to-end tests.
//
// It appends its raw command line and its arguments to ruduvizide.log in
// the current directory, creates bin\win32 below the directory after -d, and
// exits with the status in RUDUVIZIDE_STATUS (0 when unset). The test reads
// the log to see exactly what the installer handed over.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  std::FILE* log = std::fopen("ruduvizide.log", "ab");
  if (log == nullptr) return 3;
  std::fprintf(log, "cmdline=%s\n", GetCommandLineA());
  for (int i = 1; i < argc; ++i) std::fprintf(log, "arg=%s\n", argv[i]);
  std::fclose(log);

  const char* status = std::getenv("RUDUVIZIDE_STATUS");
  int code = status ? std::atoi(status) : 0;
  if (code != 0) return code;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-d") != 0) continue;
    std::string dir = argv[i + 1];
    // The C runtime reads a trailing \" as a quote character.
    if (!dir.empty() && dir.back() == '"') dir.back() = '\\';
    std::string bin = dir + "\\bin";
    CreateDirectoryA(bin.c_str(), nullptr);
    if (!CreateDirectoryA((bin + "\\win32").c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return 4;
  }
  return 0;
}
