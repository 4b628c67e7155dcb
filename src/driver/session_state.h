// The driver object's life as the host drives it. Platform-neutral and header-only, so that the
// native tests and the fuzzer run the same code.
#pragma once

#include <atomic>
#include <cstdint>

namespace zol {

// closed → opening → open → closing → closed, held in one atomic word: of two calls that race
// (two host threads, or a call made from inside a callback while another call waits), exactly
// one moves the state on and does the work; the other sees at once that it cannot, and returns
// without touching what the first one owns.
class SessionState {
 public:
  enum Phase : int32_t { kClosed, kOpening, kOpen, kClosing };

  // closed → opening; false in any other phase.
  bool BeginOpen() { return Move(kClosed, kOpening); }
  // opening → open, or back to closed when the open failed.
  void EndOpen(bool opened) { phase_.store(opened ? kOpen : kClosed); }
  // open → closing; false in any other phase.
  bool BeginClose() { return Move(kOpen, kClosing); }
  // closing → closed.
  void EndClose() { phase_.store(kClosed); }

  Phase phase() const { return static_cast<Phase>(phase_.load()); }
  bool open() const { return phase() == kOpen; }

 private:
  bool Move(Phase from, Phase to) {
    int32_t expected = from;
    return phase_.compare_exchange_strong(expected, to);
  }

  std::atomic<int32_t> phase_{kClosed};
};

}  // namespace zol
