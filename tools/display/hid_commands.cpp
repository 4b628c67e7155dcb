#include "hid_commands.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "sim/serial_display_commands.h"

namespace zol::vdisplay {

HidDisplayCommands::HidDisplayCommands(sim::HidDisplay& display, Clock& clock, Output output,
                                       std::function<size_t()> frameCount)
    : CommandLanguage(clock, std::move(output)),
      display_(display),
      frameCount_(std::move(frameCount)) {}

HidDisplayCommands::Outcome HidDisplayCommands::Execute(const std::string& line) {
  const std::vector<std::string> words = sim::SplitCommandWords(line);
  if (words.empty() || words[0][0] == '#') return Outcome::kDone;
  const std::string& command = words[0];
  const size_t argc = words.size() - 1;
  uint32_t a = 0, b = 0;
  Outcome shared = Outcome::kDone;
  if (RunShared(words, line, &shared)) return shared;

  if (command == "key" && argc == 1) {
    int code = sim::FunctionKeyCode(words[1]);
    if (code < 0) {
      if (!sim::ParseCommandNumber(words[1], 255, &a)) return Fail("unknown key " + words[1]);
      code = static_cast<int>(a);
    }
    display_.PressFunctionKey(static_cast<uint8_t>(code));
  } else if (command == "route" && argc == 1 && sim::ParseCommandNumber(words[1], 255, &a)) {
    display_.PressRoutingKey(static_cast<uint8_t>(a));
  } else if (command == "ack" && argc >= 1) {
    sim::HidDisplayConfig config = display_.config();
    config.dropFirst = 0;
    config.ackDelayMs = 0;
    if (words[1] == "all" && argc == 1) {
      config.ack = sim::AckPolicy::All;
    } else if (words[1] == "none" && argc == 1) {
      config.ack = sim::AckPolicy::None;
    } else if (words[1] == "drop" && argc == 2 && sim::ParseCommandNumber(words[2], 1000000, &a)) {
      config.ack = sim::AckPolicy::DropFirst;
      config.dropFirst = static_cast<int>(a);
    } else if (words[1] == "delay" && argc == 2 && sim::ParseCommandNumber(words[2], 3600000, &a)) {
      config.ack = sim::AckPolicy::All;
      config.ackDelayMs = a;
    } else {
      return Fail("usage: ack all | none | drop N | delay MS");
    }
    display_.Configure(config);
  } else if (command == "wait" && argc >= 1 && argc <= 3) {
    if (words[1] != "CELLS" || !ParseWait(words, &a, &b))
      return Fail("usage: wait CELLS [COUNT [MS]] (the HID link knows only display frames)");
    return Wait(b, "CELLS", [this, frames = size_t{a}] { return frameCount_() >= frames; });
  } else {
    return Fail("not on the HID link: " + line);
  }
  return Outcome::kDone;
}

}  // namespace zol::vdisplay
