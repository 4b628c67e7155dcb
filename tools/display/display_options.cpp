#include "display_options.h"

#include <cerrno>
#include <cstdlib>

namespace zol::tools {

namespace {

constexpr long kMaxAckNumber = 3600000;

}  // namespace

std::string AckCommand(const std::string& policy) {
  if (policy == "all" || policy == "none") return "ack " + policy;
  const size_t colon = policy.find(':');
  if (colon == std::string::npos) return std::string();
  const std::string name = policy.substr(0, colon);
  const char* number = policy.c_str() + colon + 1;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(number, &end, 10);
  if ((name != "drop" && name != "delay") || *number < '0' || *number > '9' || *end != '\0' ||
      errno != 0 || value > kMaxAckNumber)
    return std::string();
  return "ack " + name + " " + std::to_string(value);
}

void AddDisplayOptions(CLI::App& app, DisplayOptions* options) {
  PtyServiceOptions& service = options->service;
  app.add_option("--link", service.linkPath,
                 "make PATH a symbolic link to the pty, e.g. $WINEPREFIX/dosdevices/com41 "
                 "(COM41 under Wine); removed at exit")
      ->type_name("PATH");
  app.add_option("--path-file", service.pathFile, "write the pty's path to FILE")
      ->type_name("FILE");
  app.add_option("--script", service.scriptFile,
                 "run the commands in FILE first, then those on standard input")
      ->type_name("FILE");
  app.add_flag_callback(
      "--no-stdin", [&service] { service.readStdin = false; },
      "read no commands from standard input; serve until quit, a signal or --timeout "
      "(otherwise the end of standard input ends the program)");
  app.add_option("--timeout", service.timeoutSeconds, "end the program after this long, 1 to 86400")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400).description(""));
  app.add_option("--text", options->textCells, "text cells, 1 to 80 (40)")
      ->type_name("N")
      ->check(CLI::Range(1, 80).description(""));
  app.add_option("--status", options->statusCells, "status cells, 0 to 8 (2)")
      ->type_name("N")
      ->check(CLI::Range(0, 8).description(""));
  app.add_option_function<std::string>(
         "--ack",
         [options](const std::string& policy) { options->ackCommand = AckCommand(policy); },
         "acknowledge display frames: all | none | drop:N | delay:MS (all)")
      ->type_name("POLICY")
      ->check(CLI::Validator(
          [](std::string& policy) {
            return AckCommand(policy).empty() ? "takes all, none, drop:N or delay:MS, not " + policy
                                              : std::string();
          },
          ""));
}

}  // namespace zol::tools
