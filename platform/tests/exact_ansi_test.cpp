#include "platform/exact_ansi.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Latin-1 as a code page: any other character becomes its look-alike ('L'
// for Ł, '\' for a fullwidth backslash, else '?'), reported or, as UTF-8
// does, not.
template <bool kReports>
int to_latin1(const wchar_t* wide, int length, char* buf, int capacity, ops::Default* used) {
  if (length > capacity) return -1;
  *used = kReports ? ops::Default::unused : ops::Default::unknown;
  for (int i = 0; i < length; ++i) {
    bool held = wide[i] < 0x100;
    buf[i] = held ? static_cast<char>(wide[i]) : wide[i] == 0x141 ? 'L' : wide[i] == 0xFF3C ? '\\' : '?';
    if (!held && kReports) *used = ops::Default::used;
  }
  return length;
}

int from_latin1(const char* text, int length, wchar_t* buf, int capacity) {
  for (int i = 0; i < length && i < capacity; ++i) buf[i] = static_cast<unsigned char>(text[i]);
  return length <= capacity ? length : 0;
}

TEST(ExactAnsi, OnlyATextEveryCharacterOfWhichIsHeldIsTaken) {
  const std::wstring longest(ops::kMaxExactText, L'a'), too_long = longest + L'a';
  struct Case { std::wstring wide; ops::Held held; std::string ansi; bool reports = true; std::size_t capacity = 16; } cases[] = {
      {L"C:\\M\u00FCller", ops::Held::exactly, "C:\\M\xFCller"}, {L"C:\\M\u00FCller", ops::Held::exactly, "C:\\M\xFCller", false},
      {L"", ops::Held::exactly, ""}, {L"C:\\\u0141ukasz", ops::Held::not_exactly, ""},
      {L"pkg\uFF3C..", ops::Held::not_exactly, "", false}, {too_long, ops::Held::too_long, "", true, 2000},
      {L"C:\\sixteen-chars", ops::Held::too_long, ""}, {L"C:\\fifteen-char", ops::Held::exactly, "C:\\fifteen-char"},
      {L"x", ops::Held::too_long, "", true, 0}, {longest, ops::Held::exactly, std::string(longest.size(), 'a'), true, 2000},
  };
  for (const Case& c : cases) {
    ops::CodePage code_page{c.reports ? to_latin1<true> : to_latin1<false>, from_latin1};
    char buf[2000] = "unchanged";
    std::size_t stored = 99;  // bytes before the terminator, which is checked too
    EXPECT_EQ(ops::to_ansi_exactly(c.wide.data(), c.wide.size(), buf, c.capacity, code_page, &stored), c.held);
    EXPECT_EQ(c.held == ops::Held::exactly ? std::string(buf, stored + 1) : c.ansi + '\0', c.ansi + '\0');
  }
}

}  // namespace
