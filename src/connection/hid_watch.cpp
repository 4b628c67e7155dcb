#include "connection/hid_watch.h"

namespace zol {

namespace {

// Pace of the searches, by how long the display has been gone.
constexpr uint32_t kEveryTickSearchMs = 1000;
constexpr uint32_t kHalfSecondSearchMs = 10000;
constexpr uint32_t kHalfSecondMs = 500;
constexpr uint32_t kOneSecondMs = 1000;
// A display lost again this soon after it was found counts as the same absence.
constexpr uint32_t kRelapseMs = 5000;

}  // namespace

HidWatch::HidWatch(Clock& clock, const SharedState& shared, FrameAck& ack, HidLink& hid,
                   const LinkFlags& flags)
    : clock_(clock), shared_(shared), ack_(ack), hid_(hid), flags_(flags) {}

uint32_t HidWatch::SearchIntervalMs(uint32_t absentMs) {
  return absentMs < kEveryTickSearchMs    ? 0
         : absentMs < kHalfSecondSearchMs ? kHalfSecondMs
                                          : kOneSecondMs;
}

bool HidWatch::ServiceInput() {
  if (shared_.suspended.load() != 0 || !hid_.DeviceOpen()) return false;
  hid_.ServiceInput();
  // An acknowledgement among the reports lets the next waiting frame go at once.
  if (!hid_.DeviceLost() && ack_.ackPending == 0) hid_.SendNextQueuedFrame(flags_.hidModel);
  // The search comes with the next tick: commands queued meanwhile (a Close) run first rather
  // than wait behind a device that is present but failing.
  if (hid_.DeviceLost()) Lose();
  return false;
}

uintptr_t HidWatch::InputEvent() {
  return shared_.suspended.load() == 0 ? hid_.InputEvent() : 0;
}

bool HidWatch::Poll() {
  if (shared_.suspended.load() != 0) return false;
  if (!hid_.DeviceOpen()) return SearchStep();
  if (hid_.DeviceLost()) {
    // A failed write may just have held the thread for its limit: the search comes with the
    // next tick, and the commands waiting meanwhile (a Close) go first.
    Lose();
    return false;
  }
  if (ack_.ackPending != 0 && clock_.Now() - ack_.lastFrameTick > kAckTimeoutMs) {
    Lose();
    return SearchStep();
  }
  if (ack_.ackPending == 0) hid_.SendNextQueuedFrame(flags_.hidModel);
  return false;
}

bool HidWatch::Answering() const {
  if (!hid_.DeviceOpen() || hid_.DeviceLost()) return false;
  // The poll tick would take the display as lost at its next look.
  return ack_.ackPending == 0 || clock_.Now() - ack_.lastFrameTick <= kAckTimeoutMs;
}

void HidWatch::Lose() {
  // Closed without the clear that a disconnect queues: it would run after the resend that
  // follows the search and leave the display blank while the host believes its text is shown.
  hid_.CloseDevice();
  ack_.ackPending = 0;
  hid_.DropQueue();
  const uint32_t now = clock_.Now();
  const bool relapse = search_.foundAt != 0 && now - search_.foundAt < kRelapseMs;
  search_ = Search{true, relapse ? search_.since : now, now, search_.foundAt, 0};
}

bool HidWatch::SearchStep() {
  const uint32_t now = clock_.Now();
  if (!search_.active) search_ = Search{true, now, now, search_.foundAt, 0};
  if (search_.seenAt != 0) {
    if (!Reached(now, search_.seenAt + HidLink::kSettleWaitMs)) return false;
    search_.seenAt = 0;
    // Found again (without a handshake), it comes back blank: it gets the cell buffer at once
    // rather than at the host's next write.
    if (hid_.OpenHidDisplay() == kHidNone) return false;
    search_.active = false;
    search_.foundAt = now | 1u;  // 0 means never
    return true;
  }
  if (!Reached(now, search_.next)) return false;
  search_.next = now + SearchIntervalMs(now - search_.since);
  if (hid_.LocateHidDisplay() != kHidNone) search_.seenAt = now | 1u;
  return false;
}

}  // namespace zol
