// The simulated serial display and its control language as the pty service serves them, for
// both display programs. Each program listens to the display for what it shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/clock.h"
#include "pty_service.h"
#include "sim/serial_display.h"
#include "sim/serial_display_commands.h"

namespace zol::tools {

class ServedSerialDisplay : public ServedDisplay {
 public:
  ServedSerialDisplay(Clock& clock, PrintLineFn print)
      : display_(clock), interpreter_(display_, clock, print) {}

  sim::SerialDisplay& display() { return display_; }

  void Receive(const uint8_t* bytes, size_t count) override { display_.Receive(bytes, count); }
  void Transmit(std::string* out) override {
    uint8_t bytes[4096];
    for (size_t due; (due = display_.Transmit(bytes, sizeof bytes)) > 0;)
      out->append(reinterpret_cast<const char*>(bytes), due);
  }
  bool Run(const std::string& line) override {
    return interpreter_.Execute(line) != sim::SerialDisplayCommands::Outcome::kQuit;
  }
  bool Busy() override { return interpreter_.Busy(); }

 private:
  sim::SerialDisplay display_;
  sim::SerialDisplayCommands interpreter_;
};

}  // namespace zol::tools
