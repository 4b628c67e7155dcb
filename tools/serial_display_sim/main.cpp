// serial_display_sim: the simulated serial display served on a pty, controlled by command
// lines from a script and standard input, reporting what it receives as lines on standard
// output. Run with --help for the options and the command language.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "console_io.h"
#include "pty_service.h"
#include "sim/serial_display.h"
#include "sim/serial_display_commands.h"

namespace {

using zol::sim::SerialDisplay;
using zol::sim::SerialDisplayCommands;
using zol::tools::SteadyClock;

struct Options {
  zol::tools::PtyServiceOptions service;
  bool printSent = true;
  bool stamp = false;
  std::deque<std::string> setupCommands;  // from the behaviour options, run first
};

void PrintUsage() {
  std::printf(
      "Usage: serial_display_sim [OPTION...]\n"
      "Plays a braille display on the serial link over a new pty and prints\n"
      "  pty PATH       the pty's slave, to be opened as the serial port\n"
      "  link PATH      with --link\n"
      "  ready          once it serves\n"
      "then one line for each packet received or sent and for each query.\n"
      "\n"
      "Options:\n"
      "  --link PATH        make PATH a symbolic link to the slave, e.g.\n"
      "                     $WINEPREFIX/dosdevices/com41; removed again at exit\n"
      "  --path-file FILE   write the slave's path to FILE\n"
      "  --script FILE      run the commands in FILE first, then those on standard input\n"
      "  --no-stdin         read no commands from standard input (serve until quit, a signal\n"
      "                     or --timeout); otherwise the end of standard input ends the program\n"
      "  --timeout SECONDS  end the program after this long\n"
      "  --text N --status N [--info1 N --info2 N]   geometry in the identify reply (40, 2)\n"
      "  --no-identify      do not answer identify requests\n"
      "  --ack POLICY       all | none | drop:N | delay:MS for display frames\n"
      "  --quiet-tx         do not print the packets the display sends\n"
      "  --stamp            begin each rx and tx line with \"@RAW MONO \": the times in\n"
      "                     nanoseconds on CLOCK_MONOTONIC_RAW and CLOCK_MONOTONIC\n"
      "  --help             this text\n"
      "\n%s",
      SerialDisplayCommands::Help());
}

bool ParseOptions(int argc, char** argv, Options* options) {
  std::string text = "40", status = "2", info1 = "0", info2 = "0";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help") {
      PrintUsage();
      std::exit(0);
    } else if (arg == "--link" && value(&options->service.linkPath)) {
    } else if (arg == "--path-file" && value(&options->service.pathFile)) {
    } else if (arg == "--script" && value(&options->service.scriptFile)) {
    } else if (arg == "--no-stdin") {
      options->service.readStdin = false;
    } else if (arg == "--stamp") {
      options->stamp = true;
    } else if (arg == "--quiet-tx") {
      options->printSent = false;
    } else if (arg == "--timeout" && value(&v)) {
      options->service.timeoutSeconds = std::strtol(v.c_str(), nullptr, 10);
    } else if (arg == "--text" && value(&text)) {
    } else if (arg == "--status" && value(&status)) {
    } else if (arg == "--info1" && value(&info1)) {
    } else if (arg == "--info2" && value(&info2)) {
    } else if (arg == "--no-identify") {
      options->setupCommands.push_back("identify off");
    } else if (arg == "--ack" && value(&v)) {
      const size_t colon = v.find(':');
      options->setupCommands.push_back(
          "ack " +
          (colon == std::string::npos ? v : v.substr(0, colon) + " " + v.substr(colon + 1)));
    } else {
      std::fprintf(stderr, "serial_display_sim: bad option %s (see --help)\n", arg.c_str());
      return false;
    }
  }
  options->setupCommands.push_front("identify " + text + " " + status + " " + info1 + " " + info2);
  return true;
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

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

// The serial display as the pty service drives it.
class ServedSerialDisplay : public zol::tools::ServedDisplay {
 public:
  ServedSerialDisplay(SerialDisplay& display, SerialDisplayCommands& interpreter)
      : display_(display), interpreter_(interpreter) {}

  void Receive(const uint8_t* bytes, size_t count) override { display_.Receive(bytes, count); }
  void Transmit(std::string* out) override {
    uint8_t bytes[4096];
    for (size_t due; (due = display_.Transmit(bytes, sizeof bytes)) > 0;)
      out->append(reinterpret_cast<const char*>(bytes), due);
  }
  bool Run(const std::string& line) override {
    return interpreter_.Execute(line) != SerialDisplayCommands::Outcome::kQuit;
  }
  bool Busy() override { return interpreter_.Busy(); }

 private:
  SerialDisplay& display_;
  SerialDisplayCommands& interpreter_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;

  std::deque<std::string> commands = options.setupCommands;
  zol::tools::PtyService service("serial_display_sim", options.service, PrintLine);
  if (const int failure = service.Start(&commands); failure != 0) return failure;

  SteadyClock clock;
  SerialDisplay display(clock);
  const bool stamp = options.stamp;
  display.SetReceiveListener([stamp](const zol::sim::SerialPacketRecord& r) {
    PrintLine((stamp ? Stamp() : std::string()) + zol::sim::FormatReceived(r));
  });
  if (options.printSent) {
    display.SetSendListener([stamp](uint8_t type, const std::vector<uint8_t>& data) {
      PrintLine((stamp ? Stamp() : std::string()) + zol::sim::FormatSent(type, data));
    });
  }
  SerialDisplayCommands interpreter(display, clock, PrintLine);
  ServedSerialDisplay served(display, interpreter);
  PrintLine("ready");
  service.Serve(clock, served, std::move(commands));
  return 0;
}
