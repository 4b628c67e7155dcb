#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/input_fixture.h"

namespace zol::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint8_t kShift = 0x10, kCtrl = 0x11, kAlt = 0x12;
constexpr uint8_t kF4 = 0x73, kTab = 0x09, kEnter = 0x0D;

using KeyWords = InputTranslatorTest;
using CharacterCodes = InputTranslatorTest;
using BrailleKeys = InputTranslatorTest;
using ScanCodes = InputTranslatorTest;

TEST_F(KeyWords, ModifiersArePressedAndReleasedShiftCtrlAlt) {
  translator.SendKeyWord(0x0741);
  EXPECT_THAT(injector.keystrokes, ElementsAre(Down(kShift), Down(kCtrl), Down(kAlt), Down(0x41),
                                               Up(0x41), Up(kShift), Up(kCtrl), Up(kAlt)));
}

TEST_F(KeyWords, OtherHighBitsAreIgnored) {
  translator.SendKeyWord(0xF841);
  EXPECT_THAT(injector.keystrokes, ElementsAre(Down(0x41), Up(0x41)));
}

TEST_F(CharacterCodes, AsciiGoesThroughTheLayout) {
  translator.HandleCharacterCode(65);
  translator.HandleCharacterCode('q');
  EXPECT_THAT(injector.keystrokes,
              ElementsAre(Down(kShift), Down(0x41), Up(0x41), Up(kShift), Down(0x51), Up(0x51)));
}

TEST_F(CharacterCodes, SpecialKeys) {
  for (int code : {256, 297, 309, 382}) translator.HandleCharacterCode(code);
  EXPECT_THAT(injector.keystrokes,
              ElementsAre(Down(kEnter), Up(kEnter),                          // 256
                          Down(kAlt), Down(kF4), Up(kF4), Up(kAlt),          // 297
                          Down(kCtrl), Down(kF4), Up(kF4), Up(kCtrl),        // 309
                          Down(kShift), Down(kTab), Up(kTab), Up(kShift)));  // 382
}

TEST_F(CharacterCodes, CodesWithoutKeyInjectNothing) {
  for (int code : {270, 283, 383, 0x1000, 0xFFFF}) translator.HandleCharacterCode(code);
  EXPECT_THAT(injector.keystrokes, IsEmpty());
}

TEST_F(CharacterCodes, HighCodesAreTheirWindows1252Characters) {
  injector.SetKeyWord(u'\u00FC', 0x00BA);
  for (int code : {0x81, 0x80, 0xB0, 0xF8, 0x9F}) translator.HandleCharacterCode(code);
  // 0xB0 is the filler 0x90, no character: the layout is not asked.
  EXPECT_THAT(injector.asked, ElementsAre(u'\u00FC', u'\u00C7', u'\u00B0', u'\u0192'));
  EXPECT_THAT(injector.keystrokes, ElementsAre(Down(0xBA), Up(0xBA), Unicode(u'\u00C7'),
                                               Unicode(u'\u00B0'), Unicode(u'\u0192')));
}

TEST_F(CharacterCodes, PrintableCharactersWithoutAKeyAreTypedAsUnicode) {
  translator.HandleCharacterCode('~');
  translator.HandleCharacterCode(0x07);      // a control character: only a key types it
  translator.HandleBrailleKeys(0, 0, 0x80);  // the euro sign of Windows-1252
  translator.HandleBrailleKeys(0, 0, 0x9D);  // no character in Windows-1252
  EXPECT_THAT(injector.asked, ElementsAre(u'~', u'\u0007', u'\u20AC'));
  EXPECT_THAT(injector.keystrokes, ElementsAre(Unicode(u'~'), Unicode(u'\u20AC')));
}

// The layout's answers decide: recorded VkKeyScanExW answers of the German layout (00000407),
// and one key behind a shift state of a layout's own, which holding Shift, Ctrl and Alt cannot
// reach.
TEST_F(CharacterCodes, KeysFollowTheLayoutAndTheModifiersAroundThem) {
  injector.SetKeyWord(u'/', 0x0137);       // Shift+7
  injector.SetKeyWord(u'@', 0x0651);       // AltGr+Q, that is Ctrl+Alt+Q
  injector.SetKeyWord(u'\u00E4', 0x00DE);  // ä
  injector.SetKeyWord(u'\u00F1', 0x0841);  // ñ behind the layout's own shift state
  const struct {
    uint16_t code;
    std::vector<Keystroke> typed;
  } cases[] = {
      {'/', {Down(kShift), Down('7'), Up('7'), Up(kShift)}},
      {'@', {Down(kCtrl), Down(kAlt), Down('Q'), Up('Q'), Up(kCtrl), Up(kAlt)}},
      {0x84, {Down(0xDE), Up(0xDE)}},  // code page 437 ä
      {0x82, {Unicode(u'\u00E9')}},    // é: only a dead key and e type it
      {0xA4, {Unicode(u'\u00F1')}},
  };
  for (const auto& c : cases) {
    injector.keystrokes.clear();
    translator.HandleCharacterCode(c.code);
    EXPECT_EQ(injector.keystrokes, c.typed) << "code 0x" << std::hex << c.code;
  }
}

