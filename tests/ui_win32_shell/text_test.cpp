#include <gtest/gtest.h>

#include <string>

#include "ui/framework/win32/internal.h"

namespace lumivex::ui::win32 {
namespace {

struct RoundTrip {
  const char* name;
  std::string utf8;
  std::wstring utf16;
};

TEST(Utf16Text, WidenAndNarrowAreEachOthersInverse) {
  const RoundTrip cases[] = {
      {"empty", "", L""},
      {"ascii", "Lumivex 2.4.1.1", L"Lumivex 2.4.1.1"},
      {"about caption", "\xE5\x85\xB3\xE4\xBA\x8E Lumivex", L"\u5173\u4E8E Lumivex"},
      {"panel name", "\xE6\x8A\x95\xE5\xBD\xB1\xE5\x85\x89\xE6\x9C\xBA",
       L"\u6295\u5F71\u5149\u673A"},
      {"degrees",
       "25 \xC2\xB0"
       "C",
       L"25 \u00B0C"},
      // Outside the basic plane: a surrogate pair in UTF-16.
      {"light bulb", "\xF0\x9F\x92\xA1!", L"\xD83D\xDCA1!"},
      {"embedded nul", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const RoundTrip& c : cases) {
    EXPECT_EQ(Widen(c.utf8), c.utf16) << c.name;
    EXPECT_EQ(Narrow(c.utf16), c.utf8) << c.name;
  }
}

TEST(Utf16Text, InvalidUtf8BecomesReplacementCharactersAndKeepsTheRest) {
  struct Case {
    const char* name;
    std::string utf8;
    std::wstring before;
    std::wstring after;
  };
  const Case cases[] = {
      {"stray byte",
       "ab\xFF"
       "cd",
       L"ab", L"cd"},
      {"cut sequence inside",
       "ab\xE6\x8A"
       "cd",
       L"ab", L"cd"},
      {"cut sequence at the end", "ab\xE6\x8A", L"ab", L""},
      {"lone continuation",
       "\x80"
       "ab",
       L"", L"ab"},
      {"overlong slash",
       "a\xC0\xAF"
       "b",
       L"a", L"b"},
  };
  for (const Case& c : cases) {
    const std::wstring wide = Widen(c.utf8);
    ASSERT_GE(wide.size(), c.before.size() + c.after.size() + 1) << c.name;
    EXPECT_EQ(wide.substr(0, c.before.size()), c.before) << c.name;
    EXPECT_EQ(wide.substr(wide.size() - c.after.size()), c.after) << c.name;
    const std::wstring middle =
        wide.substr(c.before.size(), wide.size() - c.before.size() - c.after.size());
    EXPECT_EQ(middle.find_first_not_of(L'\uFFFD'), std::wstring::npos) << c.name;
  }
}

TEST(Utf16Text, ALoneSurrogateBecomesAReplacementCharacter) {
  EXPECT_EQ(Narrow(std::wstring(L"a\xD800"
                                L"b")),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Narrow(std::wstring(L"a\xDC00")), "a\xEF\xBF\xBD");
}

TEST(Utf16Text, ALongTextIsConvertedWhole) {
  std::string utf8;
  for (int i = 0; i < 100000; ++i) utf8 += "\xE6\x8A\x95x";
  const std::wstring wide = Widen(utf8);
  ASSERT_EQ(wide.size(), 200000u);
  EXPECT_EQ(wide.substr(199998), L"\u6295x");
  EXPECT_EQ(Narrow(wide), utf8);
}

}  // namespace
}  // namespace lumivex::ui::win32
