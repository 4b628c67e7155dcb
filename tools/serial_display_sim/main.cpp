// serial_display_sim: the simulated serial display served on a pty, controlled by command
// lines from a script and standard input, reporting what it receives as lines on standard
// output. Run with --help for the options and the command language.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <string>
#include <thread>

#include "console_io.h"
#include "pty_endpoint.h"
#include "sim/serial_display.h"
#include "sim/serial_display_commands.h"

namespace {

using zol::sim::SerialDisplay;
using zol::sim::SerialDisplayCommands;
using zol::tools::LineReader;
using zol::tools::SteadyClock;

constexpr int kPollMs = 5;

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) {
  stopRequested = 1;
}

struct Options {
  std::string linkPath;
  std::string pathFile;
  std::string scriptFile;
  bool readStdin = true;
  bool printSent = true;
  bool stamp = false;
  long timeoutSeconds = 0;
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
    } else if (arg == "--link" && value(&options->linkPath)) {
    } else if (arg == "--path-file" && value(&options->pathFile)) {
    } else if (arg == "--script" && value(&options->scriptFile)) {
    } else if (arg == "--no-stdin") {
      options->readStdin = false;
    } else if (arg == "--stamp") {
      options->stamp = true;
    } else if (arg == "--quiet-tx") {
      options->printSent = false;
    } else if (arg == "--timeout" && value(&v)) {
      options->timeoutSeconds = std::strtol(v.c_str(), nullptr, 10);
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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGHUP, RequestStop);
  std::signal(SIGPIPE, SIG_IGN);

  std::deque<std::string> commands = options.setupCommands;
  if (!options.scriptFile.empty()) {
    std::ifstream script(options.scriptFile);
    if (!script) {
      std::fprintf(stderr, "serial_display_sim: cannot read %s\n", options.scriptFile.c_str());
      return 2;
    }
    for (std::string line; std::getline(script, line);) commands.push_back(line);
  }

  zol::tools::PtyEndpoint pty;
  if (!pty.Open()) {
    std::fprintf(stderr, "serial_display_sim: %s\n", pty.error().c_str());
    return 1;
  }
  PrintLine("pty " + pty.slavePath());
  if (!options.pathFile.empty()) {
    std::ofstream out(options.pathFile);
    out << pty.slavePath() << '\n';
  }
  if (!options.linkPath.empty()) {
    if (!pty.Link(options.linkPath)) {
      std::fprintf(stderr, "serial_display_sim: %s\n", pty.error().c_str());
      return 1;
    }
    PrintLine("link " + options.linkPath);
  }

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

  if (options.readStdin) fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  bool stdinOpen = options.readStdin;
  LineReader stdinReader;
  std::string pendingOut;
  PrintLine("ready");

  const uint32_t timeoutMs = static_cast<uint32_t>(options.timeoutSeconds) * 1000u;
  auto transmit = [&] {
    uint8_t out[4096];
    const size_t due = display.Transmit(out, sizeof out);
    pendingOut.append(reinterpret_cast<const char*>(out), due);
    if (pendingOut.empty()) return;
    const ssize_t n = write(pty.masterFd(), pendingOut.data(), pendingOut.size());
    if (n > 0) pendingOut.erase(0, static_cast<size_t>(n));
  };

  bool quit = false;
  while (!quit && stopRequested == 0) {
    if (timeoutMs != 0 && clock.Now() >= timeoutMs) break;

    pollfd fds[2];
    nfds_t count = 0;
    fds[count++] = {pty.masterFd(), static_cast<short>(POLLIN | (pendingOut.empty() ? 0 : POLLOUT)),
                    0};
    if (stdinOpen) fds[count++] = {STDIN_FILENO, POLLIN, 0};
    if (poll(fds, count, kPollMs) < 0 && errno != EINTR) break;

    if ((fds[0].revents & POLLIN) != 0) {
      uint8_t buffer[4096];
      const ssize_t n = read(pty.masterFd(), buffer, sizeof buffer);
      if (n > 0) display.Receive(buffer, static_cast<size_t>(n));
    }
    if (count > 1 && (fds[1].revents & (POLLIN | POLLHUP)) != 0)
      stdinOpen = stdinReader.ReadFrom(STDIN_FILENO, &commands);

    while (!interpreter.Busy() && !commands.empty()) {
      const std::string line = commands.front();
      commands.pop_front();
      if (interpreter.Execute(line) == SerialDisplayCommands::Outcome::kQuit) {
        quit = true;
        break;
      }
    }
    transmit();
    if (!stdinOpen && options.readStdin && commands.empty() && !interpreter.Busy()) break;
  }

  // Let the last packets reach the line before the pty goes away.
  const uint32_t flushEnd = clock.Now() + 500;
  while (display.BytesDue() + pendingOut.size() > 0 &&
         static_cast<int32_t>(clock.Now() - flushEnd) < 0) {
    transmit();
    if (!pendingOut.empty()) clock.Sleep(kPollMs);
  }
  return 0;
}
