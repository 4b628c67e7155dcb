// The rows both links share: latencies of writes and keys against their floors, and the figures
// of a host writing while the display presses keys, worked out the same way for both links from
// what was recorded: when each write was made, when each frame reached the
// display and which write it carried, when each key left the display and when the host got
// it. All times are nanoseconds on one clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "bench_support.h"

namespace zol::bench {

struct StreamRecord {
  struct Write {
    int64_t at = 0;     // the call began
    int64_t index = 0;  // its pattern
  };
  struct Frame {
    int64_t at = 0;      // its last byte reached the display
    int64_t index = -1;  // the pattern it carried, -1 for none
  };
  struct Key {
    int64_t at = 0;
    int32_t value = 0;  // the routing value the host is to see
  };
  std::vector<Write> writes;
  int64_t lastCallEnd = 0;  // the last write's call returned
  std::vector<Frame> frames;
  std::vector<Key> pressed;   // left the display
  std::vector<Key> received;  // OnKeyEvent of the routing keys
};

struct StreamResult {
  std::vector<double> keyDelaysMs;  // of the keys received, in the order pressed
  int keysLost = 0;
  bool keysInOrder = true;
  // Per write: until the display had it or a later one; writes never followed by one count
  // in neverShown instead.
  std::vector<double> newestShownMs;
  int neverShown = 0;
  double longestFrameGapMs = 0;  // from the first write to the last call's end
  double lastShownMs = -1;       // the last write reached the display after its call; -1 never
};

StreamResult AnalyseStream(const StreamRecord& record);

// The host's routing-key events from index from on, as received keys.
std::vector<StreamRecord::Key> RoutingKeysSince(const std::vector<KeyEvent>& keys, size_t from);

// The row of a write reaching the display (medians of figure and floor, in ms); how begins
// the note, tail ends it.
void AddWriteLatencyFigure(Report& report, const std::string& link,
                           const std::vector<double>& figure, const std::vector<double>& floor,
                           const std::string& how, const std::string& tail = "");
// The rows of keys alone reaching the host (p50 and p99 of the delays, in ms); keysLost is -1
// where the link does not count them.
void AddKeysAloneFigures(Report& report, const std::string& link, const std::vector<double>& keys,
                         const std::vector<double>& floor, const std::string& how, int keysLost);

// The rows of the host writing 50 times a second on link ("HID", "serial"): key p99 and the
// newest write shown p99. how says how the run was made.
void AddWriteStreamFigures(Report& report, const std::string& link, const StreamResult& result,
                           const std::string& how);

struct BackToBackRun {
  StreamResult result;
  int writes = 0;
  int refused = 0;  // calls that returned 0
  int accepted = 0;
  double seconds = 0;  // of writing
  bool lastCallRefused = false;
  // CPU over the writing, in % of a core: the driver's worker thread (-1 when unknown) and the
  // whole process (the host's loop included).
  double workerCpu = -1;
  double processCpu = 0;
  // Of the machine's processor time, in %, taken by its hypervisor from the first write until
  // the display caught up (StealWatch): on average and over its worst half second.
  double stolenCpu = -1;
  double stolenPeak = -1;
  // Stops watch and keeps what it saw.
  void KeepSteal(StealWatch& watch) {
    watch.Stop();
    stolenCpu = watch.averagePercent();
    stolenPeak = watch.peakPercent();
  }
};
// The rows of the host writing back to back, over all runs.
void AddBackToBackFigures(Report& report, const std::string& link,
                          const std::vector<BackToBackRun>& runs, const std::string& how);

// The row of a burst of keys sent at once (what: "60 key reports, HID"): all delivered in
// order, and when the last arrived.
void AddBurstFigure(Report& report, const std::string& what, const StreamResult& result,
                    size_t sent);

}  // namespace zol::bench
