// Host operations in any order against the device side over simulated displays that misbehave:
// connects and disconnects, writes of any count (none, huge, negative) and pattern, clears,
// suspends and resumes, ticks and late ticks, shutdowns, and on the device side lost, late and
// missing acknowledgements, unplugging, a silent identify, odd report lengths, failing writes
// and garbage. The host's lifecycle calls (Open, Close, SetSuspended, SetHost) go through the
// driver's own HostSession over a simulated platform, also from inside the host's callbacks
// (simulated_session.h checks what they may not do). After every step at most one display frame
// is in flight and nothing is left open after a shutdown; at the end, once the displays behave
// again, the host closes and opens anew and a last write shows on the display within a few
// ticks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "connection/dot_map.h"
#include "fuzz/fuzz_clock.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/simulated_session.h"
#include "hid/hid_reports.h"
#include "testing/device_harness.h"
#include "testing/null_key_injector.h"

namespace zol {
namespace {

using fuzz::Check;

// Work a single input may spend on slow paths (connects, silent handshakes, ticks), so that
// every run stays short.
constexpr int kConnectBudget = 8;
constexpr int kTickBudget = 200;
constexpr int kSettleTicks = 12;  // longer than the HID acknowledgement time-out
constexpr int kShowTicks = 20;    // enough to drain a full ring

// The device side on simulated displays, and the host boundary over it.
struct Harness : testing::DeviceHarness<fuzz::SteppingClock> {
  // The device side only keeps the reference to the boundary until that is made.
  explicit Harness(fuzz::Script& script)
      : DeviceHarness(boundary, keys, fuzz::SteppingClock{0xFFFF8000u}),  // the tick count wraps
        boundary(core, shared, script) {
    boundary.SetHost(0);
  }

  bool unplugged = false;
  testing::NullKeyInjector keys;
  fuzz::SimulatedSession boundary;
  int connectBudget = kConnectBudget;
  int tickBudget = kTickBudget;

