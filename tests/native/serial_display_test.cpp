#include "sim/serial_display.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/serial_display_commands.h"
#include "sim/sim_clock.h"

namespace zol::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SerialDisplayTest : public ::testing::Test {
 protected:
  void Deliver(uint8_t type, std::vector<uint8_t> data = {}) {
    const std::vector<uint8_t> bytes = SerialPacketBytes(type, std::move(data));
    display.Receive(bytes.data(), bytes.size());
  }
  std::vector<uint8_t> Output() {
    std::vector<uint8_t> out(4096);
    out.resize(display.Transmit(out.data(), out.size()));
    return out;
  }
  // Types of the packets in the display's output.
  std::vector<uint8_t> OutputTypes() {
    std::vector<uint8_t> types;
    SerialReceiver receiver;
    for (uint8_t b : Output())
      if (receiver.Feed(b) == SerialReceiver::Result::kGoodPacket) types.push_back(receiver.type());
    return types;
  }

  SimClock clock{100};
  SerialDisplay display{clock};
};

TEST_F(SerialDisplayTest, RepliesToIdentifyWithItsGeometry) {
  display.SetGeometry(80, 4, 9, 8);
  Deliver(PKT_IDENTIFY);
  std::vector<uint8_t> expected = SerialPacketBytes(PKT_ACK, {});
  const std::vector<uint8_t> reply = SerialPacketBytes(PKT_IDENTIFY_REPLY, {80, 4, 0, 0, 9, 8});
  expected.insert(expected.end(), reply.begin(), reply.end());
  EXPECT_EQ(Output(), expected);
}

TEST_F(SerialDisplayTest, IdentifyCanBeIgnoredDelayedOrSwitchedOff) {
  display.IgnoreIdentifies(1);
  Deliver(PKT_IDENTIFY);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK));
  display.SetIdentifyReplyDelay(50);
  Deliver(PKT_IDENTIFY);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK));
  clock.Advance(49);
  EXPECT_THAT(OutputTypes(), IsEmpty());
  clock.Advance(1);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_IDENTIFY_REPLY));
  display.SetAnswerIdentify(false);
  Deliver(PKT_IDENTIFY);
  clock.Advance(100);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK));
}

TEST_F(SerialDisplayTest, AcknowledgesDisplayFramesByPolicy) {
  const std::vector<uint8_t> cells(42, 0xFF);
  display.SetCellsAck(CellsAckPolicy::kNone);
  Deliver(PKT_CELLS, cells);
  EXPECT_THAT(OutputTypes(), IsEmpty());

  display.SetCellsAck(CellsAckPolicy::kDropFirst, 2);
  Deliver(PKT_CELLS, cells);
  Deliver(PKT_CELLS, cells);
  EXPECT_THAT(OutputTypes(), IsEmpty());
  Deliver(PKT_CELLS, cells);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK));

  display.SetCellsAck(CellsAckPolicy::kDelay, 300);
  Deliver(PKT_CELLS, cells);
  display.SendFunctionKey(1);  // later packets are not held up by the delayed one
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_FUNCTION_KEY));
  clock.Advance(300);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK));
  EXPECT_EQ(display.cellFrames().size(), 5u);
}

TEST_F(SerialDisplayTest, NeverAcknowledgesAcknowledgementsOrBadPackets) {
  Deliver(PKT_ACK);
  std::vector<uint8_t> bad = SerialPacketBytes(PKT_FUNCTION_KEY, {1});
  bad[5] = 2;
  display.Receive(bad.data(), bad.size());
  Deliver(18, {1});
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK));
  EXPECT_EQ(display.badPacketCount(), 1u);
  EXPECT_EQ(display.packets().size(), 3u);
  EXPECT_FALSE(display.packets()[1].goodChecksum);
}

TEST_F(SerialDisplayTest, EncodesKeyPackets) {
  display.SendCharacter(0x1234);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_CHARACTER, {0x34, 0x12}));
  display.SendScanCode(0xE0);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_SCAN_CODE, {0xE0, 0x00}));
  display.SendText("ab");
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_TEXT, {2, 'a', 'b', 0}));
  display.SendBrailleKeys(2, 0xFF, 'q');
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_BRAILLE_KEYS, {2, 0xFF, 'q'}));
}

class SerialDisplayCommandsTest : public SerialDisplayTest {
 protected:
  SerialDisplayCommands::Outcome Run(const std::string& line) { return commands.Execute(line); }

  std::vector<std::string> lines;
  SerialDisplayCommands commands{display, clock,
                                 [this](const std::string& l) { lines.push_back(l); }};
};

