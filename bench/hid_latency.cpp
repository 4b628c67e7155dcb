// HID latencies and their floors: a write reaching the display, a key reaching the host, and
// the cost of the WriteTextCells call itself.
#include <atomic>
#include <cstring>
#include <thread>

#include "hid_group.h"

namespace zol::bench {

// Floor: the same six reports written to the same pipe by a bare client.
void HidGroup::FrameFloor(std::vector<double>* floor) {
  HANDLE pipe = CreateFileA(server_.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return;
  for (int i = 0; i < bench_.n(40, 15); ++i) {
    const auto reports = Frame40Reports(Pattern(1000 + i));
    const int before = endpoint_.framesEnded;
    const int64_t t0 = QpcNow();
    for (const auto& report : reports) {
      DWORD written = 0;
      WriteFile(pipe, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    }
    if (PumpUntil([&] { return endpoint_.framesEnded > before; }, 2000))
      floor->push_back(QpcMs(endpoint_.frameEnd - t0));
    Pump(20);
  }
  CloseHandle(pipe);
}

// Floor: a bare client blocked in ReadFile on the same pipe gets the display's key report,
// pressed at the same pace as the driver's keys below.
void HidGroup::KeyFloor(std::vector<double>* floor) {
  HANDLE pipe = CreateFileA(server_.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return;
  const int keys = bench_.n(100, 30);
  std::atomic<int> got{0};
  std::atomic<int64_t> gotAt{0};
  std::thread reader([&] {
    uint8_t buffer[64];
    for (int i = 0; i < keys; ++i) {
      DWORD read = 0;
      if (!ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) break;
      gotAt = QpcNow();
      ++got;
    }
  });
  uint32_t random = 99;
  for (int i = 0; i < keys; ++i) {
    Pump(30 + NextRandom(random) % 140);
    const int before = got;
    const int64_t t0 = QpcNow();
    Press(static_cast<uint8_t>(i % 40));
    if (!PumpUntil([&] { return got > before; }, 2000)) break;
    floor->push_back(QpcMs(gotAt - t0));
  }
  CancelIoEx(pipe, nullptr);
  reader.join();
  CloseHandle(pipe);
}

namespace {

// How long a thread blocked in GetMessage takes to run after a post to it: the hop from the
// host's thread to the worker thread that every driver figure contains and no floor does.
std::vector<double> ThreadHops(int count) {
  std::atomic<DWORD> id{0};
  std::vector<double> hops;
  std::thread waiter([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    id = GetCurrentThreadId();
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
      hops.push_back(QpcMs(QpcNow() - static_cast<int64_t>(msg.lParam)));
  });
  while (id.load() == 0) Sleep(1);
  for (int i = 0; i < count; ++i) {
    PostThreadMessageA(id, WM_USER + 9, 0, static_cast<LPARAM>(QpcNow()));
    Pump(20);
  }
  PostThreadMessageA(id, WM_QUIT, 0, 0);
  waiter.join();
  return hops;
}

}  // namespace

void HidGroup::Latencies(const std::vector<double>& frameFloor,
                         const std::vector<double>& keyFloor) {
  // Host write to the last report of the frame at the display, with no frame awaiting its
  // acknowledgement.
  std::vector<double> frames;
  for (int i = 0; i < bench_.n(40, 15); ++i) {
    Pump(250);
    const std::vector<uint8_t> dots = Pattern(2000 + i);
    const int before = endpoint_.framesEnded;
    const int64_t t0 = QpcNow();
    driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
    if (PumpUntil([&] { return endpoint_.framesEnded > before; }, 2000))
      frames.push_back(QpcMs(endpoint_.frameEnd - t0));
  }
  const std::vector<double> hops = ThreadHops(bench_.n(40, 15));
  AddWriteLatencyFigure(
      bench_.report, "HID", frames, frameFloor,
      "floor: the same 6 reports written to the same pipe by a bare client; ",
      Format("; a bare post to a thread blocked in GetMessage takes %.3f ms (median) before "
             "that thread runs",
             Quantile(hops, 0.5)));

  // Display key to OnKeyEvent on the host's thread, keys alone.
  std::vector<double> keys;
  uint32_t random = 99;
  for (int i = 0; i < bench_.n(100, 30); ++i) {
    Pump(30 + NextRandom(random) % 140);  // presses fall anywhere in the poll tick
    const size_t before = bench_.host.keys.size();
    const int64_t t0 = QpcNow();
    Press(static_cast<uint8_t>(i % 40));
    if (PumpUntil([&] { return bench_.host.keys.size() > before; }, 2000))
      keys.push_back(QpcMs(bench_.host.keys[before].at - t0));
  }
  AddKeysAloneFigures(bench_.report, "HID", keys, keyFloor,
                      "floor: a bare client blocked in ReadFile on the same pipe; presses "
                      "30-170 ms apart; ",
                      -1);
}

void HidGroup::WriteCallTime() {
  // Floor: copy the 40 bytes into a new payload and post it to a thread that frees it.
  std::atomic<DWORD> consumerId{0};
  std::thread consumer([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    consumerId = GetCurrentThreadId();
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) delete[] reinterpret_cast<uint8_t*>(msg.lParam);
  });
  while (consumerId.load() == 0) Sleep(1);
  const int calls = bench_.n(5000, 1000);
  const std::vector<uint8_t> dots = Pattern(1);
  std::vector<double> floor, figure;
  for (int i = 0; i < calls; ++i) {
    const int64_t t0 = QpcNow();
    uint8_t* payload = new uint8_t[dots.size()];
    std::memcpy(payload, dots.data(), dots.size());
    PostThreadMessageA(consumerId, WM_USER + 7, dots.size(), reinterpret_cast<LPARAM>(payload));
    floor.push_back(QpcMs(QpcNow() - t0) * 1000.0);
    if (i % 50 == 49) Pump(1);
  }
  PostThreadMessageA(consumerId, WM_QUIT, 0, 0);
  consumer.join();

  for (int i = 0; i < calls; ++i) {
    const std::vector<uint8_t> pattern = Pattern(static_cast<uint32_t>(i));
    const int64_t t0 = QpcNow();
    driver_->WriteTextCells(pattern.data(), static_cast<int32_t>(pattern.size()));
    figure.push_back(QpcMs(QpcNow() - t0) * 1000.0);
    if (i % 50 == 49) Pump(1);
  }
  for (const auto& [target, q] : {std::pair{&kWriteCallMedian, 0.5}, {&kWriteCallP99, 0.99}}) {
    Measured m;
    m.floor = Quantile(floor, q);
    m.value = Quantile(figure, q);
    m.samples = calls;
    m.note = "HID 40 connected; back-to-back calls, a 1 ms pause every 50";
    bench_.report.Add(*target, m);
  }
  Pump(1500);  // let the worker drain the burst and the display acknowledge
}

}  // namespace zol::bench
