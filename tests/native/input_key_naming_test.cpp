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

TEST_F(RoutingKeys, HidKeysWithBit7PostNothing) {
  for (int code : {0x80, 0x85, 0xFF}) translator.HandleHidRoutingKey(code);
  translator.HandleFunctionKey(63);
  translator.HandleHidRoutingKey(0x85);
  EXPECT_THAT(host.events, IsEmpty());
}

TEST_F(RoutingKeys, HidKeysNeverNameStatusKeys) {
  shared.statusCellCount = 2;
  for (int code : {0, 1, 2, 3, 127}) translator.HandleHidRoutingKey(code);
  EXPECT_THAT(host.events,
              ElementsAre(KeyEvent{"Routing", 0}, KeyEvent{"Routing", 1}, KeyEvent{"Routing", 2},
                          KeyEvent{"Routing", 3}, KeyEvent{"Routing", 127}));
}

TEST_F(RoutingKeys, SerialKeysWithTwoStatusCells) {
  shared.statusCellCount = 2;
  for (int code : {1, 2, 3, 0, 0x81, 0x82, 0x85, 0x80, 0xFF}) {
    translator.HandleSerialRoutingKey(code);
  }
  EXPECT_THAT(
      host.events,
      ElementsAre(KeyEvent{"STATUS1", 0}, KeyEvent{"STATUS2", 0}, KeyEvent{"Routing", 1},
                  KeyEvent{"Routing", -2}, KeyEvent{"STATUS3", 0}, KeyEvent{"STATUS4", 0},
                  KeyEvent{"Routing2", 3}, KeyEvent{"Routing2", -2}, KeyEvent{"Routing2", 125}));
}

TEST_F(RoutingKeys, SerialKeysWithTwoStatusCellsInRoutingMode) {
  shared.statusCellCount = 2;
  translator.HandleFunctionKey(63);
  for (int code : {1, 2, 5, 0x82}) translator.HandleSerialRoutingKey(code);
  EXPECT_THAT(host.events, ElementsAre(KeyEvent{"STATUS3", 0}, KeyEvent{"STATUS4", 0},
                                       KeyEvent{"Routing2", 3}, KeyEvent{"STATUS4", 0}));
}

TEST_F(RoutingKeys, SerialKeysWithoutTwoStatusCellsAreAllRoutingKeys) {
  for (int statusCells : {0, 4}) {
    shared.statusCellCount = statusCells;
    host.events.clear();
    for (int code : {0, 1, 2, 0x85, 0xFF}) translator.HandleSerialRoutingKey(code);
    EXPECT_THAT(host.events,
                ElementsAre(KeyEvent{"Routing", 0}, KeyEvent{"Routing", 1}, KeyEvent{"Routing", 2},
                            KeyEvent{"Routing2", 5}, KeyEvent{"Routing2", 127}))
        << statusCells << " status cells";
  }
}

TEST_F(RoutingKeys, WithoutHostNothingIsPosted) {
  host.hostSet = false;
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
