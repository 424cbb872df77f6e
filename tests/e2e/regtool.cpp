// Prints the installer's record as the wide registry call reads it, from
// the 32-bit view: "absent", or the value's type and its UTF-16 bytes in hex.
#include <windows.h>

#include <cstdio>

int wmain() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vurarido\\DodiviZevEzorOzidadi\\6.0", 0,
                    KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
    return std::puts("absent"), 0;
  unsigned char data[4096];
  DWORD type = 0, size = sizeof data;
  LONG status = RegQueryValueExW(key, L"InstallDir", nullptr, &type, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::puts("absent"), 0;
  std::printf("%lu ", type);
  for (DWORD i = 0; i < size; ++i) std::printf("%02x", data[i]);
  std::printf("\n");
  return 0;
}
