#include "serial/serial_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "serial/com_port_number.h"
#include "sim/serial_display.h"

namespace zol {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(SerialPacket, MatchesTheKnownPackets) {
  EXPECT_THAT(sim::SerialPacketBytes(PKT_ACK, {}),
              ElementsAre(0x01, 0x02, 0x7F, 0x00, 0x03, 0xD1, 0xAA));
  EXPECT_THAT(sim::SerialPacketBytes(PKT_IDENTIFY, {}),
              ElementsAre(0x01, 0x02, 0x24, 0x00, 0x03, 0x7C, 0xAA));
  EXPECT_THAT(sim::SerialPacketBytes(PKT_IDENTIFY_CONFIRM, {0}),
              ElementsAre(0x01, 0x02, 0x26, 0x01, 0x03, 0x00, 0x79, 0xAA));
}

TEST(SerialPacket, ChecksumSumWrapsAt16Bits) {
  // 2 + 0 + 255 + 3 + 255 * 255 = 65285; then 0xFF05 ^ 0xAA55 = 0x5550.
  const std::vector<uint8_t> data(255, 0xFF);
  EXPECT_EQ(SerialChecksum(PKT_CELLS, 255, data.data()), 0x5550);
  // 2 + 255 + 255 + 3 + 255 * 255 = 65540 wraps to 4; 4 ^ 0xAA55 = 0xAA51.
  EXPECT_EQ(SerialChecksum(0xFF, 255, data.data()), 0xAA51);
}

TEST(SerialPacket, RefusesABufferTooSmall) {
  uint8_t out[8];
  const uint8_t data[2] = {1, 2};
  EXPECT_EQ(BuildSerialPacket(PKT_CHARACTER, 2, data, out, sizeof out), 0u);
  EXPECT_EQ(BuildSerialPacket(PKT_CHARACTER, 1, data, out, sizeof out), 8u);
}

// Feeds every byte and returns one letter per completed packet: G good, B bad checksum.
std::string Feed(SerialReceiver& receiver, const std::vector<uint8_t>& bytes) {
  std::string results;
  for (uint8_t b : bytes) {
    switch (receiver.Feed(b)) {
      case SerialReceiver::Result::kGoodPacket:
        results += 'G';
        break;
      case SerialReceiver::Result::kBadChecksum:
        results += 'B';
        break;
      case SerialReceiver::Result::kPending:
        break;
    }
  }
  return results;
}

TEST(SerialReceiver, ZeroLengthGoesStraightToTheChecksum) {
  SerialReceiver receiver;
  EXPECT_EQ(Feed(receiver, {0x01, 0x02, 0x7F, 0x00}), "");
  receiver.Feed(0x03);
  EXPECT_EQ(receiver.state(), 6);
  EXPECT_EQ(Feed(receiver, {0xD1, 0xAA}), "G");
  EXPECT_EQ(receiver.type(), PKT_ACK);
}

TEST(SerialReceiver, ReportsABadChecksumAndRecovers) {
  SerialReceiver receiver;
  std::vector<uint8_t> bad = sim::SerialPacketBytes(PKT_FUNCTION_KEY, {1});
  bad.back() ^= 0x01;
  std::vector<uint8_t> stream = bad;
  const std::vector<uint8_t> good = sim::SerialPacketBytes(PKT_FUNCTION_KEY, {2});
  stream.insert(stream.end(), good.begin(), good.end());
  EXPECT_EQ(Feed(receiver, stream), "BG");
  EXPECT_EQ(receiver.data()[0], 2);
}

TEST(SerialReceiver, FramingErrorsDropThePacketAndTheOffendingByte) {
  const std::vector<uint8_t> good = sim::SerialPacketBytes(PKT_FUNCTION_KEY, {7});
  // A second start byte is itself dropped, so the 02 after it is ignored in state 0.
  std::vector<uint8_t> doubledStart = {0x01};
  doubledStart.insert(doubledStart.end(), good.begin(), good.end());
  // Anything but 03 after the length byte.
  std::vector<uint8_t> badDataMark = good;
  badDataMark[4] = 0x01;
  // Noise before a packet.
  std::vector<uint8_t> noise = {0x00, 0x02, 0x03, 0xFF, 0xAA};
  noise.insert(noise.end(), good.begin(), good.end());

  for (const auto& stream : {doubledStart, badDataMark}) {
    SerialReceiver receiver;
    EXPECT_EQ(Feed(receiver, stream), "");
    EXPECT_EQ(Feed(receiver, good), "G") << "the next good packet is received";
  }
  SerialReceiver receiver;
  EXPECT_EQ(Feed(receiver, noise), "G");
}

TEST(SerialReceiver, TakesTheLongestPacketALengthByteAllows) {
  std::vector<uint8_t> data(255);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  SerialReceiver receiver;
  EXPECT_EQ(Feed(receiver, sim::SerialPacketBytes(0x55, data)), "G");
  EXPECT_EQ(receiver.length(), 255);
  EXPECT_THAT(std::vector<uint8_t>(receiver.data(), receiver.data() + 255), ElementsAreArray(data));
}

TEST(ComPortNumber, ReadsTheNumberAfterCom) {
  const struct {
    const char* name;
    int32_t number;
  } kCases[] = {{"COM12", 12},
                {"COM3", 3},
                {"\\\\.\\COM7", 7},
                {"COM 4", 4},
                {"COM-2", -2},
                {"COM+9X1", 9},
                {"COMX", 0},
                {"COM", 0},
                {"com5", 0},
                {"LPT1", 0},
                {"", 0},
                {nullptr, 0},
                {"COM99999999999", INT32_MAX},
                {"COM-99999999999", INT32_MIN}};
  for (const auto& c : kCases)
    EXPECT_EQ(ComPortNumber(c.name), c.number) << (c.name != nullptr ? c.name : "(null)");
}

}  // namespace
}  // namespace zol
