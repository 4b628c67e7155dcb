#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/input_fixture.h"

namespace zol::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using FunctionKeys = InputTranslatorTest;
using RoutingKeys = InputTranslatorTest;
using KeyboardText = InputTranslatorTest;

TEST_F(FunctionKeys, EveryNamedCodePostsItsNameOnceAndTheOthersNothing) {
  for (int code = 0; code <= 64; ++code) translator.HandleFunctionKey(code);

  const std::vector<std::string> names = {
      "F1",   "F2",    "F3",   "F4",   "F5",   "F6",   "F7",   "F8",   "F9",   "F10",
      "LF",   "UP",    "RG",   "DN",   "SF1",  "SF2",  "SF3",  "SF4",  "SF5",  "SF6",
      "SF7",  "SF8",   "SF9",  "SF10", "SLF",  "SUP",  "SRG",  "SDN",  "LF1",  "LF2",
      "LF3",  "LF4",   "LF5",  "LF6",  "LF7",  "LF8",  "LF9",  "LF10", "LLF",  "LUP",
      "LRG",  "LDN",   "SLF1", "SLF2", "SLF3", "SLF4", "SLF5", "SLF6", "SLF7", "SLF8",
      "SLF9", "SLF10", "SLLF", "SLUP", "SLRG", "SLDN"};
  std::vector<KeyEvent> expected;
  for (const auto& name : names) expected.push_back({name, 0});
  EXPECT_EQ(host.events, expected);
}

TEST_F(FunctionKeys, CodesAbove64AreIgnoredAndKeepTheRoutingMode) {
  translator.HandleFunctionKey(63);
  for (int code = 65; code <= 255; ++code) translator.HandleFunctionKey(code);
  EXPECT_EQ(translator.routingMode(), 1);

  translator.HandleFunctionKey(64);
  for (int code = 65; code <= 255; ++code) translator.HandleFunctionKey(code);
  EXPECT_EQ(translator.routingMode(), 0);
  EXPECT_THAT(host.events, IsEmpty());
}

TEST_F(FunctionKeys, WithoutHostNothingIsPostedButTheModeStillSwitches) {
  host.hostSet = false;
  translator.HandleFunctionKey(1);
  translator.HandleFunctionKey(63);
  EXPECT_EQ(translator.routingMode(), 1);
  translator.HandleFunctionKey(64);
  EXPECT_EQ(translator.routingMode(), 0);
  EXPECT_THAT(host.events, IsEmpty());
}

TEST_F(RoutingKeys, RoutingModeSelectsRouting2OnBothLinks) {
  shared.textCellCount = 40;
  shared.statusCellCount = 4;
  translator.HandleFunctionKey(63);
  translator.HandleHidRoutingKey(5);
  translator.HandleSerialRoutingKey(5);
  translator.HandleFunctionKey(64);
  translator.HandleHidRoutingKey(5);
  translator.HandleSerialRoutingKey(5);
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"Routing2", 5}, KeyEvent{"Routing2", 5},
                                       KeyEvent{"Routing", 5}, KeyEvent{"Routing", 5}));
}

