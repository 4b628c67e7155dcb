// How HID reports travel between the HID bridge (a Windows program under Wine that stands in
// for the display's device file) and virtual_display, over a serial line: one frame per report,
//   A5 length report[length]
// length 1 to kRelayMaxReport. A frame of length 0 says goodbye: the sender is ending.
// Platform-neutral.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zol::vdisplay {

inline constexpr uint8_t kRelayStart = 0xA5;
inline constexpr size_t kRelayMaxReport = 64;

// The frame of one report (length 1 to kRelayMaxReport); empty for any other length.
std::vector<uint8_t> EncodeRelayFrame(const uint8_t* report, size_t length);
// The goodbye frame.
std::vector<uint8_t> RelayGoodbye();

// Byte-at-a-time receiver. Bytes before a start byte, and a length above kRelayMaxReport, are
// skipped (the receiver then looks for the next start byte).
class RelayReader {
 public:
  enum class Result : uint8_t { kPending, kReport, kGoodbye };

  Result Feed(uint8_t b);
  // The report, valid after kReport.
  const std::vector<uint8_t>& report() const { return report_; }

 private:
  enum class State : uint8_t { kStart, kLength, kData };
  State state_ = State::kStart;
  size_t length_ = 0;
  std::vector<uint8_t> report_;
};

}  // namespace zol::vdisplay
