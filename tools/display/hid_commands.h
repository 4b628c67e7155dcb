// The part of the control language (sim/serial_display_commands.h) that a HID display
// understands, run against the simulated HID display: function and routing keys, the
// acknowledgement policy, and the scripting commands. Platform-neutral.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/clock.h"
#include "sim/command_pause.h"
#include "sim/hid_display.h"

namespace zol::vdisplay {

class HidDisplayCommands : public sim::CommandLanguage {
 public:
  // frameCount tells how many display frames arrived in all (the display's own records may be
  // cleared on the way, so that a long session does not keep every frame).
  HidDisplayCommands(sim::HidDisplay& display, Clock& clock, Output output,
                     std::function<size_t()> frameCount);

  // key NAME|CODE, route CODE, ack all|none|drop N|delay MS, wait CELLS [COUNT [MS]],
  // sleep MS, echo TEXT, quit. Anything else prints "error ..." (typed text, chords and the
  // other packets exist only on the serial link).
  Outcome Execute(const std::string& line);

 private:
  sim::HidDisplay& display_;
  std::function<size_t()> frameCount_;
};

}  // namespace zol::vdisplay
