// The two ways the host writes while the display sends keys, the same for both links. press(n)
// makes the display send its n-th routing key (n counts from 0) and returns the key as the
// host is to see it, with the time it left the display, or with at = -1 when that time comes
// from the display's own log instead.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "stream_figures.h"
#include "zol/braille_driver.h"

namespace zol::bench {

using PressKey = std::function<StreamRecord::Key(int n)>;

// The first pattern of back-to-back run i (from 0): one hundred million apart per run.
constexpr uint32_t BackToBackBase(int i) {
  return 100000000u * static_cast<uint32_t>(i + 1);
}

// Writes patterns base, base + 1, ... every 20 ms for seconds while pressing a key every
// 30-170 ms (at random), dispatching this thread's messages in between. Adds the writes, and
// the keys whose time press returned, to record.
void WriteEvery20Ms(IBrailleDriver* driver, double seconds, uint32_t base, const PressKey& press,
                    StreamRecord* record);

// Writes patterns from base on in a tight loop for seconds, dispatching this thread's messages
// every millisecond, while another thread presses a key every 30-170 ms. Adds the first and the
// last accepted write, and the keys whose time press returned, to record; worker is the
// driver's worker thread for its CPU figure, or null. Returns with the display still to catch
// up.
BackToBackRun WriteBackToBack(IBrailleDriver* driver, HANDLE worker, double seconds, uint32_t base,
                              const PressKey& press, StreamRecord* record);

}  // namespace zol::bench
