#include "relay_codec.h"

namespace zol::vdisplay {

std::vector<uint8_t> EncodeRelayFrame(const uint8_t* report, size_t length) {
  if (length == 0 || length > kRelayMaxReport) return {};
  std::vector<uint8_t> frame{kRelayStart, static_cast<uint8_t>(length)};
  frame.insert(frame.end(), report, report + length);
  return frame;
}

std::vector<uint8_t> RelayGoodbye() {
  return {kRelayStart, 0};
}

RelayReader::Result RelayReader::Feed(uint8_t b) {
  switch (state_) {
    case State::kStart:
      if (b == kRelayStart) state_ = State::kLength;
      return Result::kPending;
    case State::kLength:
      if (b == 0) {
        state_ = State::kStart;
        return Result::kGoodbye;
      }
      if (b > kRelayMaxReport) {
        state_ = b == kRelayStart ? State::kLength : State::kStart;
        return Result::kPending;
      }
      length_ = b;
      report_.clear();
      state_ = State::kData;
      return Result::kPending;
    case State::kData:
      report_.push_back(b);
      if (report_.size() < length_) return Result::kPending;
      state_ = State::kStart;
      return Result::kReport;
  }
  return Result::kPending;
}

}  // namespace zol::vdisplay
