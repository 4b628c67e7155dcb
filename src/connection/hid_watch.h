// The HID link between connect and disconnect: its input, its acknowledgement time-out, and
// the search for a lost display.
#pragma once

#include <cstdint>

#include "connection/link_flags.h"
#include "connection/link_watch.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "hid/hid_link.h"

namespace zol {

// A lost HID display (its acknowledgement more than 1000 ms late, or a read or write failing
// as a removed device does) is closed, its waiting frames dropped, and searched for: at once
// after a time-out, from the next tick after a failure, then every tick for a second, every
// 500 ms until ten seconds have passed and every second after that, so that a long absence
// costs little. A display found is opened on the first tick 300 ms later (it settles meanwhile,
// without holding the thread) and gets the cell buffer. A display lost again within 5 s of
// being found (present but failing, say one that takes no output) keeps the pace its first
// loss had reached. So no tick holds the thread longer than one write's limit, and a Close
// waits for at most that. Nothing happens while the driver is suspended.
class HidWatch final : public LinkWatch {
 public:
  static constexpr uint32_t kAckTimeoutMs = 1000;

  HidWatch(Clock& clock, const SharedState& shared, FrameAck& ack, HidLink& hid,
           const LinkFlags& flags);

  // How long after a search the next one comes, by how long the display has been gone.
  static uint32_t SearchIntervalMs(uint32_t absentMs);

  bool ServiceInput() override;
  uintptr_t InputEvent() override;
  bool Poll() override;
  void Stop() override { search_ = Search{}; }
  bool Answering() const override;
  bool Failed() const override { return hid_.DeviceLost(); }
  void TakeInput() override { hid_.ServiceInput(); }

 private:
  struct Search {
    bool active = false;
    uint32_t since = 0;    // when the display was lost
    uint32_t next = 0;     // when the next search is due
    uint32_t foundAt = 0;  // when a search last found it
    uint32_t seenAt = 0;   // when a search saw it, to be opened once settled; 0: not seen
  };

  // Closes a display that is gone and drops its waiting frames; the searches begin.
  void Lose();
  // One step of the search; true when the display was opened again.
  bool SearchStep();

  Clock& clock_;
  const SharedState& shared_;
  FrameAck& ack_;
  HidLink& hid_;
  const LinkFlags& flags_;
  Search search_;
};

}  // namespace zol
