// Counts posts in progress, so that the side that closes a channel can wait until every post
// that may still have seen the channel open has landed. Platform-neutral.
#pragma once

#include <atomic>
#include <cstdint>

namespace zol {

// Poster: Enter, check that the channel is open (an atomic the closer changes), post, Leave.
// Closer: close the channel (an atomic store or exchange), then WaitIdle. All operations are
// sequentially consistent, so either the poster sees the channel closed or the closer sees the
// post in progress and waits for it. A post takes microseconds; the closer yields meanwhile.
class PostGate {
 public:
  void Enter() { inProgress_.fetch_add(1); }
  void Leave() { inProgress_.fetch_sub(1); }
  bool Idle() const { return inProgress_.load() == 0; }

  // Calls yield(round) until no post is in progress.
  template <class Yield>
  void WaitIdle(Yield yield) const {
    for (uint32_t round = 0; !Idle(); ++round) yield(round);
  }

 private:
  std::atomic<int32_t> inProgress_{0};
};

}  // namespace zol
