#include "common/braille_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace zol {
namespace {

using Cells = std::vector<uint8_t>;

TEST(BrailleTextTable, FollowsUsComputerBraille) {
  EXPECT_EQ(CharToDots(' '), 0x00);
  EXPECT_EQ(CharToDots('a'), 0x01);     // 1
  EXPECT_EQ(CharToDots('A'), 0x41);     // 17
  EXPECT_EQ(CharToDots('1'), 0x02);     // 2
  EXPECT_EQ(CharToDots('0'), 0x34);     // 356
  EXPECT_EQ(CharToDots('['), 0x6A);     // 2467
  EXPECT_EQ(CharToDots('\\'), 0x73);    // 12567
  EXPECT_EQ(CharToDots(0xE9), 0xA3);    // e acute: 1268
  EXPECT_EQ(CharToDots(0x20AC), 0x91);  // euro sign: 158
  EXPECT_EQ(CharToDots(0x03B1), 0x81);  // greek alpha: 18
}

TEST(BrailleTextTable, ReadsEveryPrintableAsciiCharacterBack) {
  for (char32_t c = 0x20; c <= 0x7E; ++c) {
    EXPECT_EQ(DotsToChar(CharToDots(c)), c) << "character " << static_cast<unsigned>(c);
  }
}

TEST(BrailleTextTable, BraillePatternsStandForThemselvesAndUnknownsShowAsQuestionMark) {
  EXPECT_EQ(CharToDots(0x2800), 0x00);
  EXPECT_EQ(CharToDots(0x284B), 0x4B);
  EXPECT_EQ(CharToDots(0x28FF), 0xFF);
  EXPECT_EQ(CharToDots(0x4E00), CharToDots('?'));
  EXPECT_EQ(CharToDots(0x1F600), CharToDots('?'));
}

TEST(BrailleTextTable, PatternsOfControlCharactersReadBackAsNothing) {
  EXPECT_EQ(DotsToChar(0x40), 0u);  // dot 7 alone
  EXPECT_EQ(DotsToChar(0x78), 0u);  // 4567: delete
  EXPECT_EQ(DotsToChar(0x91), 0x20ACu);
}

TEST(BrailleTextDecode, TakesValidUtf8AsUtf8) {
  EXPECT_EQ(DecodeText("a\xC3\xA9\xE2\x82\xAC"), std::u32string(U"a\u00E9\u20AC"));
  EXPECT_EQ(DecodeText("\xF0\x9F\x98\x80"), std::u32string(U"\U0001F600"));
  EXPECT_EQ(DecodeText(""), std::u32string());
}

TEST(BrailleTextDecode, TakesAnythingElseAsLatin1) {
  EXPECT_EQ(DecodeText("\xE9t\xE9"), std::u32string(U"\u00E9t\u00E9"));          // lone lead bytes
  EXPECT_EQ(DecodeText("\xC0\xAF"), std::u32string(U"\u00C0\u00AF"));            // overlong '/'
  EXPECT_EQ(DecodeText("\xED\xA0\x80"), std::u32string(U"\u00ED\u00A0\u0080"));  // surrogate
  EXPECT_EQ(DecodeText("ok\xE2\x82"), std::u32string(U"ok\u00E2\u0082"));        // cut short
  EXPECT_EQ(DecodeText("\xF4\x90\x80\x80"), std::u32string(U"\u00F4\u0090\u0080\u0080"));
}

TEST(BrailleTextCells, TextBecomesOnePatternPerCharacter) {
  EXPECT_EQ(TextToDots("Hi!"), (Cells{0x53, 0x0A, 0x2E}));
  EXPECT_EQ(TextToDots("\xC3\xA9"), (Cells{0xA3}));  // one character, not two
  EXPECT_EQ(TextToDots("\xE9"), (Cells{0xA3}));
  EXPECT_EQ(TextToDots(""), Cells());
}

TEST(BrailleTextCells, FitsToTheCellCount) {
  EXPECT_EQ(FitToCells({0x01, 0x03}, 4), (Cells{0x01, 0x03, 0x00, 0x00}));
  EXPECT_EQ(FitToCells({0x01, 0x03, 0x09}, 2), (Cells{0x01, 0x03}));
  EXPECT_EQ(FitToCells({0x01}, 0), Cells());
}

TEST(BrailleTextOutput, RendersUnicodeBrailleAndReadsBackText) {
  const Cells cells{0x00, 0x01, 0x41, 0x40, 0xFF};
  EXPECT_EQ(DotsToUnicodeBraille(cells.data(), cells.size()),
            "\xE2\xA0\x80\xE2\xA0\x81\xE2\xA1\x81\xE2\xA1\x80\xE2\xA3\xBF");
  EXPECT_EQ(DotsToText(cells.data(), 3), " aA");
  EXPECT_EQ(DotsToText(cells.data() + 3, 1), "\xE2\xA1\x80");  // no character: the pattern
  EXPECT_EQ(DotsToUnicodeBraille(cells.data(), 0), "");
}

TEST(BrailleTextOutput, EncodesUtf8AndReplacesInvalidCodePoints) {
  std::string out;
  AppendUtf8(out, 'A');
  AppendUtf8(out, 0xE9);
  AppendUtf8(out, 0x1F600);
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(BrailleTextOutput, NamesTheDots) {
  EXPECT_EQ(DotNumbers(0x00), "0");
  EXPECT_EQ(DotNumbers(0x4B), "1247");
  EXPECT_EQ(DotNumbers(0xFF), "12345678");
}

TEST(BrailleTextParse, ReadsOneHexPattern) {
  uint8_t dots = 0;
  EXPECT_TRUE(ParseHexDots("4b", &dots));
  EXPECT_EQ(dots, 0x4B);
  EXPECT_TRUE(ParseHexDots("0xFF", &dots));
  EXPECT_EQ(dots, 0xFF);
  EXPECT_TRUE(ParseHexDots("7", &dots));
  EXPECT_EQ(dots, 0x07);
  for (const char* bad : {"", "0x", "100", "g1", "0x1FF", "-1", " 1"}) {
    dots = 0x55;
    EXPECT_FALSE(ParseHexDots(bad, &dots)) << bad;
    EXPECT_EQ(dots, 0x55) << bad;
  }
}

}  // namespace
}  // namespace zol
