// The options the display programs (serial_display_sim, virtual_display) share: where the pty
// is linked and its path written, where commands come from, how long to serve, the geometry
// and the acknowledgement policy.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "pty_service.h"

namespace zol::tools {

struct DisplayOptions {
  PtyServiceOptions service;
  int textCells = 40;
  int statusCells = 2;
  std::string ackCommand = "ack all";  // --ack in the display's control language
};

// Adds --link, --path-file, --script, --no-stdin, --timeout, --text, --status and --ack to app,
// which fills options as it parses.
void AddDisplayOptions(CLI::App& app, DisplayOptions* options);

// The control-language command for an --ack policy (all | none | drop:N | delay:MS), e.g.
// "ack drop 3"; empty for anything else.
std::string AckCommand(const std::string& policy);

}  // namespace zol::tools