TEST_F(SerialDisplayCommandsTest, NamesFunctionKeys) {
  const std::pair<const char*, int> kNames[] = {
      {"F1", 1},   {"dn", 14},  {"SF1", 17},  {"LF", 11},   {"LF1", 33},
      {"LLF", 43}, {"SLF", 27}, {"SLF1", 49}, {"SLDN", 62}, {"F11", -1}};
  for (const auto& [name, code] : kNames) EXPECT_EQ(FunctionKeyCode(name), code) << name;
}

TEST_F(SerialDisplayCommandsTest, SendsWhatTheCommandsSay) {
  using Outcome = SerialDisplayCommands::Outcome;
  EXPECT_EQ(Run("key SLUP"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_FUNCTION_KEY, {60}));
  EXPECT_EQ(Run("key 63"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_FUNCTION_KEY, {63}));
  EXPECT_EQ(Run("route 0x85"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_ROUTING_KEY, {0x85}));
  EXPECT_EQ(Run("braille 1 9 120"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_BRAILLE_KEYS, {1, 9, 'x'}));
  EXPECT_EQ(Run("text hello world"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_TEXT, {11, 'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r',
                                                   'l', 'd', 0}));
  EXPECT_EQ(Run("packet TYPE18 0a ff"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(18, {0x0A, 0xFF}));
  EXPECT_EQ(Run("packet identify_reply 28 02"), Outcome::kDone);
  EXPECT_EQ(Output(), SerialPacketBytes(PKT_IDENTIFY_REPLY, {40, 2}));
  EXPECT_EQ(Run("raw 01 02 7F"), Outcome::kDone);
  EXPECT_THAT(Output(), ElementsAre(1, 2, 0x7F));
  EXPECT_THAT(lines, IsEmpty());
}

TEST_F(SerialDisplayCommandsTest, ConfiguresAndAnswersQueries) {
  Run("identify 80 4 1 2");
  Run("ack drop 3");
  Run("identify?");
  Run("ack?");
  Run("cells?");
  Deliver(PKT_CELLS, {1, 2, 3});
  Run("cells?");
  Run("count? CELLS");
  Run("count? 127");
  EXPECT_THAT(lines, ElementsAre("identify 50 04 00 00 01 02", "ack drop 3", "cells none",
                                 "cells 01 02 03", "count CELLS 1", "count ACK 0"));
}

TEST_F(SerialDisplayCommandsTest, SilentSendsNothingButStillReceives) {
  Run("key F1");
  Run("silent on");
  Deliver(PKT_IDENTIFY);
  Deliver(PKT_CELLS, {1, 2, 3});
  Run("key F2");
  EXPECT_THAT(Output(), IsEmpty());
  EXPECT_EQ(display.cellFrames().size(), 1u);
  Run("silent off");
  Deliver(PKT_IDENTIFY);
  EXPECT_THAT(OutputTypes(), ElementsAre(PKT_ACK, PKT_IDENTIFY_REPLY));
  EXPECT_THAT(lines, IsEmpty());
}

TEST_F(SerialDisplayCommandsTest, ReportsBadCommands) {
  for (const char* line : {"key F99", "route 256", "raw 1FF", "raw -1", "ack sometimes", "packet",
                           "wait NOTHING", "fly"}) {
    lines.clear();
    EXPECT_EQ(Run(line), SerialDisplayCommands::Outcome::kError) << line;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("error ", 0), 0u) << lines[0];
  }
  EXPECT_THAT(Output(), IsEmpty());
  EXPECT_EQ(Run("  # a comment"), SerialDisplayCommands::Outcome::kDone);
  EXPECT_EQ(Run("quit"), SerialDisplayCommands::Outcome::kQuit);
}

TEST_F(SerialDisplayCommandsTest, SleepAndWaitFollowTheClock) {
  EXPECT_EQ(Run("sleep 20"), SerialDisplayCommands::Outcome::kBusy);
  clock.Advance(19);
  EXPECT_TRUE(commands.Busy());
  clock.Advance(1);
  EXPECT_FALSE(commands.Busy());

  EXPECT_EQ(Run("wait ACK 2 100"), SerialDisplayCommands::Outcome::kBusy);
  Deliver(PKT_ACK);
  EXPECT_TRUE(commands.Busy());
  Deliver(PKT_ACK);
  EXPECT_FALSE(commands.Busy());
  EXPECT_EQ(Run("wait ACK 2"), SerialDisplayCommands::Outcome::kDone);  // already there
  EXPECT_EQ(Run("wait CELLS 1 100"), SerialDisplayCommands::Outcome::kBusy);
  clock.Advance(100);
  EXPECT_FALSE(commands.Busy());
  EXPECT_THAT(lines, ElementsAre("wait ACK ok", "wait ACK ok", "wait CELLS timeout"));
}

}  // namespace
}  // namespace zol::sim