  size_t FramesSeen() const { return hidDisplay.frameCount() + serialDisplay.cellFrames().size(); }
  bool SilentDisplays() const {
    return (hidPresent && !hidDisplay.config().replies) || serialDisplay.identifyReply().empty();
  }
  // A connect as the host's Open makes it; a successful one ends a suspension.
  void Connect(const char* name) {
    connectBudget -= SilentDisplays() ? 4 : 1;
    if (core.Connect(name) == 1) shared.suspended = 0;
  }
  void Resume() {
    connectBudget -= SilentDisplays() ? 4 : 1;
    shared.suspended = 0;
    core.Suspend(0);
  }
};

// The invariants after every step.
void CheckState(Harness& h) {
  const FrameAck& ack = h.core.frameAck();
  Check(ack.ackPending == 0 || ack.ackPending == 1);
  const HidLink& hid = h.core.hid();
  Check(hid.queueRead() >= 0 && hid.queueRead() < HidLink::kRingRows);
  Check(hid.queueWrite() >= 0 && hid.queueWrite() < HidLink::kRingRows);
  Check(h.hidBus.openHandles() <= 2);
  Check(h.hidBus.misuses() == 0);
  Check(h.serialDisplay.badPacketCount() == 0);
  Check(h.serialPorts.openCount() - h.serialPorts.closeCount() ==
        (h.serialPorts.portOpen() ? 1 : 0));
  // A closed session holds nothing; an open one has its worker thread.
  const SessionState::Phase phase = h.boundary.session().phase();
  if (phase == SessionState::kClosed) Check(h.boundary.held() == 0 && !h.boundary.workerRunning());
  if (phase == SessionState::kOpen) Check(h.boundary.workerRunning());
}

// The host's lifecycle calls, made on the host thread.
void SessionCall(Harness& h, uint8_t op) {
  fuzz::SimulatedSession& sim = h.boundary;
  switch (op % 5) {
    case 0:
      if (h.connectBudget <= 0) break;
      h.connectBudget -= h.SilentDisplays() ? 4 : 1;
      sim.OnHostThread([&] { return sim.Open(); });
      break;
    case 1:
      sim.OnHostThread([&] {
        sim.session().Close();
        return 0;
      });
      if (sim.session().phase() == SessionState::kClosed) Check(!sim.windowExists());
      break;
    case 2:
      if ((op & 0x80) == 0 && h.connectBudget <= 0) break;  // a resume reconnects
      if ((op & 0x80) == 0) h.connectBudget -= h.SilentDisplays() ? 4 : 1;
      sim.OnHostThread([&] { return sim.session().SetSuspended(op >> 7); });
      break;
    case 3:
      sim.OnHostThread([&] {
        sim.SetHost((op >> 4) % 3);
        return 0;
      });
      break;
    case 4:
      if (op & 0x80) {
        sim.RunQueue();
      } else {
        sim.OnHostThread([&] {
          sim.Pump();
          return 0;
        });
      }
      break;
  }
}

// One timer tick. A frame goes out only when none awaits its acknowledgement (an
// acknowledgement taken in the tick sends the next at once), or when the one in flight was
// given up on (HID: more than 1000 ms, or a device that failed a read or a
// write, then a reconnect and a resend).
void Tick(Harness& h) {
  if (h.tickBudget-- <= 0) return;
  const FrameAck before = h.core.frameAck();
  const size_t frames = h.FramesSeen();
  const int acks = h.hidDisplay.acksTaken();
  const int closes = h.hidPresent ? h.hidBus.stats(h.hidIndex).closes : 0;
  h.clock.Advance(100);
  const bool late = h.clock.Now() - before.lastFrameTick > SerialWatch::kAckTimeoutMs;
  h.core.PollTick();
  const size_t sent = h.FramesSeen() - frames;
  Check(sent <= 1);
  if (sent == 1 && before.ackPending != 0 && h.core.linkFlags().Hid()) {
    // An acknowledgement reached the link in this tick, or the frame in flight was given up
    // on.
    Check(late || h.hidDisplay.acksTaken() != acks || h.hidBus.stats(h.hidIndex).closes != closes);
  }
  CheckState(h);
}

void Write(Harness& h, fuzz::Script& script, bool all) {
  static uint8_t dots[1024];
  const uint8_t kind = script.Byte();
  int32_t count;
  switch (kind % 6) {
    case 0:
      count = 0;
      break;
    case 1:
      count = -static_cast<int32_t>(script.Byte());
      break;
    case 2:
      count = static_cast<int32_t>(sizeof dots);
      break;
    default:
      count = script.Byte();
      break;
  }
  const uint8_t seed = script.Byte();
  for (int32_t i = 0; i < count; ++i) dots[i] = static_cast<uint8_t>(seed + i * (kind | 1));
  // The driver object drops writes while suspended and never passes a count below 1.
  if (h.shared.suspended.load() != 0 && !(kind & 0x80)) return;
  const size_t frames = h.FramesSeen();
  const int32_t pending = h.core.frameAck().ackPending;
  if (all)
    h.core.WriteAll(dots, count);
  else
    h.core.WriteText(dots, count);
  const size_t sent = h.FramesSeen() - frames;
  Check(sent <= 1);
  if (pending != 0) Check(sent == 0);
  if (sent == 1) Check(h.core.frameAck().ackPending == 1);
  CheckState(h);
}

void ConfigureHid(Harness& h, uint8_t how, uint8_t parameter) {
  sim::HidDisplayConfig config = h.hidDisplay.config();
  switch (how % 6) {
    case 0:
      config.ack = sim::AckPolicy::All;
      config.ackDelayMs = 0;
      break;
    case 1:
      config.ack = sim::AckPolicy::None;
      break;
    case 2:
      config.ack = sim::AckPolicy::DropFirst;
      config.dropFirst = parameter % 4;
      break;
    case 3:  // late acknowledgements, some beyond the time-out
      config.ack = sim::AckPolicy::All;
      config.ackDelayMs = parameter * 10u;
      break;
    case 4:
      config.replies = !config.replies;
      break;
    case 5:
      config.replyTextCells = parameter;
      config.replyStatusCells = parameter >> 5;
      config.replyDelayMs = (parameter & 3) * 60u;
      break;
  }
  h.hidDisplay.Configure(config);
}

void ConfigureSerial(Harness& h, uint8_t how, uint8_t parameter) {
  switch (how % 8) {
    case 0:
      h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
      break;
    case 1:
      h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
      break;
    case 2:
      h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kDropFirst, parameter % 5);
      break;
    case 3:
      h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kDelay, parameter * 4u);
      break;
    case 4:
      h.serialDisplay.IgnoreIdentifies(parameter % 3);
      break;
    case 5:  // the identify reply: short, empty or of odd geometry
      if (parameter & 1)
        h.serialDisplay.SetIdentifyReply(std::vector<uint8_t>(parameter % 7, parameter));
      else
        h.serialDisplay.SetGeometry(parameter, parameter >> 4, parameter, ~parameter);
      break;
    case 6:
      h.serialPorts.SetWriteResult(parameter & 1 ? 31 : 0);
      break;
    case 7:
      h.serialPorts.SetOpenResult(parameter & 1 ? error_code::kAccessDenied : 0);
      break;
  }
}

