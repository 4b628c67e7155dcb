#include "hid_commands.h"

#include <cstdlib>
#include <vector>

#include "sim/serial_display_commands.h"

namespace zol::vdisplay {

namespace {

constexpr uint32_t kDefaultWaitMs = 10000;

}  // namespace

HidDisplayCommands::HidDisplayCommands(sim::HidDisplay& display, Clock& clock, Output output,
                                       std::function<size_t()> frameCount)
    : display_(display),
      output_(std::move(output)),
      frameCount_(std::move(frameCount)),
      pause_(clock) {}

HidDisplayCommands::Outcome HidDisplayCommands::Fail(const std::string& message) {
  output_("error " + message);
  return Outcome::kError;
}

HidDisplayCommands::Outcome HidDisplayCommands::Execute(const std::string& line) {
  const std::vector<std::string> words = sim::SplitCommandWords(line);
  if (words.empty() || words[0][0] == '#') return Outcome::kDone;
  const std::string& command = words[0];
  const size_t argc = words.size() - 1;
  uint32_t a = 0, b = 0;

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
    a = 1;
    b = kDefaultWaitMs;
    if (words[1] != "CELLS" || (argc >= 2 && !sim::ParseCommandNumber(words[2], UINT32_MAX, &a)) ||
        (argc == 3 && !sim::ParseCommandNumber(words[3], UINT32_MAX, &b)))
      return Fail("usage: wait CELLS [COUNT [MS]] (the HID link knows only display frames)");
    const size_t frames = a;
    pause_.Wait(b, "CELLS", [this, frames] { return frameCount_() >= frames; });
    return Busy() ? Outcome::kBusy : Outcome::kDone;
  } else if (command == "sleep" && argc == 1 && sim::ParseCommandNumber(words[1], UINT32_MAX, &a)) {
    pause_.Sleep(a);
    return Outcome::kBusy;
  } else if (command == "echo") {
    const size_t start = line.find("echo") + 4;
    output_(start < line.size() ? line.substr(start + 1) : std::string());
  } else if (command == "quit" && argc == 0) {
    return Outcome::kQuit;
  } else {
    return Fail("not on the HID link: " + line);
  }
  return Outcome::kDone;
}

bool HidDisplayCommands::Busy() {
  return pause_.Busy(output_);
}

}  // namespace zol::vdisplay
