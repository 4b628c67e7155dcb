// A cooperating program scribbles on the port-sharing block between poll ticks (requests,
// returns, any word, torn writes anywhere, the section appearing and its view failing) while
// the host writes and suspends, over a serial or HID link. After every step the block may only
// have changed the way the driver is allowed to change it, nothing reaches the display while
// the port is lent out, and at the end every handle the driver opened is closed.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "connection/share_block.h"
#include "fuzz/fuzz_clock.h"
#include "fuzz/fuzz_support.h"
#include "hid/hid_reports.h"
#include "testing/device_harness.h"
#include "testing/null_key_injector.h"

namespace zol {
namespace {

using fuzz::Check;

// Made before the device side that keeps references to them.
struct Doubles {
  testing::NullKeyInjector keys;
  fuzz::CountingHost host;
};

struct Harness : Doubles, testing::DeviceHarness<fuzz::SteppingClock> {
  Harness()
      : DeviceHarness(host, keys, fuzz::SteppingClock{0xFFFF0000u}) {}  // the tick count wraps

  int mutedReturns = 0;

  // What the display side has seen so far.
  struct Traffic {
    int serialReads, serialWrites, hidReads;
    size_t hidWrites;
    bool operator==(const Traffic& o) const {
      return serialReads == o.serialReads && serialWrites == o.serialWrites &&
             hidReads == o.hidReads && hidWrites == o.hidWrites;
    }
  };
  Traffic traffic() const {
    return {serialPorts.readCount(), serialPorts.writeCount(), hidBus.reads(),
            hidBus.writes().size()};
  }
};

// One timer tick, checked: the block changes only as the driver may change it, and a tick
// that finds the port lent out and leaves it so touches neither display.
void Tick(Harness& h) {
  // A return while suspended reconnects, but the suspended serial link cannot send the
  // identify request: the handshake runs out its whole window. One per run says enough.
  if (h.shared.suspended.load() != 0 && h.core.portSharing().mappingOpen() && h.share.viewGiven &&
      h.share.Word(kShareWordOffset) >= SHARE_RETURN_BASE && !h.core.linkFlags().Hid() &&
      h.mutedReturns++ > 0) {
    return;
  }
  uint8_t before[sim::MemoryShareSection::kSize];
  std::memcpy(before, h.share.block, sizeof before);
  const int32_t word = h.share.Word(kShareWordOffset);
  const bool wasReleased = h.core.portSharing().portReleased();
  const bool examined = h.core.portSharing().mappingOpen() && h.share.viewGiven;
  // Only a serial session has a port to lend and a number to publish.
  const bool serialSession = h.core.connection().HoldsSerialPort();
  const Harness::Traffic trafficBefore = h.traffic();

  h.clock.Advance(100);
  h.core.PollTick();

  // Nothing beyond the three words is ever written.
  Check(std::memcmp(before + 12, h.share.block + 12, sizeof before - 12) == 0);
  const int32_t after = h.share.Word(kShareWordOffset);
  const bool identifyWritten = std::memcmp(before + 4, h.share.block + 4, 8) != 0;
  if (examined && word >= SHARE_RETURN_BASE) {
    // A return answers n and takes the port back.
    Check(after == word - SHARE_RETURN_BASE && !identifyWritten);
    Check(!h.core.portSharing().portReleased());
  } else if (after != word) {
    Check(examined && !wasReleased);
    if (word == SHARE_REQUEST_RELEASE && after == SHARE_RELEASED) {
      // A release: only on request, of a serial session's port, with both identify words in
      // place.
      Check(serialSession);
      Check(h.share.Word(kShareIdentify1Offset) == h.core.serial().identifyInfo1());
      Check(h.share.Word(kShareIdentify2Offset) == h.core.serial().identifyInfo2());
      Check(h.core.portSharing().portReleased());
    } else {
      // The driver holding the port publishes its number (0 without a serial session), and
      // nothing else.
      Check(after == (serialSession ? h.core.serial().comPortNumber() : 0) && !identifyWritten);
    }
  } else {
    Check(!identifyWritten);
  }
  if (wasReleased && h.core.portSharing().portReleased()) {
    Check(after == word);
    Check(h.traffic() == trafficBefore);
  }
  if (h.core.portSharing().portReleased()) Check(!h.serialPorts.portOpen());
}

}  // namespace
}  // namespace zol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zol;
  if (size > 512) return -1;  // long scripts add little and cost many ticks
  fuzz::Script script(data, size);
  Harness h;

  const uint8_t setup = script.Byte();
  h.serialDisplay.SetGeometry(40, 2, script.Byte(), script.Byte());
  if (setup % 4 == 1) h.AddHid(sim::HidDisplay::Model40(), "hid40");
  if (setup % 4 == 2) h.AddHid(sim::HidDisplay::Model80(), "hid80");
  // else 0: serial on COM3; 3: serial asked for on a port that does not exist
  h.core.Connect(setup % 4 == 3 ? "com7" : "com3");
  if (setup & 4) h.share.Create();

  bool unplugged = false;
  while (!script.done()) {
    const uint8_t op = script.Byte();
    const bool released = h.core.portSharing().portReleased();
    const Harness::Traffic trafficBefore = h.traffic();
    bool hostWrite = false;
    bool ticked = false;
    switch (op % 14) {
      case 0:
        h.share.SetWord(kShareWordOffset, SHARE_REQUEST_RELEASE);
        break;
      case 1:  // a return with a small answer, or any value of 200 and more
        h.share.SetWord(kShareWordOffset, op & 0x80 ? SHARE_RETURN_BASE + script.Byte()
                                                    : (script.Word() & 0x7FFFFFFF) | 0x100);
        break;
      case 2:
        h.share.SetWord(kShareWordOffset, script.Word());
        break;
      case 3: {  // one byte anywhere: a torn word, or the unused part
        const uint8_t at = script.Byte();
        h.share.block[at % sim::MemoryShareSection::kSize] = script.Byte();
        break;
      }
      case 4:
      case 5:
        Tick(h);
        ticked = true;
        break;
      case 6:  // each tick is checked on its own: a burst may return and release again
        for (int n = 1 + (op >> 4); n > 0; --n) Tick(h);
        ticked = true;
        break;
      case 7:  // the section appears (and stays: the driver's handle keeps it)
        h.share.Create();
        break;
      case 8:
        h.share.mapFails = (op >> 4) & 1;
        break;
      case 9:
      case 10: {  // the host writes (the driver object drops writes while suspended)
        if (h.shared.suspended.load() != 0) break;
        uint8_t dots[120];
        const uint8_t count = script.Byte() % sizeof dots;
        std::memset(dots, op, sizeof dots);
        hostWrite = true;
        if (op & 0x40)
          h.core.Clear();
        else
          h.core.WriteText(dots, count);
        break;
      }
      case 11:  // the host suspends or resumes (not while the port is lent out)
        if (h.shared.suspended.load() == 0) {
          h.shared.suspended = 1;
          h.core.Suspend(1);
        } else if (!released) {
          h.shared.suspended = 0;
          h.core.Suspend(0);
        }
        break;
      case 12:
        if (!h.hidPresent) break;
        if (unplugged)
          h.hidBus.Replug(h.hidIndex);
        else
          h.hidBus.Unplug(h.hidIndex);
        unplugged = !unplugged;
        break;
      case 13:  // the serial display stops or starts acknowledging frames
        h.serialDisplay.SetCellsAck(op & 0x20 ? sim::CellsAckPolicy::kNone
                                              : sim::CellsAckPolicy::kAll);
        break;
    }
    if (!ticked && released && h.core.portSharing().portReleased()) {
      Check(!h.serialPorts.portOpen());
      // Host writes may still reach a HID display, which the block does not lend out.
      if (!hostWrite || !h.core.linkFlags().Hid()) {
        Check(h.traffic().serialReads == trafficBefore.serialReads);
        Check(h.traffic().serialWrites == trafficBefore.serialWrites);
      }
    }
    Check(h.share.reopens == 0 && h.share.strayMaps == 0);
  }

  h.core.Shutdown();
  Check(!h.share.open);
  Check(h.share.opens == h.share.releases);
  Check(h.hidBus.openHandles() == 0);
  Check(!h.serialPorts.portOpen());
  Check(h.serialPorts.openCount() == h.serialPorts.closeCount());
  Check(h.hidBus.misuses() == 0);
  Check(h.serialDisplay.badPacketCount() == 0);
  return 0;
}
