#include <gtest/gtest.h>

#include <string>

#include "connection/share_block.h"
#include "support/connection_harness.h"
#include "trace/traced_device_side.h"

namespace zol {
namespace {

class MemorySink : public TraceSink {
 public:
  void Write(const char* text, size_t length) override { text_.append(text, length); }
  bool Has(const std::string& part) const { return text_.find(part) != std::string::npos; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// The harness's platform, traced: the wrapped core drives the same simulated displays.
class TraceTest : public ::testing::Test {
 protected:
  void Tick() {
    h.clock.Advance(100);
    traced.PollTick();
  }

  test::ConnectionHarness h;
  MemorySink sink;
  TracedDeviceSide traced{h.platform, h.shared, h.host, sink};
};

TEST_F(TraceTest, SerialSessionShowsPacketsKeysAndTimeOuts) {
  ASSERT_EQ(traced.Connect("com3"), 1);
  EXPECT_TRUE(sink.Has("connect \"com3\""));
  EXPECT_TRUE(sink.Has("serial open COM3 -> 0"));
  EXPECT_TRUE(sink.Has("serial tx [7] 01 02 24 00 03 7C AA"));
  EXPECT_TRUE(sink.Has("connected: link serial, 40 text cells, 2 status cells"));

  h.serialDisplay.SendFunctionKey(1);
  Tick();
  EXPECT_TRUE(sink.Has("01 02 10 01 03 01 42 AA"));
  EXPECT_TRUE(sink.Has("key F1 0"));
  h.serialDisplay.SendRoutingKey(42);
  for (uint16_t code : {0x14, 0xE0, 0x1F}) h.serialDisplay.SendScanCode(code);
  Tick();
  EXPECT_TRUE(sink.Has("key Routing 40 dropped: outside the 40 text cells"));

  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  const uint8_t dots[2] = {0x01, 0x02};
  traced.WriteText(dots, 2);
  EXPECT_TRUE(sink.Has("write text cells: 2"));
  EXPECT_TRUE(sink.Has("serial tx [49] 01 02 00 2A 03"));
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_TRUE(sink.Has("serial acknowledgement time-out (1 in a row)"));

  traced.Shutdown();
  EXPECT_TRUE(sink.Has("key released as the link ended: scan code 5B extended\n"));
  EXPECT_TRUE(sink.Has("key released as the link ended: scan code 1D\n"));
  EXPECT_TRUE(sink.Has("serial close"));
  EXPECT_TRUE(sink.Has("shutdown"));
}

TEST_F(TraceTest, LostHidDisplayIsReported) {
  h.AddHid(sim::HidDisplay::Model40());
  ASSERT_EQ(traced.Connect("COM3"), 1);
  EXPECT_TRUE(sink.Has("hid attributes vendor 04D8 product ABD7 version F100"));
  EXPECT_TRUE(sink.Has("connected: link HID 40-cell, 40 text cells, 0 status cells"));
  sim::HidDisplayConfig silent = sim::HidDisplay::Model40();
  silent.ack = sim::AckPolicy::None;
  h.hidDisplay.Configure(silent);
  const uint8_t dots[1] = {0xFF};
  traced.WriteText(dots, 1);
  EXPECT_TRUE(sink.Has("hid out [9] 00 FF AA 55"));
  for (int i = 0; i < 16; ++i) Tick();
  EXPECT_TRUE(sink.Has("hid acknowledgement time-out: display lost"));
  EXPECT_TRUE(sink.Has("hid display found again"));

  h.share.Create();
  h.share.SetWord(kShareWordOffset, SHARE_REQUEST_RELEASE);
  Tick();
  Tick();
  EXPECT_TRUE(sink.Has("request to release the port answered with 0"));
  traced.Suspend(1);
  EXPECT_TRUE(sink.Has("blank frame sent before closing, no acknowledgement after 500 ms"));
  EXPECT_FALSE(sink.Has("hid display lost")) << "a display let go of is not lost";
}

TEST(TraceLog, AFullBufferDropsLinesAndSaysSo) {
  sim::SimClock clock(7);
  MemorySink sink;
  TraceLog log(clock, sink);
  const std::string filler(200, 'x');
  for (int i = 0; i < 1000; ++i) log.Line("%s", filler.c_str());
  log.Flush();
  EXPECT_GT(log.droppedLines(), 0u);
  EXPECT_TRUE(sink.Has("lines dropped (buffer full)"));
  EXPECT_LE(sink.text().size(), TraceLog::kBufferSize + 100);

  const uint8_t many[300] = {};
  log.Bytes("long", many, sizeof many);
  log.Flush();
  EXPECT_TRUE(sink.Has("long [300] 00 00"));
  EXPECT_TRUE(sink.Has("..."));
}

}  // namespace
}  // namespace zol
