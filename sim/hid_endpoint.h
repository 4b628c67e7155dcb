// The device end of a HID link: what a simulated display (or a relay to one elsewhere) offers
// to whatever carries reports to and from the driver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol::sim {

class HidEndpoint {
 public:
  virtual ~HidEndpoint() = default;
  // One output report as the driver wrote it (report ID first, length as written).
  virtual void OnOutputReport(const uint8_t* report, size_t length) = 0;
  // Copies the next input report that is due into report (at most capacity bytes) and
  // returns its length, 0 when none is due. The report stays queued until PopInput, so a
  // carrier that cannot tell at once whether the driver took it can offer it again.
  virtual size_t PeekInput(uint8_t* report, size_t capacity) = 0;
  // Drops the report PeekInput returned last.
  virtual void PopInput() = 0;
};

}  // namespace zol::sim
