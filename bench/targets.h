// Every target of the benchmark, each declared once: the row's name and unit, the target in
// words as the table prints it, and the bound its verdict is worked out from (Verdict in
// bench_stats.cpp). A group measures a figure and hands it to the report with its target; the
// words and the verdict both come from here.
//
// In a name, "{}" stands for what the run fills in (a link, a count). In the words, "{bound}",
// "{times}" and "{tolerance}" stand for the bound's own numbers, and "{given}" for the value a
// bound counted from a given figure starts at.
#pragma once

namespace zol::bench {

// How a figure is held against its limit.
enum class Compare {
  AtMost,     // figure <= limit
  Below,      // figure < limit
  Equal,      // figure == limit
  Within,     // limit within tolerance percent, either side
  Holds,      // no number: met when the measured conditions hold
  Reference,  // no target of its own: a floor for other rows
};

// What the limit is counted from: limit = times x (from + bound).
enum class From {
  Nothing,
  Floor,  // the row's floor, taken in the same run
  Given,  // a figure the group measured alongside (a handshake, a count of runs)
};

struct Target {
  constexpr Target(const char* id, const char* name, const char* unit, const char* words,
                   Compare compare, double bound = 0, From from = From::Nothing, double times = 1,
                   double tolerance = 0)
      : id(id),
        name(name),
        unit(unit),
        words(words),
        compare(compare),
        bound(bound),
        from(from),
        times(times),
        tolerance(tolerance) {}
  const char* id;  // stable, for the JSON
  const char* name;
  const char* unit;
  const char* words;
  Compare compare;
  double bound;
  From from;
  double times;
  double tolerance;  // percent, for Within
};

// ---- Open, on any link ----------------------------------------------------------------------
inline constexpr Target kOpenCpu("open_cpu", "CPU during Open, {}", "% of wall",
                                 "< {bound} % (waits must not spin)", Compare::Below, 5);

// ---- latencies, on either link ----------------------------------------------------------------
inline constexpr Target kWriteReachesDisplay("write_reaches_display",
                                             "write -> last byte at display, {}, median", "ms",
                                             "<= floor + {bound} ms", Compare::AtMost, 1,
                                             From::Floor);
inline constexpr Target kKeyAloneP50("key_alone_p50",
                                     "display key -> OnKeyEvent, {}, keys alone, p50", "ms",
                                     "<= {bound} ms", Compare::AtMost, 3);
inline constexpr Target kKeyAloneP99("key_alone_p99",
                                     "display key -> OnKeyEvent, {}, keys alone, p99", "ms",
                                     "<= {bound} ms", Compare::AtMost, 10);

// ---- the host writing while the display sends keys, on either link ----------------------------
inline constexpr Target kBurst("burst", "burst of {}: last delivered", "ms",
                               "all, in order; the last <= {bound} ms after it was sent",
                               Compare::AtMost, 50);
inline constexpr Target kStreamKeyP99("stream_key_p99",
                                      "key -> OnKeyEvent, host writing 50/s, {}, p99", "ms",
                                      "<= {bound} ms", Compare::AtMost, 15);
inline constexpr Target kStreamShownP99("stream_shown_p99",
                                        "newest write shown, host writing 50/s, {}, p99", "ms",
                                        "<= {bound} ms (that write or a newer one)",
                                        Compare::AtMost, 30);
// A run meets every target when the three bounds below hold for it and no key was lost or
// came out of order.
inline constexpr Target kBackToBackRuns(
    "back_to_back_runs", "back-to-back writes, {}: runs meeting every target", "runs",
    "{given} of {given} (keys <= 100 ms, none lost; gaps <= 100 ms; last <= 100 ms)",
    Compare::Equal, 0, From::Given);
inline constexpr Target kBackToBackKey("back_to_back_key", "back-to-back writes, {}: latest key",
                                       "ms", "<= {bound} ms", Compare::AtMost, 100);
inline constexpr Target kBackToBackLost("back_to_back_lost", "back-to-back writes, {}: keys lost",
                                        "keys", "{bound}", Compare::Equal, 0);
inline constexpr Target kBackToBackGap("back_to_back_gap",
                                       "back-to-back writes, {}: longest gap without a frame", "ms",
                                       "<= {bound} ms", Compare::AtMost, 100);
inline constexpr Target kBackToBackLast(
    "back_to_back_last", "back-to-back writes, {}: last write shown after the last call", "ms",
    "<= {bound} ms", Compare::AtMost, 100);

// ---- HID --------------------------------------------------------------------------------------
inline constexpr Target kWriteCallMedian("write_call_median", "WriteTextCells call, median", "us",
                                         "<= {times}x floor (new payload + PostThreadMessage)",
                                         Compare::AtMost, 0, From::Floor, 2);
inline constexpr Target kWriteCallP99("write_call_p99", "WriteTextCells call, p99", "us",
                                      "<= {times}x floor (new payload + PostThreadMessage)",
                                      Compare::AtMost, 0, From::Floor, 2);
inline constexpr Target kIdleCpu("idle_cpu", "CPU, connected and idle, worker thread",
                                 "% of a core", "< {bound} %", Compare::Below, 0.5);
inline constexpr Target kLostAcksHandles("lost_acks_handles",
                                         "{}k writes, 10% acks lost: handle growth", "handles",
                                         "flat (growth <= {bound})", Compare::AtMost, 2);
inline constexpr Target kLostAcksMemory("lost_acks_memory",
                                        "{}k writes, 10% acks lost: private memory growth", "KiB",
                                        "flat (growth <= {bound} KiB)", Compare::AtMost, 1024);
inline constexpr Target kLostAcksLastShown("lost_acks_last_shown",
                                           "{}k writes, 10% acks lost: last write shown",
                                           "ms to settle", "display ends showing the last write",
                                           Compare::Holds);
// Away for 2 to 2.5 s: the searches come every 500 ms by then, and the display found waits
// 300 ms before it is opened. Searches and the open after the settle both run on poll ticks,
// each up to a tick late.
inline constexpr Target kHidReplug(
    "hid_replug", "HID unplug -> replug: last contents back", "ms",
    "<= {bound} ms (a search every 500 ms after 1 s away + 300 ms settle + 2 ticks)",
    Compare::AtMost, 1000);
// The connect's 1000 ms settle, the 300 ms wait before the display is opened, then 201
// handshake reads 50 ms apart.
inline constexpr Target kHidSilentOpen("hid_silent_open", "Open, HID display silent", "ms",
                                       "{bound} ms +- {tolerance} % (1000 + 300 + 201 x 50)",
                                       Compare::Within, 1000 + 300 + 201 * 50, From::Nothing, 1,
                                       10);

// ---- HID on an ordinary PC ----------------------------------------------------------------------
// Given: the handshake, from the display's first output report to the end of the call.
inline constexpr Target kForeignOpen("foreign_open", "Open, HID 40 among 30 foreign interfaces",
                                     "ms", "<= 1000 + 2 x 300 + handshake + 300 ms",
                                     Compare::AtMost, 1000 + 2 * 300 + 300, From::Given);
inline constexpr Target kReplugKey("replug_key",
                                   "HID idle, unplugged 2 s, replugged: key 1 s later -> "
                                   "OnKeyEvent",
                                   "ms", "<= {bound} ms", Compare::AtMost, 1500);
inline constexpr Target kReplugCells(
    "replug_cells", "HID idle, unplugged 2 s, replugged: last cells back", "ms",
    "shown again, by the key's deadline (<= {bound} ms after the replug)", Compare::AtMost, 2500);
inline constexpr Target kCloseUnplugged("close_unplugged",
                                        "Close, HID display unplugged, host idle", "ms",
                                        "<= {bound} ms", Compare::AtMost, 500);
inline constexpr Target kForeignBurstKeys(
    "foreign_burst_keys",
    "60 key reports at once, HID among 30 foreign interfaces, {}: keys delivered", "keys",
    "{bound} of 60, in order", Compare::Equal, 60);
inline constexpr Target kForeignBurstReconnects(
    "foreign_burst_reconnects",
    "60 key reports at once, HID among 30 foreign interfaces: reconnects", "opens",
    "{bound} (no reconnect in either burst)", Compare::Equal, 0);
// The write is cancelled when its 1000 ms are up; the cancellation and the probe's own round
// trip add a few milliseconds, a second write or wait in the same pass another 300 or more.
inline constexpr Target kStallWorkerHeld(
    "stall_worker_held", "HID display taking no output: longest the worker thread is held", "ms",
    "<= 1000 ms (the write limit) + 50 ms (cancelling it, the probe)", Compare::AtMost, 1000 + 50);
inline constexpr Target kStallClose("stall_close", "Close, HID display taking no output", "ms",
                                    "<= {bound} ms", Compare::AtMost, 2000);

// ---- serial -------------------------------------------------------------------------------------
inline constexpr Target kOpenNothing("open_nothing",
                                     "Open, no display at all (1000 ms + HID search)", "ms",
                                     "reference: the floor of the serial Open rows",
                                     Compare::Reference);
inline constexpr Target kSerialOpen("serial_open", "Open, serial display answering", "ms",
                                    "<= floor + {bound} ms", Compare::AtMost, 100, From::Floor);
inline constexpr Target kSerialSilentOpen(
    "serial_silent_open", "Open, serial port present, display silent", "ms",
    "<= (floor + {bound} ms) x {times}; 4 identify requests ~500 ms apart", Compare::AtMost, 2000,
    From::Floor, 1.1);
inline constexpr Target kSerialBack(
    "serial_back", "serial display back after 3 s away ({}): first frame", "ms",
    "<= {bound} ms after its return, no host call; last frame = last write", Compare::AtMost, 3000);

}  // namespace zol::bench