// Serial: with exactly two status cells, codes 1 and 2 are status keys and the value is the code
// less two; otherwise the value is the code. HID: the value is the code, bit 7 set drops it.
// Either way a value outside [0, text cells) is dropped, and so is every value without text
// cells.
TEST_F(RoutingKeys, OnlyValuesWithinTheTextCellsAreDelivered) {
  enum Link { kSerial, kHid };
  const struct {
    Link link;
    int32_t textCells;
    int32_t statusCells;
    std::vector<int> codes;
    std::vector<KeyEvent> delivered;
  } cases[] = {
      {kSerial,
       40,
       2,
       {0, 1, 3, 41, 42, 43, 127, 0x80, 0x81, 0xA9, 0xAA, 0xFF},
       {{"STATUS1", 0}, {"Routing", 1}, {"Routing", 39}, {"STATUS3", 0}, {"Routing2", 39}}},
      {kSerial, 80, 2, {0, 2, 3, 81, 82, 127}, {{"STATUS2", 0}, {"Routing", 1}, {"Routing", 79}}},
      {kSerial,
       40,
       0,
       {0, 1, 2, 39, 40, 127, 0xA7, 0xA8},
       {{"Routing", 0}, {"Routing", 1}, {"Routing", 2}, {"Routing", 39}, {"Routing2", 39}}},
      {kSerial, 80, 0, {0, 79, 80, 127}, {{"Routing", 0}, {"Routing", 79}}},
      {kSerial, 40, 4, {0, 1, 39, 40, 127}, {{"Routing", 0}, {"Routing", 1}, {"Routing", 39}}},
      {kSerial,
       80,
       4,
       {0, 79, 80, 0xCF, 0xD0},
       {{"Routing", 0}, {"Routing", 79}, {"Routing2", 79}}},
      {kHid, 40, 0, {0, 39, 40, 127, 0x80}, {{"Routing", 0}, {"Routing", 39}}},
      {kHid,
       40,
       2,
       {0, 1, 2, 39, 40},
       {{"Routing", 0}, {"Routing", 1}, {"Routing", 2}, {"Routing", 39}}},
      {kHid, 40, 4, {39, 40}, {{"Routing", 39}}},
      {kHid, 80, 0, {0, 79, 80, 127}, {{"Routing", 0}, {"Routing", 79}}},
      {kHid, 80, 2, {79, 80}, {{"Routing", 79}}},
      {kHid, 80, 4, {79, 80, 0xCF}, {{"Routing", 79}}},
      {kSerial, 0, 2, {0, 1, 3}, {{"STATUS1", 0}}},
      {kSerial, 0, 0, {0, 1}, {}},
      {kHid, 0, 0, {0, 1}, {}},
  };
  for (const auto& c : cases) {
    shared.textCellCount = c.textCells;
    shared.statusCellCount = c.statusCells;
    host.events.clear();
    for (int code : c.codes) {
      if (c.link == kSerial) {
        translator.HandleSerialRoutingKey(static_cast<uint8_t>(code));
      } else {
        translator.HandleHidRoutingKey(static_cast<uint8_t>(code));
      }
    }
    EXPECT_EQ(host.events, c.delivered) << (c.link == kSerial ? "serial, " : "HID, ") << c.textCells
                                        << " text cells, " << c.statusCells << " status cells";
  }
}

TEST_F(RoutingKeys, SerialKeysWithTwoStatusCellsInRoutingMode) {
  shared.textCellCount = 40;
  shared.statusCellCount = 2;
  translator.HandleFunctionKey(63);
  for (int code : {1, 2, 5, 0x82}) translator.HandleSerialRoutingKey(code);
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"STATUS3", 0}, KeyEvent{"STATUS4", 0},
                                       KeyEvent{"Routing2", 3}, KeyEvent{"STATUS4", 0}));
}

TEST_F(RoutingKeys, WithoutHostNothingIsPosted) {
  host.hostSet = false;
  shared.textCellCount = 40;
  shared.statusCellCount = 2;
  translator.HandleHidRoutingKey(5);
  translator.HandleSerialRoutingKey(1);
  translator.HandleSerialRoutingKey(5);
  EXPECT_THAT(host.events, IsEmpty());
}

void SendText(InputTranslator& translator, const std::string& text) {
  const std::vector<uint8_t> payload(text.c_str(), text.c_str() + text.size() + 1);
  translator.HandleKeyboardText(payload.data(), payload.size(), 0);
}

TEST_F(KeyboardText, FollowsTheQwertyPrefixWithoutSeparator) {
  SendText(translator, "");
  SendText(translator, "abc");
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"qwerty:", 0}, KeyEvent{"qwerty:abc", 0}));
}

TEST_F(KeyboardText, IsPostedWithoutHostAndIgnoresTheCount) {
  host.hostSet = false;
  const uint8_t payload[] = {'h', 'i', 0, 'x'};
  translator.HandleKeyboardText(payload, sizeof payload, 1);
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"qwerty:hi", 0}));
}

TEST_F(KeyboardText, LongTextIsCutTo119Characters) {
  SendText(translator, std::string(119, 'a'));
  SendText(translator, std::string(200, 'b'));
  ASSERT_EQ(host.events.size(), 2u);
  EXPECT_EQ(host.events[0].name, "qwerty:" + std::string(119, 'a'));
  EXPECT_EQ(host.events[1].name, "qwerty:" + std::string(119, 'b'));
}

TEST_F(KeyboardText, TextWithoutZeroByteEndsWithItsPayload) {
  // Exactly sized heap blocks: reading one byte further trips AddressSanitizer.
  const std::vector<uint8_t> unterminated = {'x', 'y', 'z'};
  translator.HandleKeyboardText(unterminated.data(), unterminated.size(), 3);
  const std::vector<uint8_t> notCounted(1, 'q');
  translator.HandleKeyboardText(notCounted.data(), 0, 0);
  translator.HandleKeyboardText(nullptr, 0, 0);
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"qwerty:xyz", 0}, KeyEvent{"qwerty:", 0},
                                       KeyEvent{"qwerty:", 0}));
}

}  // namespace
}  // namespace zol::testing
