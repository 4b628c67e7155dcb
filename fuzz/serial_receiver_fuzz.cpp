// Random byte streams into the serial receiver and its dispatch, interleaved with sends under
// the sending rules. The input is a little program of operations (see RunOperation). Whatever
// the stream, the link must write only well-formed packets, keep at most one display frame in
// flight and never read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_clock.h"
#include "serial/serial_link.h"
#include "sim/serial_display.h"
#include "sim/serial_display_port.h"
#include "testing/link_stack.h"

namespace {

using namespace zol;

struct SimulatedSide {
  fuzz::SteppingClock clock{0xFFFFF000u};  // close to the wrap of the tick count
  sim::SerialDisplay display{clock};
  sim::SimSerialPortFactory ports{display};
};

struct Harness : SimulatedSide, testing::LinkStack<SerialLink> {
  uint8_t pattern[255];

  Harness() : LinkStack(ports, clock) {
    for (size_t i = 0; i < sizeof pattern; ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 1);
  }
};

// Runs one operation starting at data[pos]; returns the position after it.
size_t RunOperation(Harness& h, const uint8_t* data, size_t size, size_t pos) {
  const uint8_t op = data[pos++];
  const uint8_t arg = static_cast<uint8_t>(op >> 3);
  auto next = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };

  switch (op & 7) {
    case 0: {  // the display sends a chunk, read in pieces of 1 to 32 bytes
      size_t n = next();
      if (n > size - pos) n = size - pos;
      h.display.SendRaw(std::vector<uint8_t>(data + pos, data + pos + n));
      pos += n;
      for (int i = 0; i < 600 && h.display.BytesDue() > 0; ++i) h.link.ReadAndDispatch(arg + 1u);
      break;
    }
    case 1: {  // bytes straight into the receiver
      size_t n = arg + 1u;
      if (n > size - pos) n = size - pos;
      for (size_t i = 0; i < n; ++i) h.link.HandleSerialByte(data[pos + i]);
      pos += n;
      break;
    }
    case 2: {  // a display frame
      uint8_t cells[42];
      for (uint8_t& c : cells) c = static_cast<uint8_t>(arg * 9 + 3);
      h.link.SendSerialPacket(PKT_CELLS, sizeof cells, cells);
      break;
    }
    case 3: {  // any packet, any length (above 119 is refused)
      const uint8_t type = next();
      const uint8_t length = next();
      h.link.SendSerialPacket(type, length, h.pattern);
      break;
    }
    case 4:
      h.link.SendDeferredFrame();
      break;
    case 5:
      h.link.setSerialRetryCount(arg & 7);
      break;
    case 6:
      h.shared.suspended = arg & 1;
      break;
    case 7:  // time passes; the poll tick's acknowledgement time-out
      h.clock.Advance(arg * 50u);
      if (h.ack.ackPending != 0 && h.clock.Now() - h.ack.lastFrameTick > 400) {
        h.ack.ackPending = 0;
        h.link.setSerialRetryCount(static_cast<uint8_t>(h.link.serialRetryCount() + 1));
      }
      break;
  }
  return pos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness h;
  if (h.link.OpenSerialPort("COM1") != 1) __builtin_trap();
  size_t pos = 0;
  while (pos < size) {
    pos = RunOperation(h, data, size, pos);
    // The display's receiver sees every byte the link wrote: all of it must be good packets.
    if (h.display.badPacketCount() != 0) __builtin_trap();
    if (h.ack.ackPending < 0 || h.ack.ackPending > 1) __builtin_trap();
  }
  // Every byte written belongs to a complete packet of at most 126 bytes.
  size_t packetBytes = 0;
  for (const auto& packet : h.display.packets()) {
    if (packet.data.size() > kSerialMaxSentData) __builtin_trap();
    packetBytes += packet.data.size() + kSerialPacketOverhead;
  }
  if (packetBytes != h.display.wire().size()) __builtin_trap();
  return 0;
}
