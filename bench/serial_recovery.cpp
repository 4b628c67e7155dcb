// Open on the serial link, with the display answering and silent, and the display coming back
// by itself after it was away for 3 s.
#include <string>

#include "serial_group.h"

namespace zol::bench {

// The driver's own Open with no HID display and no serial port: its 1000 ms settle and the HID
// search, the part of every Open that comes before the serial port. The serial Open rows are
// measured against it.
double SerialGroup::OpenWithNothingToFind() {
  const OpenResult open = TimedOpen(bench_, "COM146");
  if (open.opened) driver_->Close();
  Measured f;
  f.value = open.wallMs;
  f.note = Format("Open returned %.0f; no HID device, no port behind the name", open.opened);
  bench_.report.Add(kOpenNothing, f);
  return open.wallMs;
}

bool SerialGroup::OpenAnswering(double nothingMs) {
  const OpenResult open = TimedOpen(bench_, sim_.com().c_str());
  AddOpenCpuFigure(bench_, open, "serial", true);
  Measured f;
  f.floor = nothingMs;
  f.value = open.wallMs;
  f.holds = open.opened != 0;
  f.note = Format("Open returned %.0f; floor: Open with no display at all", open.opened);
  bench_.report.Add(kSerialOpen, f);
  return open.opened != 0;
}

void SerialGroup::SilentOpen(double nothingMs) {
  sim_.Send("silent on");
  Pump(100);
  const size_t mark = sim_.Mark();
  const int64_t t0 = QpcNs(QpcNow());
  const OpenResult open = TimedOpen(bench_, sim_.com().c_str());
  const int64_t t1 = QpcNs(QpcNow());
  if (open.opened) driver_->Close();
  Pump(200);
  sim_.Send("silent off");

  std::vector<int64_t> requests;
  const std::vector<testing::DisplayLine>& lines = sim_.Lines();
  for (size_t i = mark; i < lines.size(); ++i)
    if (lines[i].text == "rx IDENTIFY" && sim_.At(lines[i]) >= t0 && sim_.At(lines[i]) <= t1)
      requests.push_back(sim_.At(lines[i]));
  std::string spacing;
  bool evenlySpaced = requests.size() == 4;
  for (size_t i = 1; i < requests.size(); ++i) {
    const double ms = static_cast<double>(requests[i] - requests[i - 1]) / 1e6;
    spacing += Format(i == 1 ? "%.0f" : ", %.0f", ms);
    evenlySpaced = evenlySpaced && ms >= 400 && ms <= 600;
  }

  Measured f;
  f.floor = nothingMs;
  f.value = open.wallMs;
  f.holds = !open.opened && evenlySpaced;
  f.note = Format("Open returned %.0f; the display saw %.0f identify requests", open.opened,
                  static_cast<double>(requests.size())) +
           (spacing.empty() ? "" : ", " + spacing + " ms apart") +
           "; floor: Open with no display at all";
  bench_.report.Add(kSerialSilentOpen, f);
}

// The host writes every 300 ms throughout: 2 s with the display, 3 s without it, then on
// while it is back. Nothing else is called on the driver.
void SerialGroup::LossAndReturn(bool portVanishes) {
  constexpr double kBeforeMs = 2000, kAwayMs = 3000, kWriteEveryMs = 300;
  const double afterMs = bench_.n(10000, 6000);
  const size_t mark = sim_.Mark();
  uint32_t index = portVanishes ? 400000 : 300000;
  int accepted[3] = {}, made[3] = {};
  int phase = 0;  // with the display, without, back
  int64_t backAt = 0;
  bool returned = true;
  const int64_t start = QpcNow();
  double nextWriteMs = 0;
  for (;;) {
    const double t = QpcMs(QpcNow() - start);
    if (phase == 0 && t >= kBeforeMs) {
      phase = 1;
      if (portVanishes) {
        sim_.Quit(5000);
      } else {
        sim_.Send("silent on");
      }
    } else if (phase == 1 && t >= kBeforeMs + kAwayMs) {
      phase = 2;
      if (portVanishes) {
        returned = sim_.Restart(5000);
      } else {
        sim_.Send("silent off");
      }
      backAt = QpcNow();
    } else if (phase == 2 && t >= kBeforeMs + kAwayMs + afterMs) {
      break;
    }
    if (t >= nextWriteMs) {
      const std::vector<uint8_t> dots = Pattern(++index);
      accepted[phase] += driver_->WriteTextCells(dots.data(), 40) ? 1 : 0;
      ++made[phase];
      nextWriteMs += kWriteEveryMs;
    }
    Pump(5);
  }
  Pump(1000);

  const std::vector<StreamRecord::Frame> frames = FramesSince(mark);
  double firstMs = -1;
  for (const StreamRecord::Frame& frame : frames)
    if (frame.at >= QpcNs(backAt)) {
      firstMs = static_cast<double>(frame.at - QpcNs(backAt)) / 1e6;
      break;
    }
  const bool lastIsLast = !frames.empty() && frames.back().index == index;

  Measured f;
  f.value = firstMs;
  f.holds = returned && firstMs >= 0 && lastIsLast;
  f.note =
      Format("host writing every 300 ms; writes accepted with the display %.0f of %.0f, ",
             accepted[0], made[0]) +
      Format("away %.0f of %.0f, ", accepted[1], made[1]) +
      Format("back %.0f of %.0f; ", accepted[2], made[2]) +
      (firstMs < 0 ? Format("no frame in the %.0f s after its return; ", afterMs / 1000) : "") +
      "last frame = last write: " + (lastIsLast ? "yes" : "no") +
      (returned ? "" : "; the display program did not start again");
  bench_.report.Add(kSerialBack, f, portVanishes ? "port vanished" : "port stayed, display silent");
}

}  // namespace zol::bench
