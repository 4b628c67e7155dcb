// Drives the HID link with a script taken from the input: random input reports (kinds, lengths),
// polls, handshakes, frames of both models, drains and drops of the ring, and searches among
// devices announcing odd report lengths. Checks the link against a small model of the ring and
// counts the key events the translator posts against the key reports handed to it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "core/shared_state.h"
#include "fuzz/fuzz_clock.h"
#include "fuzz/fuzz_support.h"
#include "hid/hid_link.h"
#include "hid/hid_reports.h"
#include "sim/hid_display.h"
#include "sim/hid_sim_bus.h"
#include "testing/link_stack.h"
#include "testing/null_key_injector.h"

namespace zol {
namespace {

using fuzz::Check;

struct Frame {
  uint8_t cells[82];
  int count;  // cells a ring row keeps: 40 or 80
};

// A frame is written whole, unless a write fails: the device then counts as lost, and the rest
// of the frame is not written.
void CheckFrameWrites(const HidLink& link, size_t written, size_t reports) {
  Check(link.DeviceLost() ? written <= reports : written == reports);
}

}  // namespace

}  // namespace zol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zol;
  fuzz::Script script(data, size);
  fuzz::SteppingClock clock(0xFFFFF000u);  // the tick count wraps during the run
  sim::SimHidBus bus(clock);
  sim::HidDisplayConfig silent = sim::HidDisplay::Model80();
  silent.replies = false;
  silent.ack = sim::AckPolicy::None;
  sim::HidDisplay display(clock, silent);
  // The host counts the key events the translator posts.
  testing::LinkStack<HidLink, fuzz::CountingHost, testing::NullKeyInjector> stack(bus, clock);
  auto& [shared, ack, host, injector, input, link] = stack;

  const size_t index = bus.AddDisplay("display", hid::kProduct80, &display);
  link.FindHidDisplay();
  std::deque<Frame> model;  // frames waiting in the ring, oldest first
  int keyReports = 0;       // routing and function-key reports handed to the link
  int handshakes = 0, searches = 0;

  while (!script.done()) {
    switch (script.Byte() % 9) {
      case 0: {  // the display sends a report of any length
        uint8_t report[300] = {};
        const size_t length = 1 + script.Byte() % sizeof report;
        script.Bytes(report, std::min<size_t>(length, 12));
        display.QueueRawReport(report, length);
        break;
      }
      case 1: {  // a poll: one report, decoded
        uint8_t payload[8];
        if (link.ReadHidReport(payload) != 9) break;
        const int ackBefore = ack.ackPending;
        link.HandleHidInput(payload);
        if (payload[0] == 0xFD || payload[0] == 0xFE) ++keyReports;
        Check(ack.ackPending == (payload[0] == 0xFF ? 0 : ackBefore));
        break;
      }
      case 2:
      case 3: {  // a frame of either model
        Frame frame{};
        frame.count = script.Byte() % 2 ? 80 : 40;
        script.Bytes(frame.cells, 82);
        const size_t writesBefore = bus.writes().size();
        // Waiting frames go first: a frame queues while one is in flight or others wait.
        const int ackBefore = ack.ackPending;
        const bool queued = ackBefore != 0 || !model.empty();
        if (frame.count == 40)
          link.SendHidFrame40(frame.cells);
        else
          link.SendHidFrame80(frame.cells);
        Check(ack.ackPending == (queued ? ackBefore : 1));
        if (queued) {
          if (model.size() == 7) model.pop_back();
          model.push_back(frame);
          Check(bus.writes().size() == writesBefore);
        } else if (link.DeviceOpen()) {
          CheckFrameWrites(link, bus.writes().size() - writesBefore, frame.count == 40 ? 6 : 11);
        }
        break;
      }
      case 4: {  // drain one waiting frame
        const bool hid40 = script.Byte() % 2;
        const size_t writesBefore = bus.writes().size();
        const bool sends = ack.ackPending == 0 && !model.empty();
        link.SendNextQueuedFrame(hid40 ? kHid40 : kHid80);
        if (!sends) {
          Check(bus.writes().size() == writesBefore);
          break;
        }
        const Frame oldest = model.front();
        model.pop_front();
        if (!link.DeviceOpen()) break;
        const int cells = hid40 ? 40 : 80;
        const int count = std::min(cells, oldest.count);
        // The report that carries cell 0 to 4, and the first cells of the next one.
        CheckFrameWrites(link, bus.writes().size() - writesBefore, hid40 ? 6 : 11);
        if (bus.writes().size() == writesBefore) break;
        const std::vector<uint8_t>& first = bus.writes()[writesBefore].report;
        if (first.size() < hid::kReportBytes) break;  // the device takes shorter reports
        for (int i = 0; i < 5 && i < count; ++i) Check(first[4 + i] == oldest.cells[i]);
        break;
      }
      case 5:  // the acknowledgement time-out: waiting frames dropped
        link.DropQueue();
        model.clear();
        ack.ackPending = 0;
        break;
      case 6: {                       // a handshake against whatever the display has queued
        if (++handshakes > 1) break;  // a silent one costs 201 reads; one says enough
        const int result = link.HidHandshake();
        Check(result == 0 || result == 1);
        if (result == 1) Check(shared.textCellCount >= 0 && shared.textCellCount <= 255);
        break;
      }
      case 7: {  // search again, the display announcing other report lengths
        if (++searches > 8) break;
        bus.at(index).lengths = {static_cast<uint16_t>(script.Byte() * 3),
                                 static_cast<uint16_t>(script.Byte() * 3)};
        bus.at(index).failReportLengths = script.Byte() % 4 == 0;
        link.FindHidDisplay();
        break;
      }
      case 8:
        clock.Advance(script.Byte() * 16u);
        break;
    }
    Check(link.queueRead() >= 0 && link.queueRead() < 8);
    Check(link.queueWrite() >= 0 && link.queueWrite() < 8);
    Check(static_cast<size_t>((link.queueWrite() - link.queueRead()) & 7) == model.size());
    // Each key report yields at most one event; nothing else (a handshake) yields any.
    Check(host.events <= keyReports);
  }
  for (const auto& write : bus.writes()) Check(write.report.size() <= 256);
  Check(bus.openHandles() <= 2);
  return 0;
}
