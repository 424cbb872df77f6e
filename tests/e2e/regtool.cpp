// Test tool for the installer's record, in the 32-bit registry view that the
// installer uses. Below HKEY_LOCAL_MACHINE:
//   regtool dump KEY VALUE      prints "type=T size=N hex=..." or "absent"
//   regtool set KEY VALUE HEX   stores the bytes given in hex as REG_SZ,
//                               terminator or not, exactly as given
//   regtool volatile KEY        creates KEY as volatile, so that no stable
//                               key can be created below it
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

int dump(const char* path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kView, &key) != ERROR_SUCCESS) {
    std::puts("absent");
    return 0;
  }
  unsigned char data[4096];
  DWORD type = 0, size = sizeof data;
  LONG status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    std::puts("absent");
    return 0;
  }
  std::printf("type=%lu size=%lu hex=", type, size);
  for (DWORD i = 0; i < size; ++i) std::printf("%02x", data[i]);
  std::printf("\n");
  return 0;
}

int set(const char* path, const char* name, const char* hex) {
  unsigned char data[4096];
  std::size_t n = std::strlen(hex) / 2;
  if (n > sizeof data) return 2;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned v;
    if (std::sscanf(hex + 2 * i, "%2x", &v) != 1) return 2;
    data[i] = static_cast<unsigned char>(v);
  }
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | kView, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  LONG status = RegSetValueExA(key, name, 0, REG_SZ, data, static_cast<DWORD>(n));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 1;
}

int make_volatile(const char* path) {
  HKEY key;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_WRITE | kView, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return 1;
  RegCloseKey(key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "dump") == 0) return dump(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "set") == 0) return set(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "volatile") == 0) return make_volatile(argv[2]);
  std::fprintf(stderr, "usage: regtool dump KEY VALUE | set KEY VALUE HEX | volatile KEY\n");
  return 2;
}
