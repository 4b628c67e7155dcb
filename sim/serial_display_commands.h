// The line-oriented control language of the simulated serial display, shared by the display
// programs (tools/display) and anything built on them. One command per line; what the display
// receives and sends is reported as lines too. SerialDisplayCommands::Help() documents it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "sim/command_pause.h"
#include "sim/serial_display.h"

namespace zol::sim {

// CELLS, FUNCTION_KEY, ..., ACK, or TYPE<n> for a type without a name.
std::string SerialPacketTypeName(uint8_t type);
// A type name as above, or a number.
bool ParseSerialPacketType(const std::string& text, uint8_t* type);
// The function-key code of a key name: F1-F10, LF, UP, RG, DN, with prefix S, L or SL; -1 when
// the name is unknown.
int FunctionKeyCode(const std::string& name);

// The words of a command line, split at white space.
std::vector<std::string> SplitCommandWords(const std::string& line);
// A command argument: decimal, or hexadecimal after 0x; at most max.
bool ParseCommandNumber(const std::string& text, uint32_t max, uint32_t* value);

// "rx TYPE hex..." for a good packet received, "rx-bad TYPE hex..." for a bad checksum.
std::string FormatReceived(const SerialPacketRecord& record);
// "tx TYPE hex..." for a packet the display sends.
std::string FormatSent(uint8_t type, const std::vector<uint8_t>& data);

class SerialDisplayCommands : public CommandLanguage {
 public:
  // clock is the one the display runs on; sleep and wait measure their time with it.
  SerialDisplayCommands(SerialDisplay& display, Clock& clock, Output output)
      : CommandLanguage(clock, std::move(output)), display_(display) {}

  Outcome Execute(const std::string& line);

  static const char* Help();

 private:
  SerialDisplay& display_;
};

}  // namespace zol::sim