TEST_F(BrailleKeys, ChordsPostKbdNamesAndInjectNothing) {
  translator.HandleBrailleKeys(0x01, 0x09, 'x');
  translator.HandleBrailleKeys(0x01, 0x00, 'x');
  translator.HandleBrailleKeys(0x02, 0xFF, 'x');
  translator.HandleBrailleKeys(0xFB, 0x80, 'x');
  EXPECT_THAT(host.events,
              ElementsAre(KeyEvent{"KBD14", 0}, KeyEvent{"KBD", 0},
                          KeyEvent{"shift KBD12345678", 0}, KeyEvent{"shift KBD8", 0}));
  EXPECT_THAT(injector.keystrokes, IsEmpty());
}

TEST_F(BrailleKeys, ChordsArePostedWithoutHost) {
  host.hostSet = false;
  translator.HandleBrailleKeys(0x01, 0x01, 'a');
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"KBD1", 0}));
}

TEST_F(BrailleKeys, CommandFlagSendsSpecialKeys) {
  translator.HandleBrailleKeys(0x04, 41, 'x');
  translator.HandleBrailleKeys(0x06, 0, 'x');  // the command bit wins over the shift bit
  EXPECT_THAT(injector.keystrokes,
              ElementsAre(Down(kAlt), Down(kF4), Up(kF4), Up(kAlt), Down(kEnter), Up(kEnter)));
  EXPECT_THAT(host.events, IsEmpty());
}

TEST_F(BrailleKeys, CommandsWithoutKeyDoNothing) {
  for (int dots : {14, 127, 255}) translator.HandleBrailleKeys(0x04, dots, 'x');
  EXPECT_THAT(injector.keystrokes, IsEmpty());
  EXPECT_THAT(host.events, IsEmpty());
}

TEST_F(BrailleKeys, NoFlagsOrSpaceTypeTheCharacter) {
  translator.HandleBrailleKeys(0x00, 0x09, 'x');
  translator.HandleBrailleKeys(0x04, 41, ' ');
  translator.HandleBrailleKeys(0x02, 0xFF, ' ');
  EXPECT_THAT(injector.keystrokes,
              ElementsAre(Down(0x58), Up(0x58), Down(0x20), Up(0x20), Down(0x20), Up(0x20)));
  EXPECT_THAT(host.events, IsEmpty());
}

// A release is the make code with the release flag: the system maps scan codes through the
// layout's make codes, so a break code would leave the key down.
TEST_F(ScanCodes, PressesAndReleasesCarryTheMakeCodeWithTheirFlags) {
  for (int code : {0x1C, 0xF0, 0x1C, 0xE0, 0x75, 0xE0, 0xF0, 0x75}) translator.HandleScanCode(code);
  EXPECT_THAT(injector.keystrokes,
              ElementsAre(Scan(0x1E, 8), Scan(0x1E, 10), Scan(0x48, 9), Scan(0x48, 11)));
  EXPECT_EQ(translator.scanCodeFlags(), 0u);
}

TEST_F(ScanCodes, PrefixesInjectNothingUntilTheirCode) {
  translator.HandleScanCode(0xF0);
  translator.HandleScanCode(0xE0);
  EXPECT_THAT(injector.keystrokes, IsEmpty());
  EXPECT_EQ(translator.scanCodeFlags(), 3u);
}

TEST_F(ScanCodes, KeyBesideLeftShiftUsesItsMakeCodeBothWays) {
  translator.HandleScanCode(0x61);
  translator.HandleScanCode(0xF0);
  translator.HandleScanCode(0x61);
  EXPECT_THAT(injector.keystrokes, ElementsAre(Scan(0x56, 8), Scan(0x56, 10)));
}

TEST_F(ScanCodes, HighCodesAreDroppedAndLeaveAPendingPrefix) {
  translator.HandleScanCode(0xE0);
  for (int code : {0xE1, 0xFF, 0x100, 0xFFFF}) translator.HandleScanCode(code);
  EXPECT_THAT(injector.keystrokes, IsEmpty());
  EXPECT_EQ(translator.scanCodeFlags(), 1u);
  translator.HandleScanCode(0x75);
  EXPECT_THAT(injector.keystrokes, ElementsAre(Scan(0x48, 9)));
}

TEST_F(ScanCodes, CodeWithoutKeyIsInjectedAsScanCodeZero) {
  translator.HandleScanCode(0x00);
  translator.HandleScanCode(0xDF);
  EXPECT_THAT(injector.keystrokes, ElementsAre(Scan(0, 8), Scan(0, 8)));
}

TEST_F(ScanCodes, CtrlReportsTheTickRecordBeforeEachKeystroke) {
  clock.Advance(0xABCD1234 - clock.Now());
  std::vector<size_t> keystrokesBeforeRecord;
  host.onDeviceData = [&] { keystrokesBeforeRecord.push_back(injector.keystrokes.size()); };
  translator.HandleScanCode(0x14);
  translator.HandleScanCode(0xE0);
  translator.HandleScanCode(0xF0);
  translator.HandleScanCode(0x14);
  const std::vector<uint8_t> record = {0x34, 0x34 ^ 0x12, 0x12};
  EXPECT_THAT(host.deviceData, ElementsAre(record, record));
  EXPECT_THAT(keystrokesBeforeRecord, ElementsAre(0u, 1u));
  EXPECT_THAT(injector.keystrokes, ElementsAre(Scan(0x1D, 8), Scan(0x1D, 11)));
}

TEST_F(ScanCodes, CtrlWithoutHostOnlyInjects) {
  host.hostSet = false;
  translator.HandleScanCode(0x14);
  EXPECT_THAT(host.deviceData, IsEmpty());
  EXPECT_THAT(injector.keystrokes, ElementsAre(Scan(0x1D, 8)));
}

}  // namespace
}  // namespace zol::testing