void Garbage(Harness& h, fuzz::Script& script, uint8_t op) {
  uint8_t bytes[64];
  const size_t length = script.Byte() % sizeof bytes + 1;
  script.Bytes(bytes, length);
  if (op & 0x20) {
    h.serialDisplay.SendRaw(std::vector<uint8_t>(bytes, bytes + length), (op >> 6) * 150u);
  } else if (h.hidPresent) {
    // Reports of any length, up to the longest a device may announce.
    const size_t reportLength = op & 0x40 ? bytes[0] + 1u : hid::kReportBytes;
    uint8_t report[256] = {};
    std::memcpy(report, bytes, std::min(length, sizeof report));
    h.hidDisplay.QueueRawReport(report, reportLength, (op >> 7) * 300u);
  }
}

// Everything well-behaved again: plugged in, answering and acknowledging at once.
void Heal(Harness& h) {
  if (h.hidPresent) {
    sim::HidDisplayConfig config = h.hidDisplay.config();
    const bool model80 = config.frameCells == 82;
    config = model80 ? sim::HidDisplay::Model80() : sim::HidDisplay::Model40();
    h.hidDisplay.Configure(config);
    h.hidDisplay.ClearInput();
    h.hidBus.at(h.hidIndex).lengths = {static_cast<uint16_t>(hid::kReportBytes),
                                       static_cast<uint16_t>(hid::kReportBytes)};
    h.hidBus.at(h.hidIndex).failReportLengths = false;
    if (h.unplugged) h.hidBus.Replug(h.hidIndex);
    h.unplugged = false;
  }
  // What the serial display sent while nobody read is lost with the port's reopening (the
  // simulation would keep it, and a backlog of key packets can outlast the identify window).
  h.clock.Advance(1000);  // bytes sent late (at most 450 ms) are due by now
  uint8_t backlog[128];
  while (h.serialDisplay.Transmit(backlog, sizeof backlog) != 0) {
  }
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
  h.serialDisplay.IgnoreIdentifies(0);
  h.serialDisplay.SetAnswerIdentify(true);
  h.serialDisplay.SetIdentifyReplyDelay(0);
  h.serialDisplay.SetGeometry(40, 2);
  h.serialPorts.SetWriteResult(0);
  h.serialPorts.SetOpenResult(0);
}

}  // namespace
}  // namespace zol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zol;
  if (size > 256) return -1;  // long scripts add little and cost many ticks
  fuzz::Script script(data, size);
  Harness h(script);

  const uint8_t setup = script.Byte();
  if (setup % 3 == 0) h.AddHid(sim::HidDisplay::Model40(), "hid40");
  if (setup % 3 == 1) h.AddHid(sim::HidDisplay::Model80(), "hid80");
  // else serial only
  h.serialDisplay.SetGeometry(40, 2, 7, 9);
  h.clock.set_step(setup & 0x80 ? 15 : 16);  // the tick count's steps on Windows
  if (setup & 0x40) h.Connect("com3");

  while (!script.done()) {
    const uint8_t op = script.Byte();
    switch (op % 17) {
      case 0:
        if (h.connectBudget <= 0) break;
        h.Connect(op & 0x10 ? "COM9" : "com3");
        break;
      case 1:  // the host closes: disconnect, then the worker thread ends
        h.core.Disconnect();
        if (op & 0x10) {
          h.core.Shutdown();
          Check(h.hidBus.openHandles() == 0);
          Check(!h.serialPorts.portOpen());
          Check(!h.share.open);
        }
        break;
      case 2:
      case 3:
        Write(h, script, false);
        break;
      case 4:
        Write(h, script, true);
        break;
      case 5:
        if (h.shared.suspended.load() == 0) h.core.Clear();
        break;
      case 6:
        if (h.shared.suspended.load() == 0) {
          h.shared.suspended = 1;
          h.core.Suspend(1);
        } else if (h.connectBudget > 0) {
          h.Resume();
        }
        break;
      case 7:
        for (int n = 1 + (op >> 4); n > 0; --n) Tick(h);
        break;
      case 8:
        Tick(h);
        break;
      case 9:
        if (!h.hidPresent) break;
        if (h.unplugged)
          h.hidBus.Replug(h.hidIndex);
        else
          h.hidBus.Unplug(h.hidIndex);
        h.unplugged = !h.unplugged;
        break;
      case 10:
        ConfigureHid(h, op >> 4, script.Byte());
        break;
      case 11:
        if (!h.hidPresent) break;
        h.hidBus.at(h.hidIndex).lengths = {static_cast<uint16_t>(script.Byte() % 66),
                                           static_cast<uint16_t>(script.Byte() % 66)};
        h.hidBus.at(h.hidIndex).failReportLengths = op & 0x10;
        break;
      case 12:
        ConfigureSerial(h, op >> 4, script.Byte());
        break;
      case 13:
        Garbage(h, script, op);
        break;
      case 14:  // the worker thread was held up: the next tick comes late
        h.clock.Advance(script.Byte() * 20u);
        break;
      case 15:  // the display's keys; a Ctrl scan code calls OnDeviceData on the worker thread
        if (op & 0x10)
          h.hidDisplay.PressRoutingKey(script.Byte());
        else if (op & 0x20)
          h.serialDisplay.SendScanCode(op & 0x40 ? 0x14 : script.Byte());
        else
          h.serialDisplay.SendFunctionKey(script.Byte());
        break;
      case 16:
        SessionCall(h, script.Byte());
        break;
    }
    CheckState(h);
  }

  // The displays behave again and the host opens the driver anew: a last write must show.
  Heal(h);
  h.connectBudget = 1;
  h.tickBudget = kSettleTicks + kShowTicks;
  h.boundary.OnHostThread([&] {
    h.boundary.session().Close();
    return 0;
  });
  Check(h.boundary.held() == 0 && !h.boundary.windowExists());
  h.boundary.OnHostThread([&] {
    h.boundary.SetHost(0);
    return 0;
  });
  Check(h.boundary.OnHostThread([&] { return h.boundary.Open(); }) == 1);
  Check(h.boundary.session().phase() == SessionState::kOpen && h.boundary.windowExists());
  Check(h.shared.suspended.load() == 0);
  Check(h.core.linkKind() != LinkKind::None);
  for (int i = 0; i < kSettleTicks; ++i) Tick(h);

  uint8_t last[80];
  const uint8_t seed = static_cast<uint8_t>(size * 31 + setup);
  for (size_t i = 0; i < sizeof last; ++i) last[i] = static_cast<uint8_t>(seed ^ (i * 37));
  h.core.WriteText(last, sizeof last);
  for (int i = 0; i < kShowTicks; ++i) Tick(h);

  Check(h.core.frameAck().ackPending == 0);
  const uint8_t* cells = h.core.cellOutput().cells();
  const int32_t first = std::clamp(h.shared.statusCellCount.load(), 0, CellOutput::kCellCount);
  const int32_t stored = std::min<int32_t>(sizeof last, CellOutput::kCellCount - first);
  for (int32_t i = 0; i < stored; ++i) Check(cells[first + i] == MapDotsToDevice(last[i]));
  std::vector<uint8_t> shown;
  if (h.core.linkFlags().Hid()) {
    shown = h.hidDisplay.lastFrame();
    Check(!shown.empty());
    // A frame sent from the ring carries the 40 or 80 cells a row keeps; its last two cells
    // come from the row, not from the cell buffer.
    shown.resize(shown.size() - 2);
  } else {
    Check(!h.serialDisplay.cellFrames().empty());
    shown = h.serialDisplay.cellFrames().back();
  }
  Check(std::equal(shown.begin(), shown.end(), cells));

  h.core.Shutdown();
  Check(h.hidBus.openHandles() == 0);
  Check(!h.serialPorts.portOpen());
  return 0;
}
