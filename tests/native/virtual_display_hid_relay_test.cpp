#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid_commands.h"
#include "relay_codec.h"
#include "sim/hid_display.h"
#include "sim/sim_clock.h"

namespace zol::vdisplay {
namespace {

using Bytes = std::vector<uint8_t>;
using Result = RelayReader::Result;

// Feeds bytes and collects the reports (an empty report stands for a goodbye).
std::vector<Bytes> Read(RelayReader& reader, const Bytes& bytes) {
  std::vector<Bytes> out;
  for (uint8_t b : bytes) {
    const Result result = reader.Feed(b);
    if (result == Result::kReport) out.push_back(reader.report());
    if (result == Result::kGoodbye) out.push_back({});
  }
  return out;
}

TEST(VirtualDisplayRelay, FramesCarryOneReportEach) {
  const Bytes report{0x00, 0xFE, 0x01, 0, 0, 0, 0, 0, 0};
  Bytes wire = EncodeRelayFrame(report.data(), report.size());
  EXPECT_EQ(wire.size(), 11u);
  EXPECT_EQ(wire[0], kRelayStart);
  EXPECT_EQ(wire[1], 9);
  const Bytes goodbye = RelayGoodbye();
  wire.insert(wire.end(), goodbye.begin(), goodbye.end());
  RelayReader reader;
  EXPECT_EQ(Read(reader, wire), (std::vector<Bytes>{report, {}}));
}

TEST(VirtualDisplayRelay, RefusesReportsThatDoNotFit) {
  const Bytes big(kRelayMaxReport + 1, 1);
  EXPECT_TRUE(EncodeRelayFrame(big.data(), big.size()).empty());
  EXPECT_TRUE(EncodeRelayFrame(big.data(), 0).empty());
  EXPECT_EQ(EncodeRelayFrame(big.data(), kRelayMaxReport).size(), kRelayMaxReport + 2);
}

TEST(VirtualDisplayRelay, SkipsNoiseAndTooLongLengthsAndFindsTheNextFrame) {
  RelayReader reader;
  EXPECT_EQ(Read(reader, {0x00, 0x13, kRelayStart, 0x41, 0x02, kRelayStart, 1, 0x07}),
            (std::vector<Bytes>{{0x07}}));
  // A start byte where the length belongs starts over.
  EXPECT_EQ(Read(reader, {kRelayStart, kRelayStart, 2, 0xA5, 0x5A}),
            (std::vector<Bytes>{{0xA5, 0x5A}}));
}

class VirtualDisplayHidCommands : public ::testing::Test {
 protected:
  sim::SimClock clock;
  sim::HidDisplay display{clock, sim::HidDisplay::Model40()};
  std::vector<std::string> lines;
  size_t frames = 0;
  HidDisplayCommands commands{display, clock, [this](const std::string& l) { lines.push_back(l); },
                              [this] { return frames; }};
};

TEST_F(VirtualDisplayHidCommands, KeysBecomeInputReports) {
  using Outcome = HidDisplayCommands::Outcome;
  EXPECT_EQ(commands.Execute("key SF3"), Outcome::kDone);
  EXPECT_EQ(commands.Execute("route 5"), Outcome::kDone);
  uint8_t report[16];
  ASSERT_EQ(display.PeekInput(report, sizeof report), 9u);
  EXPECT_EQ(report[1], 0xFE);
  EXPECT_EQ(report[2], 19);
  display.PopInput();
  ASSERT_EQ(display.PeekInput(report, sizeof report), 9u);
  EXPECT_EQ(report[1], 0xFD);
  EXPECT_EQ(report[2], 5);

  EXPECT_EQ(commands.Execute("text hello"), Outcome::kError);
  EXPECT_EQ(commands.Execute("braille 1 19 0"), Outcome::kError);
  EXPECT_EQ(lines.back(), "error not on the HID link: braille 1 19 0");
  EXPECT_EQ(commands.Execute("ack drop 2"), Outcome::kDone);
  EXPECT_EQ(display.config().ack, sim::AckPolicy::DropFirst);
  EXPECT_EQ(display.config().dropFirst, 2);
  EXPECT_EQ(commands.Execute("quit"), Outcome::kQuit);
}

TEST_F(VirtualDisplayHidCommands, WaitForFramesEndsWhenTheyArriveOrOnTimeOut) {
  EXPECT_EQ(commands.Execute("wait CELLS 1 100"), HidDisplayCommands::Outcome::kBusy);
  EXPECT_TRUE(commands.Busy());
  clock.Advance(100);
  EXPECT_FALSE(commands.Busy());
  EXPECT_EQ(lines.back(), "wait CELLS timeout");
  EXPECT_EQ(commands.Execute("wait CELLS 2 100"), HidDisplayCommands::Outcome::kBusy);
  frames = 2;
  EXPECT_FALSE(commands.Busy());
  EXPECT_EQ(lines.back(), "wait CELLS ok");
  EXPECT_EQ(commands.Execute("wait ACK"), HidDisplayCommands::Outcome::kError);
}

}  // namespace
}  // namespace zol::vdisplay
