// Serial latencies and their floors, and the check of which clock the performance counter
// follows: a write reaching the display, and a key reaching the host.
#include <atomic>
#include <cstdio>
#include <thread>

#include "connection/dot_map.h"
#include "serial/serial_codec.h"
#include "serial_group.h"

namespace zol::bench {

HANDLE OpenBarePort(const std::string& com) {
  const std::string device = "\\\\.\\" + com;
  HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.BaudRate = 38400;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(port, &dcb);
  return port;
}

// Floor: the same PKT_CELLS packet written to the same pty by a bare program. Its packets pair
// one to one with the CELLS packets the display logs, each a fraction of a millisecond later
// on the clock the performance counter follows, and far off on the other.
bool SerialGroup::FrameFloorAndClock(std::vector<double>* floor) {
  HANDLE port = OpenBarePort(sim_.com());
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "zol_bench: cannot open %s\n", sim_.com().c_str());
    return false;
  }
  const size_t mark = sim_.Mark();
  std::vector<int64_t> starts;
  uint8_t cells[42] = {};
  for (int i = 0; i < bench_.n(30, 10); ++i) {
    const std::vector<uint8_t> dots = Pattern(3000 + i);
    for (size_t c = 0; c < dots.size(); ++c) cells[2 + c] = MapDotsToDevice(dots[c]);
    uint8_t packet[64];
    const size_t length = BuildSerialPacket(PKT_CELLS, 42, cells, packet, sizeof packet);
    DWORD written = 0;
    starts.push_back(QpcNs(QpcNow()));
    WriteFile(port, packet, static_cast<DWORD>(length), &written, nullptr);
    Pump(60);
  }
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);  // the display's acknowledgements
  CloseHandle(port);
  Pump(100);

  std::vector<const testing::DisplayLine*> seen;
  for (size_t i = mark; i < sim_.Lines().size(); ++i)
    if (sim_.Lines()[i].text.rfind("rx CELLS", 0) == 0) seen.push_back(&sim_.Lines()[i]);
  for (bool raw : {true, false}) {
    bool fits = seen.size() >= starts.size() && !starts.empty();
    for (size_t i = 0; fits && i < starts.size(); ++i) {
      const int64_t delta = (raw ? seen[i]->raw : seen[i]->mono) - starts[i];
      fits = delta >= 0 && delta < 50'000'000;
    }
    if (!fits) continue;
    sim_.UseClock(raw);
    for (size_t i = 0; i < starts.size(); ++i)
      floor->push_back(static_cast<double>(sim_.At(*seen[i]) - starts[i]) / 1e6);
    std::printf("  the performance counter follows %s\n",
                raw ? "CLOCK_MONOTONIC_RAW" : "CLOCK_MONOTONIC");
    return true;
  }
  std::fprintf(stderr,
               "zol_bench: the performance counter matched neither of the display's clocks; "
               "no serial figures\n");
  return false;
}

// Floor: a bare reader holds the port, blocked in ReadFile for one whole key packet (8 bytes),
// while the display sends the same keys at the same pace as for the driver.
void SerialGroup::KeyFloor(std::vector<double>* floor) {
  HANDLE port = OpenBarePort(sim_.com());
  if (port == INVALID_HANDLE_VALUE) return;
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 1000;  // only so that the reader can be stopped
  SetCommTimeouts(port, &timeouts);
  std::atomic<bool> stop{false};
  std::vector<int64_t> arrivals;  // the reader's until it ended
  std::thread reader([&] {
    uint8_t packet[8];
    while (!stop.load()) {
      DWORD got = 0;
      if (!ReadFile(port, packet, sizeof packet, &got, nullptr)) break;
      if (got == sizeof packet) arrivals.push_back(QpcNs(QpcNow()));
    }
  });
  const size_t mark = sim_.Mark();
  uint32_t random = 99;
  for (int i = 0; i < bench_.n(100, 30); ++i) {
    Pump(30 + NextRandom(random) % 140);
    sim_.Send(PressCommand(i));
  }
  Pump(300);
  stop = true;
  reader.join();
  CloseHandle(port);
  const std::vector<StreamRecord::Key> sent = KeysSentSince(mark);
  for (size_t i = 0; i < sent.size() && i < arrivals.size(); ++i)
    floor->push_back(static_cast<double>(arrivals[i] - sent[i].at) / 1e6);
}

void SerialGroup::WriteLatency(const std::vector<double>& floor) {
  const size_t mark = sim_.Mark();
  std::vector<int64_t> starts;
  for (int i = 0; i < bench_.n(30, 10); ++i) {
    Pump(300);
    const std::vector<uint8_t> dots = Pattern(4000 + i);
    starts.push_back(QpcNs(QpcNow()));
    driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
  }
  Pump(300);
  const std::vector<StreamRecord::Frame> frames = FramesSince(mark);
  std::vector<double> figure;
  for (size_t i = 0, next = 0; i < starts.size(); ++i) {
    while (next < frames.size() && frames[next].index != 4000 + static_cast<int64_t>(i)) ++next;
    if (next == frames.size()) break;
    figure.push_back(static_cast<double>(frames[next].at - starts[i]) / 1e6);
  }
  AddWriteLatencyFigure(bench_.report, "serial", figure, floor,
                        "floor: the same packet written to the same pty by a bare program; "
                        "writes 300 ms apart; ");
}

void SerialGroup::KeysAlone(const std::vector<double>& floor) {
  const size_t mark = sim_.Mark();
  const size_t keyMark = bench_.host.keys.size();
  const int keys = bench_.n(100, 30);
  uint32_t random = 99;
  for (int i = 0; i < keys; ++i) {
    Pump(30 + NextRandom(random) % 140);
    sim_.Send(PressCommand(i));
  }
  PumpUntil([&] { return bench_.host.keys.size() >= keyMark + keys; }, 3000);
  Pump(100);
  StreamRecord record;
  record.pressed = KeysSentSince(mark);
  record.received = RoutingKeysSince(bench_.host.keys, keyMark);
  const StreamResult result = AnalyseStream(record);
  AddKeysAloneFigures(bench_.report, "serial", result.keyDelaysMs, floor,
                      "from the display writing the key packet to the host's call; floor: a bare "
                      "reader holding the port, blocked in ReadFile for the packet; presses "
                      "30-170 ms apart; ",
                      result.keysLost);
}

}  // namespace zol::bench
