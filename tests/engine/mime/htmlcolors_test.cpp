// Colour names and colour parsing.
#include <gtest/gtest.h>

#include <strings.h>

#include <string>

#include "mime/htmlcolors.h"

using namespace telsor;

namespace {

TEST(HtmlColors, ParseTable) {
  struct Row {
    const char* text;
    ULONG colour;
  };
  const Row rows[] = {
      {"#ff0000", 0x0000FF}, {"red", 0x0000FF}, {"RED", 0x0000FF}, {"Red", 0x0000FF},
      {"#00ff00", 0x00FF00}, {"lime", 0x00FF00}, {"green", 0x008000}, {"blue", 0xFF0000},
      {"navy", 0x800000}, {"grey", 0x808080}, {"gray", 0x808080},
      {"lightGoldenRodYellow", 0xD2FAFA}, {"WINDOWTEXT", 0}, {"window", 0xFFFFFF},
      {"threeddarkshadow", 0x404040}, {"infobackground", 0xE1FFFF}, {"activecaption", 0x6A240A},
      {"white", 0xFFFFFF}, {"black", 0}, {"yellowgreen", 0x32CD9A}, {"activeborder", 0xC8D0D4},
      // Not a name: read as hexadecimal digits, other characters as 0.
      {"ff0000", 0x0000FF}, {"#fff", 0}, {"#abc", 0}, {"ab", 0}, {"#", 0},
      {"#abcd", 0x00CDAB}, {"#1234567", 0x704512}, {"#12345678901", 0x905612},
      {"#g0g0g0", 0}, {"slategrey", 0x0E0E00}, {"red ", 0x00D00E}, {"#FfA07a", 0x7AA0FF},
      {"#red", 0}, {"#123456", 0x563412}, {"123456", 0x563412}, {"#12345", 0x503412},
  };
  for (const Row& r : rows) {
    ULONG c = 0xDEADBEEF;
    EXPECT_EQ(1, ParseColor(r.text, c)) << r.text;
    EXPECT_EQ(r.colour, c) << r.text;
  }
  ULONG c = 0x123456;
  EXPECT_EQ(0, ParseColor("", c));
  EXPECT_EQ(0, ParseColor(nullptr, c));
  EXPECT_EQ(0x123456u, c);
}

// The table is in strcasecmp order (bisection finds every row) and every
// name parses to its own row's colour, in any letter case.
TEST(HtmlColors, TableIsSortedAndEveryNameIsFound) {
  for (int i = 1; i < COLOR_NAME_COUNT; ++i) {
    EXPECT_LT(strcasecmp(g_aColorNames[i - 1].pszName, g_aColorNames[i].pszName), 0)
        << g_aColorNames[i].pszName;
  }
  for (int i = 0; i < COLOR_NAME_COUNT; ++i) {
    std::string upper = g_aColorNames[i].pszName;
    for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    ULONG c = 0xDEADBEEF;
    EXPECT_EQ(1, ParseColor(upper.c_str(), c));
    EXPECT_EQ(g_aColorNames[i].dwColor, c) << upper;
    EXPECT_EQ(0u, c >> 24) << upper;
  }
  for (int i = 0; i < COLOR_NAME_COUNT; ++i) {
    EXPECT_EQ(strcasecmp("SNOW", g_aColorNames[i].pszName) == 0,
              CmpElemColorName("SNOW", &g_aColorNames[i]) == 0);
  }
}

}  // namespace
