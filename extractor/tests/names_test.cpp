#include "names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace rdz::names {
namespace {

struct Norm {
  Verdict v;
  std::string path;
  bool dir;
};

Norm norm(std::string_view name) {
  char out[kMaxName + 1];
  size_t len = 0;
  bool dir = false;
  Verdict v = normalize(name, out, sizeof out, &len, &dir);
  return {v, v == Verdict::ok ? std::string(out, len) : std::string(), dir};
}

TEST(Normalize, AcceptsOrdinaryNamesAndTidiesSeparators) {
  EXPECT_EQ(norm("bin/win32/rvzrt60.dll").path, "bin/win32/rvzrt60.dll");
  EXPECT_EQ(norm("bin\\win32\\rvzrt60.dll").path, "bin/win32/rvzrt60.dll");
  EXPECT_EQ(norm("./bin//./x.dll").path, "bin/x.dll");
  EXPECT_EQ(norm("toolbox/.profile").path, "toolbox/.profile");
  EXPECT_EQ(norm("a b/c d.txt").path, "a b/c d.txt");
  EXPECT_EQ(norm("caf\xC3\xA9/na\xC3\xAFve.txt").path, "caf\xC3\xA9/na\xC3\xAFve.txt");
  EXPECT_EQ(norm("CONSOLE.txt").path, "CONSOLE.txt");  // only the exact stem is a device
  EXPECT_EQ(norm("COM10").path, "COM10");
  EXPECT_EQ(norm("LPT").path, "LPT");
}

TEST(Normalize, DirectoriesEndInASeparator) {
  Norm n = norm("bin/win32/");
  EXPECT_EQ(n.v, Verdict::ok);
  EXPECT_EQ(n.path, "bin/win32");
  EXPECT_TRUE(n.dir);
  n = norm("bin\\");
  EXPECT_TRUE(n.dir);
  EXPECT_EQ(n.path, "bin");
  n = norm("./");  // the target itself: nothing to make
  EXPECT_EQ(n.v, Verdict::ok);
  EXPECT_TRUE(n.dir);
  EXPECT_EQ(n.path, "");
  EXPECT_FALSE(norm("bin/x").dir);
}

TEST(Normalize, RefusesPathsThatLeaveTheTarget) {
  EXPECT_EQ(norm("/etc/passwd").v, Verdict::absolute);
  EXPECT_EQ(norm("\\Windows\\x.dll").v, Verdict::absolute);
  EXPECT_EQ(norm("\\\\server\\share\\x").v, Verdict::absolute);
  EXPECT_EQ(norm("C:\\Windows\\x.dll").v, Verdict::drive);
  EXPECT_EQ(norm("c:x.dll").v, Verdict::drive);
  EXPECT_EQ(norm("../x").v, Verdict::parent);
  EXPECT_EQ(norm("bin/../../x").v, Verdict::parent);
  EXPECT_EQ(norm("bin\\..\\..\\x").v, Verdict::parent);
  EXPECT_EQ(norm("bin/..").v, Verdict::parent);
  EXPECT_EQ(norm("a/b/c/d/../../../..").v, Verdict::parent);
}

TEST(Normalize, RefusesNamesWindowsCannotHold) {
  for (const char* n : {"CON", "con", "Con.txt", "bin/aux.dll", "NUL.tar.gz", "PRN",
                        "COM1", "com9.log", "LPT1", "lpt5.x", "COM0", "NUL .txt",
                        "CONIN$", "conout$.x", "COM\xC2\xB9", "lpt\xC2\xB3.txt"}) {
    EXPECT_EQ(norm(n).v, Verdict::reserved_name) << n;
  }
  for (const char* n : {"a<b", "a>b", "ab:c", "dir/a\"b", "a|b", "a?b", "a*b", "x/stream:$DATA"}) {
    EXPECT_EQ(norm(n).v, Verdict::bad_char) << n;
  }
  for (std::string n : {std::string("a\x01" "b"), std::string("a\nb"), std::string("a\x1F"),
                        std::string("bin/x\0y.dll", 11)}) {
    EXPECT_EQ(norm(n).v, Verdict::control_char);
  }
  for (const char* n : {"name.", "name ", "dir./x", "dir /x", "...", " "}) {
    EXPECT_EQ(norm(n).v, Verdict::trailing_dot_or_blank) << n;
  }
  EXPECT_EQ(norm("").v, Verdict::empty);
  EXPECT_EQ(norm(".").v, Verdict::empty);
  EXPECT_EQ(norm("a//./").path, "a");
}

TEST(Normalize, RefusesOverlongNamesAndComponents) {
  EXPECT_EQ(norm(std::string(255, 'a')).v, Verdict::ok);
  EXPECT_EQ(norm(std::string(256, 'a')).v, Verdict::component_too_long);
  // 255 characters of two UTF-8 bytes each still fit; 128 four-byte ones
  // need 256 UTF-16 units and do not.
  std::string two, four;
  for (int i = 0; i < 255; ++i) two += "\xC3\xA9";
  for (int i = 0; i < 128; ++i) four += "\xF0\x9F\x98\x80";
  EXPECT_EQ(norm(two).v, Verdict::ok);
  EXPECT_EQ(norm(two + "\xC3\xA9").v, Verdict::component_too_long);
  EXPECT_EQ(norm(four).v, Verdict::component_too_long);
  std::string deep;
  while (deep.size() <= kMaxName) deep += "abcdefg/";
  EXPECT_EQ(norm(deep).v, Verdict::too_long);
}

TEST(Normalize, NeverOverrunsTheOutputBuffer) {
  char out[8];
  size_t len;
  bool dir;
  EXPECT_EQ(normalize("abc/defgh", out, sizeof out, &len, &dir), Verdict::too_long);
  EXPECT_EQ(normalize("abc/def", out, sizeof out, &len, &dir), Verdict::ok);
  EXPECT_EQ(std::string(out, len), "abc/def");
}

TEST(Utf8, ValidatesStrictly) {
  EXPECT_TRUE(valid_utf8("plain"));
  EXPECT_TRUE(valid_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_FALSE(valid_utf8("\xC3"));              // cut short
  EXPECT_FALSE(valid_utf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(valid_utf8("\xE0\x80\xAF"));      // overlong '/'
  EXPECT_FALSE(valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(valid_utf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(valid_utf8("\x80"));
  EXPECT_FALSE(valid_utf8("\xFF"));
}

TEST(Cp437, MatchesTheReferenceTableForEveryByte) {
  // Written by make_fixtures.py from Python's cp437 codec: the bytes
  // 0x20..0xFF decoded, as UTF-8.
  std::ifstream in(RDZ_FIXTURES "/cp437.txt", std::ios::binary);
  ASSERT_TRUE(in) << "fixture missing";
  std::stringstream ss;
  ss << in.rdbuf();
  std::string raw;
  for (int c = 0x20; c <= 0xFF; ++c) raw += static_cast<char>(c);
  char out[1024];
  size_t len;
  ASSERT_TRUE(cp437_to_utf8(raw, out, sizeof out, &len));
  EXPECT_EQ(std::string(out, len), ss.str());
  EXPECT_TRUE(valid_utf8({out, len}));
}

TEST(Cp437, RefusesToOverflow) {
  char out[4];
  size_t len;
  EXPECT_TRUE(cp437_to_utf8("abc", out, sizeof out, &len));
  EXPECT_FALSE(cp437_to_utf8("abcd", out, sizeof out, &len));
  EXPECT_FALSE(cp437_to_utf8("a\xB0", out, sizeof out, &len));  // 1 + 3 bytes + NUL
}

std::string decoded(const zip::Entry& e, Verdict want = Verdict::ok) {
  char out[3 * kMaxName + 1];
  size_t len = 0;
  EXPECT_EQ(decode(e, out, sizeof out, &len), want);
  return std::string(out, want == Verdict::ok ? len : 0);
}

TEST(Decode, ChoosesTheEncodingTheWriterUsed) {
  zip::Entry e;
  e.name = "caf\x82.txt";  // CP437 from a DOS/Windows host
  e.made_by = zip::host::kDos << 8;
  EXPECT_EQ(decoded(e), "caf\xC3\xA9.txt");

  e.name = "caf\xC3\xA9.txt";  // UTF-8 with the flag
  e.flags = 0x0800;
  EXPECT_EQ(decoded(e), "caf\xC3\xA9.txt");

  e.flags = 0;  // same bytes, no flag, DOS host: CP437
  EXPECT_EQ(decoded(e), "caf\xE2\x94\x9C\xE2\x8C\x90.txt");

  e.made_by = zip::host::kUnix << 8;  // Unix host, valid UTF-8: UTF-8
  EXPECT_EQ(decoded(e), "caf\xC3\xA9.txt");

  e.name = "caf\x82.txt";  // Unix host, not UTF-8: still CP437
  EXPECT_EQ(decoded(e), "caf\xC3\xA9.txt");

  e.name = "cafe.txt";  // Info-ZIP Unicode Path wins over the stored bytes
  e.unicode_name = "caf\xC3\xA9.txt";
  EXPECT_EQ(decoded(e), "caf\xC3\xA9.txt");

  e = zip::Entry{};
  e.name = "bad\xC3";
  e.flags = 0x0800;
  decoded(e, Verdict::bad_utf8);
}

TEST(Printable, MasksControlBytesAndCutsLongNames) {
  char out[16];
  EXPECT_EQ(printable("a\x1b[2Jb\n", out, sizeof out), 7u);
  EXPECT_STREQ(out, "a?[2Jb?");
  printable(std::string(40, 'x'), out, sizeof out);
  EXPECT_STREQ(out, "xxxxxxxxxxxx...");
  printable("xxxxxxxxxxx\xC3\xA9\xC3\xA9xxxxx", out, sizeof out);
  EXPECT_STREQ(out, "xxxxxxxxxxx...");  // no half character before the cut
}

}  // namespace
}  // namespace rdz::names
