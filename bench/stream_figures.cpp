#include "stream_figures.h"

#include <algorithm>

namespace zol::bench {

namespace {

double Ms(int64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

// Pairs each key pressed with the first key received with its value from the point reached so
// far; a key found only further on means keys came out of order.
void MatchKeys(const StreamRecord& record, StreamResult* result) {
  size_t next = 0;
  for (const StreamRecord::Key& key : record.pressed) {
    size_t found = next;
    while (found < record.received.size() && record.received[found].value != key.value) ++found;
    if (found == record.received.size()) {
      ++result->keysLost;
      continue;
    }
    if (found != next) result->keysInOrder = false;
    result->keyDelaysMs.push_back(Ms(record.received[found].at - key.at));
    next = found + 1;
  }
}

void MatchFrames(const StreamRecord& record, StreamResult* result) {
  const auto& frames = record.frames;
  // The first frame at or after a write that carries it or a later one. Writes come in order
  // of time and index, so the answer never moves back: one pass over the frames serves all.
  size_t firstAfter = 0, shown = 0;
  for (const StreamRecord::Write& write : record.writes) {
    while (firstAfter < frames.size() && frames[firstAfter].at < write.at) ++firstAfter;
    shown = std::max(shown, firstAfter);
    while (shown < frames.size() && frames[shown].index < write.index) ++shown;
    if (shown == frames.size()) {
      ++result->neverShown;
    } else {
      result->newestShownMs.push_back(Ms(frames[shown].at - write.at));
    }
  }

  if (record.writes.empty()) return;
  const int64_t start = record.writes.front().at;
  const int64_t end = record.lastCallEnd;
  int64_t last = start;
  for (const StreamRecord::Frame& frame : frames) {
    if (frame.at < start || frame.at > end) continue;
    result->longestFrameGapMs = std::max(result->longestFrameGapMs, Ms(frame.at - last));
    last = frame.at;
  }
  result->longestFrameGapMs = std::max(result->longestFrameGapMs, Ms(end - last));

  const StreamRecord::Write& lastWrite = record.writes.back();
  for (const StreamRecord::Frame& frame : frames)
    if (frame.at >= lastWrite.at && frame.index == lastWrite.index) {
      result->lastShownMs = std::max(0.0, Ms(frame.at - end));
      break;
    }
}

}  // namespace

StreamResult AnalyseStream(const StreamRecord& record) {
  StreamResult result;
  MatchKeys(record, &result);
  MatchFrames(record, &result);
  return result;
}

std::vector<StreamRecord::Key> RoutingKeysSince(const std::vector<KeyEvent>& keys, size_t from) {
  std::vector<StreamRecord::Key> out;
  for (size_t i = from; i < keys.size(); ++i)
    if (keys[i].name == "Routing") out.push_back({QpcNs(keys[i].at), keys[i].value});
  return out;
}

namespace {

// A run meets every target when each of its figures is within the bound of its row.
bool RunMet(const StreamResult& r) {
  return r.keysLost == 0 && r.keysInOrder && Meets(kBackToBackKey, Quantile(r.keyDelaysMs, 1.0)) &&
         Meets(kBackToBackGap, r.longestFrameGapMs) && r.lastShownMs >= 0 &&
         Meets(kBackToBackLast, r.lastShownMs);
}

}  // namespace

void AddWriteLatencyFigure(Report& report, const std::string& link,
                           const std::vector<double>& figure, const std::vector<double>& floor,
                           const std::string& how, const std::string& tail) {
  Measured m;
  m.floor = Quantile(floor, 0.5);
  m.value = Quantile(figure, 0.5);
  m.available = !figure.empty() && !floor.empty();
  m.samples = static_cast<int>(figure.size());
  m.note = how +
           Format("p99 %.3f ms (floor %.3f ms)", Quantile(figure, 0.99), Quantile(floor, 0.99)) +
           tail;
  report.Add(kWriteReachesDisplay, m, link);
}

void AddKeysAloneFigures(Report& report, const std::string& link, const std::vector<double>& keys,
                         const std::vector<double>& floor, const std::string& how, int keysLost) {
  for (const auto& [target, q] : {std::pair{&kKeyAloneP50, 0.5}, {&kKeyAloneP99, 0.99}}) {
    Measured m;
    m.floor = Quantile(floor, q);
    m.value = Quantile(keys, q);
    m.available = !keys.empty();
    m.holds = keysLost <= 0;
    m.samples = static_cast<int>(keys.size());
    m.note = how +
             Format("max %.3f ms (floor %.3f ms)", Quantile(keys, 1.0), Quantile(floor, 1.0)) +
             (keysLost >= 0 ? Format(", %.0f keys lost", keysLost) : "");
    report.Add(*target, m, link);
  }
}

void AddWriteStreamFigures(Report& report, const std::string& link, const StreamResult& result,
                           const std::string& how) {
  Measured k;
  k.value = Quantile(result.keyDelaysMs, 0.99);
  k.available = !result.keyDelaysMs.empty();
  k.holds = result.keysLost == 0;
  k.samples = static_cast<int>(result.keyDelaysMs.size());
  k.note = how +
           Format("; median %.3f ms, max %.3f ms, ", Quantile(result.keyDelaysMs, 0.5),
                  Quantile(result.keyDelaysMs, 1.0)) +
           Format("%.0f keys lost", result.keysLost) +
           (result.keysInOrder ? "" : ", keys out of order");
  report.Add(kStreamKeyP99, k, link);

  Measured w;
  w.value = Quantile(result.newestShownMs, 0.99);
  w.available = !result.newestShownMs.empty();
  w.holds = result.neverShown == 0;
  w.samples = static_cast<int>(result.newestShownMs.size());
  w.note = how + Format(
                     "; from each call to the display receiving it or a newer write: median "
                     "%.3f ms, max %.3f ms; %.0f writes never followed by a frame",
                     Quantile(result.newestShownMs, 0.5), Quantile(result.newestShownMs, 1.0),
                     result.neverShown);
  report.Add(kStreamShownP99, w, link);
}

void AddBackToBackFigures(Report& report, const std::string& link,
                          const std::vector<BackToBackRun>& runs, const std::string& how) {
  int met = 0, lost = 0, keys = 0, refused = 0, disordered = 0, neverShown = 0;
  double latestKey = 0, gap = 0, lastShown = 0;
  std::vector<double> writes;
  std::string perRun;
  for (const BackToBackRun& run : runs) {
    const StreamResult& r = run.result;
    met += RunMet(r) ? 1 : 0;
    lost += r.keysLost;
    keys += static_cast<int>(r.keyDelaysMs.size()) + r.keysLost;
    refused += run.refused;
    disordered += r.keysInOrder ? 0 : 1;
    latestKey = std::max(latestKey, Quantile(r.keyDelaysMs, 1.0));
    gap = std::max(gap, r.longestFrameGapMs);
    if (r.lastShownMs < 0) ++neverShown;
    lastShown = std::max(lastShown, r.lastShownMs);
    writes.push_back(run.writes);
    perRun +=
        (perRun.empty() ? "" : ", ") +
        Format("%.0f/%.0f/%.0f", Quantile(r.keyDelaysMs, 1.0), r.longestFrameGapMs, r.lastShownMs) +
        Format(" (CPU %.0f/%.0f, %.0fk accepted/s", run.workerCpu, run.processCpu,
               run.seconds > 0 ? run.accepted / run.seconds / 1000 : 0) +
        (run.stolenCpu >= 0
             ? Format(", %.0f %% stolen, %.0f %% at the peak)", run.stolenCpu, run.stolenPeak)
             : ")");
  }
  const int count = static_cast<int>(runs.size());
  const std::string shared = how + Format("; %.0f writes per run (median), %.0f refused in all",
                                          Quantile(writes, 0.5), refused);
  // Every row is "n/a" without a run.
  const auto row = [&](double value, int samples, bool holds, std::string note) {
    Measured m;
    m.value = value;
    m.samples = samples;
    m.available = count > 0;
    m.holds = holds;
    m.note = std::move(note);
    return m;
  };

  Measured r = row(met, count, true,
                   shared +
                       "; per run, latest key / longest gap / last write shown, ms (CPU of the "
                       "worker thread / of the process, % of a core, and writes accepted, while "
                       "writing; the machine's processor time its hypervisor took until the "
                       "display caught up, on average and over the worst half second): " +
                       perRun);
  r.given = count;
  report.Add(kBackToBackRuns, r, link);
  report.Add(kBackToBackKey,
             row(latestKey, keys, true,
                 Format("the latest of %.0f keys pressed during the writes, every run; %.0f runs "
                        "had keys out of order",
                        keys, disordered)),
             link);
  report.Add(kBackToBackLost,
             row(lost, keys, true,
                 "keys the host never got, every run (the wait after the writes ends after "
                 "10-30 s)"),
             link);
  report.Add(kBackToBackGap,
             row(gap, count, true,
                 "from the first write to the end of the last call, the longest time between "
                 "frames reaching the display, worst run"),
             link);
  report.Add(kBackToBackLast,
             row(neverShown > 0 ? -1 : lastShown, count, neverShown == 0,
                 neverShown > 0 ? Format("in %.0f runs the last write never reached the display "
                                         "(-1)",
                                         neverShown)
                                : "worst run"),
             link);
}

void AddBurstFigure(Report& report, const std::string& what, const StreamResult& result,
                    size_t sent) {
  Measured f;
  f.value = result.keyDelaysMs.empty() ? -1 : result.keyDelaysMs.back();
  f.holds = result.keysLost == 0 && result.keysInOrder && f.value >= 0;
  f.samples = static_cast<int>(sent);
  f.note = Format("%.0f of %.0f delivered", static_cast<double>(result.keyDelaysMs.size()),
                  static_cast<double>(sent)) +
           (result.keysInOrder ? ", in order" : ", out of order") +
           (result.keyDelaysMs.empty()
                ? std::string()
                : Format("; the first after %.3f ms", result.keyDelaysMs.front()));
  report.Add(kBurst, f, what);
}

}  // namespace zol::bench
