// serial_display_sim: the simulated serial display served on a pty, controlled by command
// lines from a script and standard input, reporting what it receives as lines on standard
// output. Run with --help for the options and the command language.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "console_io.h"
#include "display_options.h"
#include "pty_service.h"
#include "served_serial_display.h"

namespace {

using zol::sim::SerialDisplayCommands;
using zol::tools::WriteLine;

// "@RAW MONO " in nanoseconds, for timing packets against another program's clock.
std::string Stamp() {
  timespec raw{}, mono{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
  clock_gettime(CLOCK_MONOTONIC, &mono);
  auto ns = [](const timespec& t) {
    return std::to_string(static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec);
  };
  return "@" + ns(raw) + " " + ns(mono) + " ";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Plays a braille display on the serial link over a new pty and prints \"pty PATH\" (the "
      "pty's slave, to be opened as the serial port), \"link PATH\" with --link and \"ready\" "
      "once it serves; then one line for each packet received or sent and for each query.",
      "serial_display_sim");
  zol::tools::DisplayOptions options;
  zol::tools::AddDisplayOptions(app, &options);
  int info1 = 0, info2 = 0;
  bool identify = true, printSent = true, stamp = false;
  app.add_option("--info1", info1, "the identify reply's first information byte, 0 to 255 (0)")
      ->type_name("N")
      ->check(CLI::Range(0, 255).description(""));
  app.add_option("--info2", info2, "the identify reply's second information byte, 0 to 255 (0)")
      ->type_name("N")
      ->check(CLI::Range(0, 255).description(""));
  app.add_flag_callback(
      "--no-identify", [&identify] { identify = false; }, "do not answer identify requests");
  app.add_flag_callback(
      "--quiet-tx", [&printSent] { printSent = false; },
      "do not print the packets the display sends");
  app.add_flag("--stamp", stamp,
               "begin each rx and tx line with \"@RAW MONO \": the times in nanoseconds on "
               "CLOCK_MONOTONIC_RAW and CLOCK_MONOTONIC");
  app.footer(SerialDisplayCommands::Help());
  if (const int code = zol::tools::ParseCommandLine(app, argc, argv);
      code != zol::tools::kCommandLineOk)
    return code;

  zol::tools::SteadyClock clock;
  zol::tools::ServedSerialDisplay served(clock, WriteLine);
  served.Run("identify " + std::to_string(options.textCells) + " " +
             std::to_string(options.statusCells) + " " + std::to_string(info1) + " " +
             std::to_string(info2));
  if (!identify) served.Run("identify off");
  served.Run(options.ackCommand);
  served.display().SetReceiveListener([stamp](const zol::sim::SerialPacketRecord& r) {
    WriteLine((stamp ? Stamp() : std::string()) + zol::sim::FormatReceived(r));
  });
  if (printSent) {
    served.display().SetSendListener([stamp](uint8_t type, const std::vector<uint8_t>& data) {
      WriteLine((stamp ? Stamp() : std::string()) + zol::sim::FormatSent(type, data));
    });
  }
  zol::tools::PtyService service("serial_display_sim", options.service, WriteLine);
  return service.Run(clock, served);
}
