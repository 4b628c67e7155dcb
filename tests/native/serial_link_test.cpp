#include "serial/serial_link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input_translator.h"
#include "sim/serial_display.h"
#include "sim/serial_display_port.h"
#include "sim/sim_clock.h"
#include "testing/link_stack.h"

namespace zol {
namespace {

using testing::Down;
using ::testing::ElementsAre;
using testing::Scan;
using ::testing::SizeIs;
using testing::Up;

std::vector<uint8_t> Frame(uint8_t fill) {
  return std::vector<uint8_t>(42, fill);
}

class SerialLinkTest : public ::testing::Test,
                       protected testing::SimSerialSide,
                       protected testing::LinkStack<SerialLink> {
 protected:
  SerialLinkTest() : LinkStack(ports, clock) { display.SetGeometry(80, 4); }

  void Open() {
    ASSERT_EQ(link.OpenSerialPort("COM3"), 1);
    display.ClearRecords();
  }
  void SendFrame(uint8_t fill) {
    const std::vector<uint8_t> frame = Frame(fill);
    link.SendSerialPacket(PKT_CELLS, 42, frame.data());
  }
  // Types of the good packets the display received, in order.
  std::vector<uint8_t> ReceivedTypes() const {
    std::vector<uint8_t> types;
    for (const auto& p : display.packets()) types.push_back(p.type);
    return types;
  }
  // The handshake on a link of its own with the display of side: its result, or -1 when the
  // port does not open.
  int HandshakeWith(testing::SimSerialSide& side) {
    SerialLink own(side.ports, side.clock, shared, ack, input);
    return own.OpenSerialPort("COM3") == 1 ? own.SerialHandshake("COM3") : -1;
  }
  std::vector<std::string> EventNames() const {
    std::vector<std::string> names;
    for (const auto& e : host.events) names.push_back(e.name);
    return names;
  }
};

// Opening the port.

TEST_F(SerialLinkTest, OpensAt38400EightDataBitsNoParityOneStopBit) {
  EXPECT_EQ(link.OpenSerialPort("COM3"), 1);
  EXPECT_TRUE(link.PortOpen());
  EXPECT_EQ(ports.lineSettings().baud, 38400u);
  EXPECT_EQ(ports.lineSettings().dataBits, 8);
  EXPECT_EQ(ports.lineSettings().parity, 0);
  EXPECT_EQ(ports.lineSettings().stopBits, 0);
}

TEST_F(SerialLinkTest, OpenFailsForAMissingPortAndWhenAlreadyOpen) {
  EXPECT_EQ(link.OpenSerialPort("COM4"), 0);
  EXPECT_FALSE(link.PortOpen());
  EXPECT_EQ(link.OpenSerialPort("COM3"), 1);
  EXPECT_EQ(link.OpenSerialPort("COM3"), 0);
  EXPECT_EQ(ports.openCount(), 1);
  link.ClosePort();
  EXPECT_FALSE(link.PortOpen());
  EXPECT_FALSE(ports.portOpen());
  EXPECT_EQ(link.OpenSerialPort("COM3"), 1);
}

// The identify handshake.

TEST_F(SerialLinkTest, HandshakeLearnsTheGeometryAndConfirms) {
  display.SetGeometry(80, 4, 0x12, 0x34);
  Open();
  EXPECT_EQ(link.SerialHandshake("COM3"), 1);
  EXPECT_EQ(shared.textCellCount.load(), 80);
  EXPECT_EQ(shared.statusCellCount.load(), 4);
  EXPECT_EQ(link.identifyInfo1(), 0x12);
  EXPECT_EQ(link.identifyInfo2(), 0x34);
  EXPECT_EQ(link.comPortNumber(), 3);
  // The request, the acknowledgement of the reply, the confirmation.
  EXPECT_THAT(ReceivedTypes(), ElementsAre(PKT_IDENTIFY, PKT_ACK, PKT_IDENTIFY_CONFIRM));
  EXPECT_THAT(display.packets().back().data, ElementsAre(0));
}

TEST_F(SerialLinkTest, FortyCellReplyAlwaysMeansTwoStatusCells) {
  display.SetGeometry(40, 9);
  Open();
  EXPECT_EQ(link.SerialHandshake("COM3"), 1);
  EXPECT_EQ(shared.textCellCount.load(), 40);
  EXPECT_EQ(shared.statusCellCount.load(), 2);
}

TEST_F(SerialLinkTest, ASilentDisplaysWindowLasts2000MsWithARequestEvery500MsOnAnyClock) {
  // Sleeps that last a whole 16 ms timer period must not stretch the window.
  for (uint32_t granularity : {1u, 16u}) {
    SCOPED_TRACE(granularity);
    testing::SimSerialSide own(sim::SimClock(7, granularity));
    auto& [c, d, f] = own;
    d.SetAnswerIdentify(false);
    EXPECT_EQ(HandshakeWith(own), 0);
    EXPECT_GE(c.Now() - 7, 2000u);
    EXPECT_LE(c.Now() - 7, 2000u + granularity);
    const auto& p = d.packets();
    ASSERT_EQ(d.CountPackets(PKT_IDENTIFY), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
      EXPECT_GE(p[i].tick - 7, 500 * i) << i;
      EXPECT_LE(p[i].tick - 7, 500 * i + granularity) << i;
    }
  }
}

TEST_F(SerialLinkTest, HandshakeAnsweredOnlyAfterRetries) {
  display.IgnoreIdentifies(3);
  Open();
  EXPECT_EQ(link.SerialHandshake("COM3"), 1);
  EXPECT_EQ(display.CountPackets(PKT_IDENTIFY), 4u);
  EXPECT_THAT(ReceivedTypes(), ElementsAre(PKT_IDENTIFY, PKT_IDENTIFY, PKT_IDENTIFY, PKT_IDENTIFY,
                                           PKT_ACK, PKT_IDENTIFY_CONFIRM));
}

TEST_F(SerialLinkTest, LateReplyEndsTheHandshakeWithAckThenConfirm) {
  // Replies at any time within the 2000 ms window, after the first request or a repeat.
  for (uint32_t delay : {1u, 900u, 1400u, 1990u}) {
    SCOPED_TRACE(delay);
    testing::SimSerialSide own(sim::SimClock(5));
    own.display.SetIdentifyReplyDelay(delay);
    EXPECT_EQ(HandshakeWith(own), 1);
    const auto& p = own.display.packets();
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p[p.size() - 2].type, PKT_ACK);
    EXPECT_EQ(p.back().type, PKT_IDENTIFY_CONFIRM);
    EXPECT_EQ(p.back().tick, p[p.size() - 2].tick);
  }
}

TEST_F(SerialLinkTest, ReplyTooLateForTheLastStepFails) {
  display.SetIdentifyReplyDelay(2001);
  Open();
  EXPECT_EQ(link.SerialHandshake("COM3"), 0);
  EXPECT_EQ(display.CountPackets(PKT_IDENTIFY_CONFIRM), 0u);
}

TEST_F(SerialLinkTest, HandshakeTakesThePortNumberFromTheName) {
  sim::SimSerialPortFactory anyName(display);
  SerialLink l(anyName, clock, shared, ack, input);
  const std::pair<const char*, int32_t> cases[] = {
      {"COM12", 12}, {"COMX", 0}, {"\\\\.\\PIPE\\DISPLAY", 0}};
  for (const auto& [name, number] : cases) {
    ASSERT_EQ(l.OpenSerialPort(name), 1);
    EXPECT_EQ(l.SerialHandshake(name), 1);
    EXPECT_EQ(l.comPortNumber(), number) << name;
    l.ClosePort();
  }
}

TEST_F(SerialLinkTest, HandshakeWithoutPortFails) {
  EXPECT_EQ(link.SerialHandshake("COM3"), 0);
  EXPECT_EQ(ports.readCount(), 0);
}

TEST_F(SerialLinkTest, KeysArrivingDuringTheHandshakeAreHandled) {
  Open();
  display.SendFunctionKey(1);
  EXPECT_EQ(link.SerialHandshake("COM3"), 1);
  EXPECT_THAT(EventNames(), ElementsAre("F1"));
}

// Sending.

TEST_F(SerialLinkTest, DisplayFrameAwaitsItsAcknowledgement) {
  display.SetCellsAck(sim::CellsAckPolicy::kNone);
  Open();
  clock.Advance(250);
  SendFrame(0x11);
  EXPECT_EQ(ack.ackPending, 1);
  EXPECT_EQ(ack.lastFrameTick, clock.Now());
  ASSERT_THAT(display.cellFrames(), SizeIs(1));
  EXPECT_EQ(display.cellFrames()[0], Frame(0x11));
  EXPECT_THAT(display.wire(), SizeIs(49));
}

TEST_F(SerialLinkTest, OnlyTheNewestHeldBackFrameFollowsTheAcknowledgement) {
  display.SetCellsAck(sim::CellsAckPolicy::kNone);
  Open();
  SendFrame(1);
  SendFrame(2);
  SendFrame(3);
  EXPECT_THAT(display.cellFrames(), SizeIs(1));
  EXPECT_TRUE(link.deferredPending());

  link.SendDeferredFrame();  // still awaiting the acknowledgement: nothing moves
  EXPECT_THAT(display.cellFrames(), SizeIs(1));
  EXPECT_TRUE(link.deferredPending());

  display.SendPacket(PKT_ACK, {});
  link.ReadAndDispatch(80);
  EXPECT_EQ(ack.ackPending, 0);
  link.SendDeferredFrame();
  EXPECT_FALSE(link.deferredPending());
  ASSERT_THAT(display.cellFrames(), SizeIs(2));
  EXPECT_EQ(display.cellFrames()[1], Frame(3));
  EXPECT_EQ(ack.ackPending, 1);
}

TEST_F(SerialLinkTest, OtherPacketsGoOutWhileAFrameAwaitsAcknowledgement) {
  display.SetCellsAck(sim::CellsAckPolicy::kNone);
  Open();
  SendFrame(1);
  clock.Advance(300);
  link.SendSerialPacket(PKT_IDENTIFY, 0, nullptr);
  EXPECT_EQ(ack.ackPending, 1);
  EXPECT_EQ(ack.lastFrameTick, clock.Now());  // any packet written restarts the time-out
  EXPECT_THAT(ReceivedTypes(), ElementsAre(PKT_CELLS, PKT_IDENTIFY));
}

TEST_F(SerialLinkTest, AcknowledgementClearsPendingAndRetryCountWithoutReply) {
  display.SetCellsAck(sim::CellsAckPolicy::kNone);
  Open();
  SendFrame(1);
  link.setSerialRetryCount(3);
  display.ClearRecords();
  display.SendPacket(PKT_ACK, {});
  link.ReadAndDispatch(80);
  EXPECT_EQ(ack.ackPending, 0);
  EXPECT_EQ(link.serialRetryCount(), 0);
  EXPECT_THAT(display.wire(), SizeIs(0));
}

TEST_F(SerialLinkTest, AfterFourTimeOutsNothingIsWrittenButKeysStillArrive) {
  Open();
  link.setSerialRetryCount(4);
  SendFrame(1);
  link.SendSerialPacket(PKT_IDENTIFY, 0, nullptr);
  display.SendFunctionKey(2);
  link.ReadAndDispatch(80);
  EXPECT_THAT(display.wire(), SizeIs(0));  // not even the acknowledgement
  EXPECT_EQ(ack.ackPending, 0);
  EXPECT_THAT(EventNames(), ElementsAre("F2"));

  link.setSerialRetryCount(3);
  SendFrame(1);
  EXPECT_THAT(display.cellFrames(), SizeIs(1));
}

TEST_F(SerialLinkTest, NothingIsSentWhileSuspendedOrWithoutPort) {
  SendFrame(1);
  EXPECT_EQ(ack.ackPending, 0);
  Open();
  shared.suspended = 1;
  SendFrame(1);
  link.SendSerialPacket(PKT_ACK, 0, nullptr);
  EXPECT_THAT(display.wire(), SizeIs(0));
  EXPECT_EQ(ack.ackPending, 0);
  EXPECT_FALSE(link.deferredPending());
}

TEST_F(SerialLinkTest, RefusesMoreThan119DataBytes) {
  display.SetCellsAck(sim::CellsAckPolicy::kNone);
  Open();
  const std::vector<uint8_t> data(255, 0x5A);
  link.SendSerialPacket(PKT_CELLS, 120, data.data());
  link.SendSerialPacket(PKT_TEXT, 255, data.data());
  EXPECT_THAT(display.wire(), SizeIs(0));
  EXPECT_EQ(ack.ackPending, 0);

  link.SendSerialPacket(PKT_CELLS, 119, data.data());
  EXPECT_THAT(display.wire(), SizeIs(126));
  link.SendSerialPacket(PKT_CELLS, 120, data.data());  // nor is it held back
  EXPECT_FALSE(link.deferredPending());
}

TEST_F(SerialLinkTest, FailedWriteStillCountsTheFrameAsSent) {
  Open();
  ports.SetWriteResult(1460);
  clock.Advance(40);
  SendFrame(1);
  EXPECT_EQ(ack.ackPending, 1);
  EXPECT_EQ(ack.lastFrameTick, clock.Now());
  EXPECT_EQ(ports.lastWriteTimeoutMs(), 1000u);
}

// Receiving and dispatching.

TEST_F(SerialLinkTest, EveryKeyPacketIsAcknowledgedOnceBeforeItsHandlerRuns) {
  shared.textCellCount = 80;
  shared.statusCellCount = 4;
  Open();
  std::vector<size_t> bytesAtEvents;  // what the display had received by each key event
  host.onKeyEvent = [&] { bytesAtEvents.push_back(display.wire().size()); };
  display.SendFunctionKey(1);
  display.SendRoutingKey(5);
  display.SendText("abc");
  display.SendBrailleKeys(1, 0x09, 'x');
  link.ReadAndDispatch(80);
  ASSERT_THAT(host.events, SizeIs(4));
  EXPECT_EQ(host.events[0].name, "F1");
  EXPECT_EQ(host.events[1].name, "Routing");
  EXPECT_EQ(host.events[1].value, 5);
  EXPECT_EQ(host.events[2].name, "qwerty:abc");
  EXPECT_EQ(host.events[3].name, "KBD14");
  EXPECT_THAT(bytesAtEvents, ElementsAre(7u, 14u, 21u, 28u)) << "acknowledgement first";
  EXPECT_EQ(display.CountPackets(PKT_ACK), 4u);
  EXPECT_THAT(display.packets(), SizeIs(4));
}

TEST_F(SerialLinkTest, SixteenBitCodesArriveLowByteFirst) {
  Open();
  display.SendCharacter(0x0041);
  display.SendScanCode(0x001C);
  link.ReadAndDispatch(80);
  EXPECT_THAT(injector.keystrokes,
              ElementsAre(Down(0x10), Down(0x41), Up(0x41), Up(0x10), Scan(0x1E, 8)));
}

TEST_F(SerialLinkTest, UnknownTypesAreAcknowledgedAndOtherwiseIgnored) {
  Open();
  display.SendPacket(18, {1, 2, 3});
  display.SendPacket(PKT_CELLS, {});
  link.ReadAndDispatch(80);
  EXPECT_EQ(display.CountPackets(PKT_ACK), 2u);
  EXPECT_THAT(host.events, SizeIs(0));
  EXPECT_THAT(injector.keystrokes, SizeIs(0));
}

TEST_F(SerialLinkTest, BadChecksumIsNeitherAcknowledgedNorDispatched) {
  Open();
  std::vector<uint8_t> bad = sim::SerialPacketBytes(PKT_FUNCTION_KEY, {3});
  bad[6] ^= 0x80;
  display.SendRaw(bad);
  link.ReadAndDispatch(80);
  EXPECT_THAT(display.wire(), SizeIs(0));
  EXPECT_THAT(host.events, SizeIs(0));

  display.SendFunctionKey(4);
  link.ReadAndDispatch(80);
  EXPECT_THAT(EventNames(), ElementsAre("F4"));
  EXPECT_EQ(display.CountPackets(PKT_ACK), 1u);
}

TEST_F(SerialLinkTest, DoubledStartByteIsNotAPacketStart) {
  Open();
  std::vector<uint8_t> stream = {0x01};
  const std::vector<uint8_t> key = sim::SerialPacketBytes(PKT_FUNCTION_KEY, {5});
  stream.insert(stream.end(), key.begin(), key.end());
  display.SendRaw(stream);
  display.SendFunctionKey(6);
  link.ReadAndDispatch(80);
  EXPECT_THAT(EventNames(), ElementsAre("F6"));
}

TEST_F(SerialLinkTest, TextIsBoundedByItsPacket) {
  Open();
  // Fill the receive area with letters first, then send texts without a terminating zero.
  display.SendPacket(18, std::vector<uint8_t>(255, 'Z'));
  display.SendPacket(PKT_TEXT, {200, 'a', 'b', 'c'});
  display.SendPacket(PKT_TEXT, {0});
  display.SendPacket(PKT_TEXT, {});
  link.ReadAndDispatch(400);
  link.ReadAndDispatch(400);
  link.ReadAndDispatch(400);
  EXPECT_THAT(EventNames(), ElementsAre("qwerty:abc", "qwerty:", "qwerty:"));
}

class SerialLinkPiecesTest : public SerialLinkTest,
                             public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SerialLinkPiecesTest, SameResultWhateverTheReadSize) {
  shared.textCellCount = 80;
  Open();
  display.SendFunctionKey(1);
  display.SendRaw({0x01, 0x02, 0x55});  // cut short; the next start byte becomes its length
  display.SendFunctionKey(2);
  display.SendRoutingKey(9);
  display.SendFunctionKey(3);
  for (int i = 0; i < 60 && display.BytesDue() > 0; ++i) link.ReadAndDispatch(GetParam());
  EXPECT_EQ(display.BytesDue(), 0u);
  EXPECT_THAT(EventNames(), ElementsAre("F1", "Routing", "F3"));
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, SerialLinkPiecesTest, ::testing::Values(1u, 5u, 80u, 500u));

TEST_F(SerialLinkTest, ReadingWithoutPortOrBytesDoesNothing) {
  link.ReadAndDispatch(80);
  Open();
  link.ReadAndDispatch(0);
  link.ReadAndDispatch(80);
  EXPECT_THAT(display.wire(), SizeIs(0));
  EXPECT_EQ(ports.readCount(), 1);
}

}  // namespace
}  // namespace zol
