#include "names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace rdz::names {
namespace {

using V = Verdict;

std::string rep(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(Names, NormalizeTable) {
  struct Case {
    std::string in;
    Verdict v;
    std::string out;  // "/" at the end: a directory
  };
  const Case cases[] = {
      {"bin\\win32\\rvzrt60.dll", V::ok, "bin/win32/rvzrt60.dll"}, {"./bin//./x", V::ok, "bin/x"},
      {"caf\xC3\xA9/.profile", V::ok, "caf\xC3\xA9/.profile"}, {"a b/c d", V::ok, "a b/c d"},
      {"CONSOLE.txt", V::ok, "CONSOLE.txt"}, {"COM10", V::ok, "COM10"}, {"LPT", V::ok, "LPT"},
      {"bin\\", V::ok, "bin/"}, {"a//./", V::ok, "a/"}, {"./", V::ok, "/"},
      {rep("a", 255), V::ok, rep("a", 255)}, {rep("\xC3\xA9", 255), V::ok, rep("\xC3\xA9", 255)},
      {rep("a", 256), V::component_too_long, ""}, {rep("\xC3\xA9", 256), V::component_too_long, ""},
      {rep("\xF0\x9F\x98\x80", 128), V::component_too_long, ""},
      {rep("abcdefg/", 129), V::too_long, ""}, {"", V::empty, ""}, {".", V::empty, ""},
      {"/etc/passwd", V::absolute, ""}, {"\\Windows\\x", V::absolute, ""},
      {"\\\\srv\\share\\x", V::absolute, ""}, {"C:\\x.dll", V::drive, ""}, {"c:x", V::drive, ""},
      {"../x", V::parent, ""}, {"bin\\..\\..\\x", V::parent, ""}, {"bin/..", V::parent, ""},
      {"a/b/c/d/../../../..", V::parent, ""}, {"ab:stream", V::bad_char, ""},
      {std::string("bin/x\0y.dll", 11), V::control_char, ""}, {"a\x1F", V::control_char, ""},
      {"a\nb", V::control_char, ""}, {"dir./x", V::trailing_dot_or_blank, ""},
      {"dir /x", V::trailing_dot_or_blank, ""}, {"...", V::trailing_dot_or_blank, ""},
  };
  for (const Case& c : cases) {
    char out[kMaxName + 1];
    size_t len = 0;
    bool is_dir = false;
    ASSERT_EQ(normalize(c.in, out, sizeof out, &len, &is_dir), c.v) << c.in;
    if (c.v == V::ok) { EXPECT_EQ(std::string(out, len) + (is_dir ? "/" : ""), c.out) << c.in; }
  }
  char small[8];
  size_t len;
  bool is_dir;
  EXPECT_EQ(normalize("abc/defgh", small, sizeof small, &len, &is_dir), V::too_long);
  EXPECT_EQ(normalize("abc/def", small, sizeof small, &len, &is_dir), V::ok);
}

TEST(Names, ComponentsWindowsCannotHold) {
  for (const char* n : {"CON", "con", "Con.txt", "aux", "NUL.tar.gz", "PRN", "COM1", "com9.log",
                        "LPT1", "lpt5.x", "COM0", "NUL .txt", "CONIN$", "conout$.x",
                        "COM\xC2\xB9", "lpt\xC2\xB3.txt"}) {
    EXPECT_EQ(check_component(n), V::reserved_name) << n;
  }
  for (const char* n : {"a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a:b"}) {
    EXPECT_EQ(check_component(n), V::bad_char) << n;
  }
  for (const char* n : {"name.", "name ", " "}) {
    EXPECT_EQ(check_component(n), V::trailing_dot_or_blank) << n;
  }
}

TEST(Names, Utf8IsValidatedStrictly) {
  EXPECT_TRUE(valid_utf8("plain\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\x80", "\xFF", "\xF0\x80\x80\xAF"}) {
    EXPECT_FALSE(valid_utf8(bad)) << bad;
  }
}

TEST(Names, Cp437MatchesTheReferenceTable) {
  // Written from Python's cp437 codec: the bytes 0x20..0xFF decoded, as UTF-8.
  std::ifstream in(RDZ_FIXTURES "/cp437.txt", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  ASSERT_FALSE(ss.str().empty());
  std::string raw;
  for (int c = 0x20; c <= 0xFF; ++c) raw += static_cast<char>(c);
  char out[1024];
  size_t len;
  ASSERT_TRUE(cp437_to_utf8(raw, out, sizeof out, &len));
  EXPECT_EQ(std::string(out, len), ss.str());
  EXPECT_TRUE(cp437_to_utf8("abc", out, 4, &len));
  EXPECT_FALSE(cp437_to_utf8("abcd", out, 4, &len));
  EXPECT_FALSE(cp437_to_utf8("a\xB0", out, 4, &len));  // 1 + 3 bytes + NUL
}

TEST(Names, DecodeTakesTheEncodingTheWriterUsed) {
  struct Case {
    const char* name;
    uint16_t flags;
    unsigned host;
    const char* unicode;
    const char* want;  // null: bad UTF-8
  };
  const Case cases[] = {
      {"caf\x82", 0, zip::host::kDos, "", "caf\xC3\xA9"},
      {"caf\xC3\xA9", 0x0800, zip::host::kDos, "", "caf\xC3\xA9"},
      {"caf\xC3\xA9", 0, zip::host::kDos, "", "caf\xE2\x94\x9C\xE2\x8C\x90"},
      {"caf\xC3\xA9", 0, zip::host::kUnix, "", "caf\xC3\xA9"},
      {"caf\xC3\xA9", 0, zip::host::kOsx, "", "caf\xC3\xA9"},
      {"caf\x82", 0, zip::host::kUnix, "", "caf\xC3\xA9"},
      {"cafe", 0, zip::host::kDos, "caf\xC3\xA9", "caf\xC3\xA9"},
      {"caf\x82", 0, zip::host::kDos, "caf\xC3", "caf\xC3\xA9"},  // a broken one is ignored
      {"bad\xC3", 0x0800, zip::host::kUnix, "", nullptr},
  };
  for (const Case& c : cases) {
    zip::Entry e;
    e.name = c.name;
    e.flags = c.flags;
    e.made_by = static_cast<uint16_t>(c.host << 8);
    e.unicode_name = c.unicode;
    char out[3 * kMaxName + 1];
    size_t len = 0;
    Verdict v = decode(e, out, sizeof out, &len);
    EXPECT_EQ(v, c.want ? V::ok : V::bad_utf8) << c.name;
    if (c.want) { EXPECT_EQ(std::string(out, len), c.want) << c.name; }
  }
}

TEST(Names, PrintableMasksControlBytesAndCutsWholeCharacters) {
  char out[16];
  EXPECT_EQ(printable("a\x1b[2Jb\n", out, sizeof out), 7u);
  EXPECT_STREQ(out, "a?[2Jb?");
  printable(std::string(40, 'x'), out, sizeof out);
  EXPECT_STREQ(out, "xxxxxxxxxxxx...");
  printable("xxxxxxxxxxx\xC3\xA9\xC3\xA9xxxxx", out, sizeof out);
  EXPECT_STREQ(out, "xxxxxxxxxxx...");
  printable("\xC3\xA9", out, sizeof out, true);
  EXPECT_STREQ(out, "??");
}

}  // namespace
}  // namespace rdz::names
