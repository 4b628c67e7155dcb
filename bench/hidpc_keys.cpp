// Sixty key reports at once, with the host idle and with the host writing five frames a second:
// all must reach the host, in order, and the display must not be reopened meanwhile. More than
// the 32 reports a handle keeps unless the driver asks for more.
#include <cstdio>

#include "hid_fixture.h"
#include "hidpc_group.h"
#include "stream_figures.h"

namespace zol::bench {

namespace {

// A path of the Bluetooth form, which does not carry the ids as the USB form does.
constexpr char kBluetoothIds[] = "{00001124-0000-1000-8000-00805f9b34fb}_vid&000204d8_pid&abd7";
constexpr int kKeys = 60;

}  // namespace

void HidPcGroup::KeyBursts() {
  HidPcSetup setup(bench_.clock, kForeign, kBluetoothIds);
  if (!setup.pc.Start()) return;
  if (!Open(setup).result.opened) {
    std::fprintf(stderr, "zol_bench: Open failed on the Bluetooth-style path\n");
    return;
  }
  // A session that follows a Close may begin with a reconnect (the Open row's note counts
  // them); the bursts come after it.
  Pump(1500);
  int reopened = 0;
  uint32_t written = 14000;
  for (bool hostWrites : {false, true}) {
    Pump(300);
    const int opens = setup.pc.display().connectionsAccepted();
    const size_t mark = bench_.host.keys.size();
    StreamRecord record;
    for (int i = 0; i < kKeys; ++i) {
      record.pressed.push_back({QpcNs(QpcNow()), i % 40});
      setup.display.PressRoutingKey(static_cast<uint8_t>(i % 40));
    }
    setup.pc.display().InputWaiting();
    const int64_t start = QpcNow();
    int64_t nextWrite = start;
    const int64_t step = static_cast<int64_t>(QpcFrequency() / 5);
    // Two seconds at least, for a reconnect to show; the host writes every 200 ms meanwhile.
    PumpUntil(
        [&] {
          if (hostWrites && QpcNow() >= nextWrite) {
            const std::vector<uint8_t> dots = Pattern(++written);
            driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
            nextWrite += step;
          }
          return bench_.host.keys.size() >= mark + kKeys && QpcMs(QpcNow() - start) >= 2000;
        },
        8000);
    const bool lastShown =
        !hostWrites ||
        PumpUntil([&] { return DisplayShows(setup.display, Pattern(written)); }, 3000);
    record.received = RoutingKeysSince(bench_.host.keys, mark);
    const int newOpens = setup.pc.display().connectionsAccepted() - opens;
    reopened += newOpens;

    const StreamResult result = AnalyseStream(record);
    Measured f;
    f.value = static_cast<double>(result.keyDelaysMs.size());
    f.holds = result.keysLost == 0 && result.keysInOrder;
    f.samples = kKeys;
    f.note = std::string(result.keysInOrder ? "in order" : "out of order") +
             (result.keyDelaysMs.empty()
                  ? std::string()
                  : Format("; the first after %.1f ms, the last after %.1f ms",
                           result.keyDelaysMs.front(), result.keyDelaysMs.back())) +
             Format("; %.0f new opens of the display", newOpens) +
             (hostWrites ? std::string("; the last write shown: ") + (lastShown ? "yes" : "no")
                         : std::string());
    bench_.report.Add(kForeignBurstKeys, f, hostWrites ? "host writing 5/s" : "host idle");
  }
  driver_->Close();

  Measured r;
  r.value = reopened;
  r.note = "opens of the display's path during both bursts and the 2 s after each";
  bench_.report.Add(kForeignBurstReconnects, r);
}

}  // namespace zol::bench
