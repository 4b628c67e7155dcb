// virtual_display: a braille display for people without one. It serves the simulated serial
// display on a pty (optionally linked as a Wine COM port), shows every frame the driver sends
// as a line of Unicode braille, and sends the keys a person or a script presses. With --hid40
// or --hid80 it is the USB model instead, its reports carried over the pty by
// vdisplay_hid_bridge.exe (hid_bridge.cpp); that model has function and routing keys only.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "cell_view.h"
#include "hid_commands.h"
#include "key_commands.h"
#include "relay_codec.h"
#include "serial_display_sim/console_io.h"
#include "serial_display_sim/pty_service.h"
#include "sim/hid_display.h"
#include "sim/serial_display.h"
#include "sim/serial_display_commands.h"

namespace {

using zol::sim::SerialDisplay;
using zol::sim::SerialDisplayCommands;
using zol::tools::SteadyClock;
using zol::vdisplay::Geometry;
using zol::vdisplay::KeyCommand;

struct Options {
  zol::tools::PtyServiceOptions service;
  bool verbose = false;
  bool plain = false;
  Geometry geometry;
  std::string ackCommand = "ack all";
  int hidModel = 0;  // 40 or 80: the HID link through the bridge; 0: the serial link
};

void PrintUsage() {
  std::printf(
      "Usage: virtual_display [OPTION...]\n"
      "A braille display in the terminal: serves the display's serial link on a new pty,\n"
      "shows each frame the driver writes as Unicode braille (status cells apart) and the\n"
      "text it reads as, and sends the keys you press.\n"
      "\n"
      "Options:\n"
      "  --link PATH        make PATH a symbolic link to the pty, e.g.\n"
      "                     $WINEPREFIX/dosdevices/com41 (COM41 under Wine); removed at exit\n"
      "  --path-file FILE   write the pty's path to FILE\n"
      "  --text N           text cells, 1 to 80 (40)\n"
      "  --status N         status cells, 0 to 8 (2)\n"
      "  --ack POLICY       acknowledge display frames: all | none | drop:N | delay:MS (all)\n"
      "  --script FILE      run the commands in FILE first, then those on standard input\n"
      "  --no-stdin         read no commands from standard input; serve until quit, a signal\n"
      "                     or --timeout (otherwise the end of standard input ends it)\n"
      "  --timeout SECONDS  end after this long\n"
      "  --verbose          print every packet received (rx) and sent (tx)\n"
      "  --plain            on a terminal too, print every frame below the last one (frames\n"
      "                     that follow each other are otherwise drawn over each other)\n"
      "  --hid40, --hid80   be the 40- or 80-cell HID model instead: the pty then carries the\n"
      "                     reports of vdisplay_hid_bridge.exe, which serves the device file\n"
      "                     to the driver under Wine (see scripts/demo.sh --hid); function\n"
      "                     and routing keys only\n"
      "  --help             this text\n"
      "\n"
      "Printed: \"pty PATH\", \"link PATH\" and \"ready\" at the start; then for every frame\n"
      "\"cells BRAILLE\" and \"text TEXT\"; \"press ...\" for every key sent.\n"
      "\n%s",
      zol::vdisplay::kKeyCommandHelp);
}

// A whole decimal number from min to max.
bool ParseRange(const char* text, long min, long max, long* value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < min || v > max) return false;
  *value = v;
  return true;
}

bool ParseAck(const std::string& policy, std::string* command) {
  const size_t colon = policy.find(':');
  const std::string name = policy.substr(0, colon);
  long number = 0;
  if (colon == std::string::npos && (name == "all" || name == "none")) {
    *command = "ack " + name;
    return true;
  }
  if (colon != std::string::npos && (name == "drop" || name == "delay") &&
      ParseRange(policy.c_str() + colon + 1, 0, 3600000, &number)) {
    *command = "ack " + name + " " + std::to_string(number);
    return true;
  }
  return false;
}

// False with a message on standard error for anything it cannot use.
bool ParseOptions(int argc, char** argv, Options* options) {
  auto fail = [](const std::string& message) {
    std::fprintf(stderr, "virtual_display: %s (see --help)\n", message.c_str());
    return false;
  };
  bool geometryGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue = arg == "--link" || arg == "--path-file" || arg == "--script" ||
                            arg == "--timeout" || arg == "--text" || arg == "--status" ||
                            arg == "--ack";
    if (takesValue && i + 1 >= argc) return fail(arg + " needs a value");
    const char* value = takesValue ? argv[++i] : "";
    long number = 0;
    if (arg == "--help") {
      PrintUsage();
      std::exit(0);
    } else if (arg == "--link") {
      options->service.linkPath = value;
    } else if (arg == "--path-file") {
      options->service.pathFile = value;
    } else if (arg == "--script") {
      options->service.scriptFile = value;
    } else if (arg == "--no-stdin") {
      options->service.readStdin = false;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--plain") {
      options->plain = true;
    } else if (arg == "--hid40" || arg == "--hid80") {
      if (options->hidModel != 0) return fail("--hid40 and --hid80 exclude each other");
      options->hidModel = arg == "--hid40" ? 40 : 80;
    } else if (arg == "--timeout") {
      if (!ParseRange(value, 1, 86400, &number))
        return fail("--timeout takes seconds from 1 to 86400, not " + std::string(value));
      options->service.timeoutSeconds = number;
    } else if (arg == "--text") {
      if (!ParseRange(value, 1, 80, &number))
        return fail("--text takes a number of cells from 1 to 80, not " + std::string(value));
      options->geometry.textCells = static_cast<uint8_t>(number);
      geometryGiven = true;
    } else if (arg == "--status") {
      if (!ParseRange(value, 0, 8, &number))
        return fail("--status takes a number of cells from 0 to 8, not " + std::string(value));
      options->geometry.statusCells = static_cast<uint8_t>(number);
      geometryGiven = true;
    } else if (arg == "--ack") {
      if (!ParseAck(value, &options->ackCommand))
        return fail("--ack takes all, none, drop:N or delay:MS, not " + std::string(value));
    } else {
      return fail("unknown option " + arg);
    }
  }
  if (options->hidModel != 0) {
    if (geometryGiven)
      return fail("--hid40 and --hid80 fix the geometry; leave out --text and --status");
    options->geometry = Geometry{static_cast<uint8_t>(options->hidModel), 0};
  }
  return true;
}

// On a terminal, frames that follow each other with nothing else between them are drawn over
// the previous one instead of scrolling.
bool redrawInPlace = false;
bool cellsAreLast = false;  // the last lines on the screen are the cells and their text
int cellsRows = 0;          // how many rows of the terminal they take

// Rows a line takes on the terminal: one column per character (braille patterns included).
int RowsOnTerminal(const std::string& line) {
  winsize size{};
  const int width =
      ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  int columns = 0;
  for (unsigned char c : line)
    if ((c & 0xC0) != 0x80) ++columns;
  return columns == 0 ? 1 : (columns + width - 1) / width;
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  cellsAreLast = false;
}

void PrintText(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
  cellsAreLast = false;
}

void ShowCells(const std::vector<uint8_t>& frame, const Geometry& geometry) {
  const std::vector<uint8_t> cells = zol::vdisplay::FrameToHostCells(frame, geometry);
  const std::string braille = "cells " + zol::vdisplay::RenderBrailleLine(cells, geometry);
  const std::string text = "text " + zol::vdisplay::RenderText(cells, geometry);
  // Up to the first row of the previous frame, and clear from there down.
  if (redrawInPlace && cellsAreLast) std::printf("\033[%dF\033[J", cellsRows);
  PrintLine(braille);
  PrintLine(text);
  cellsAreLast = true;
  if (redrawInPlace) cellsRows = RowsOnTerminal(braille) + RowsOnTerminal(text);
}

// One link of the display: the bytes on the pty, the frames shown and the control language.
class DisplaySide : public zol::tools::ServedDisplay {
 public:
  // The last frame, device order; false when none arrived yet.
  virtual bool LastFrame(std::vector<uint8_t>* frame) = 0;
};

class SerialSide : public DisplaySide {
 public:
  SerialSide(zol::Clock& clock, const Options& options)
      : display_(clock), interpreter_(display_, clock, PrintLine) {
    const Geometry& geometry = options.geometry;
    const bool verbose = options.verbose;
    display_.SetGeometry(geometry.textCells, geometry.statusCells);
    display_.SetReceiveListener([geometry, verbose](const zol::sim::SerialPacketRecord& record) {
      if (verbose) PrintLine(zol::sim::FormatReceived(record));
      if (!record.goodChecksum) return;
      if (record.type == zol::PKT_CELLS) {
        ShowCells(record.data, geometry);
      } else if (record.type == zol::PKT_IDENTIFY && !verbose) {
        PrintLine("identify: the driver asks for the display");
      }
    });
    if (verbose) {
      display_.SetSendListener([](uint8_t type, const std::vector<uint8_t>& data) {
        PrintLine(zol::sim::FormatSent(type, data));
      });
    }
    interpreter_.Execute(options.ackCommand);
  }

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
  bool LastFrame(std::vector<uint8_t>* frame) override {
    if (display_.cellFrames().empty()) return false;
    *frame = display_.cellFrames().back();
    return true;
  }

 private:
  SerialDisplay display_;
  SerialDisplayCommands interpreter_;
};

// The HID model: reports arrive from and go to vdisplay_hid_bridge.exe in relay frames.
class HidSide : public DisplaySide {
 public:
  HidSide(zol::Clock& clock, const Options& options)
      : display_(clock, options.hidModel == 80 ? zol::sim::HidDisplay::Model80()
                                               : zol::sim::HidDisplay::Model40()),
        interpreter_(display_, clock, PrintLine, [this] { return framesSeen_; }),
        geometry_(options.geometry),
        verbose_(options.verbose) {
    interpreter_.Execute(options.ackCommand);
  }

  void Receive(const uint8_t* bytes, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      switch (reader_.Feed(bytes[i])) {
        case zol::vdisplay::RelayReader::Result::kPending:
          break;
        case zol::vdisplay::RelayReader::Result::kGoodbye:
          PrintLine("bridge: ended");
          break;
        case zol::vdisplay::RelayReader::Result::kReport:
          Report(reader_.report());
          break;
      }
    }
  }
  void Transmit(std::string* out) override {
    uint8_t report[zol::vdisplay::kRelayMaxReport];
    for (size_t n; (n = display_.PeekInput(report, sizeof report)) > 0;) {
      const std::vector<uint8_t> frame = zol::vdisplay::EncodeRelayFrame(report, n);
      if (verbose_) PrintLine("tx report" + Hex(report, n));
      out->append(frame.begin(), frame.end());
      display_.PopInput();
    }
  }
  bool Run(const std::string& line) override {
    return interpreter_.Execute(line) != zol::vdisplay::HidDisplayCommands::Outcome::kQuit;
  }
  bool Busy() override { return interpreter_.Busy(); }
  bool LastFrame(std::vector<uint8_t>* frame) override {
    if (framesSeen_ == 0) return false;
    *frame = lastFrame_;
    return true;
  }
  std::string Goodbye() override {
    const std::vector<uint8_t> frame = zol::vdisplay::RelayGoodbye();
    return std::string(frame.begin(), frame.end());
  }

 private:
  static std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(digits, sizeof digits, " %02X", bytes[i]);
      text += digits;
    }
    return text;
  }

  void Report(const std::vector<uint8_t>& report) {
    if (verbose_) PrintLine("rx report" + Hex(report.data(), report.size()));
    display_.OnOutputReport(report.data(), report.size());
    if (display_.handshakeRequests() > 0 && !verbose_)
      PrintLine("identify: the driver asks for the display");
    const auto frames = display_.frames();
    if (!frames.empty()) {
      lastFrame_ = frames.back();
      framesSeen_ += frames.size();
      ShowCells(lastFrame_, geometry_);
    }
    // The display keeps a record of everything; only the last frame matters here.
    display_.ClearRecords();
  }

  zol::sim::HidDisplay display_;
  zol::vdisplay::HidDisplayCommands interpreter_;
  zol::vdisplay::RelayReader reader_;
  Geometry geometry_;
  bool verbose_;
  std::vector<uint8_t> lastFrame_;
  size_t framesSeen_ = 0;
};

// The display side as the pty service drives it: key commands first, everything else
// through the side's control language.
class ServedVirtualDisplay : public zol::tools::ServedDisplay {
 public:
  ServedVirtualDisplay(DisplaySide& side, const Geometry& geometry)
      : side_(side), geometry_(geometry) {}

  void Receive(const uint8_t* bytes, size_t count) override { side_.Receive(bytes, count); }
  void Transmit(std::string* out) override { side_.Transmit(out); }
  bool Busy() override { return side_.Busy(); }
  void OnInputRead() override { cellsAreLast = false; }  // the echo went below the cells
  std::string Goodbye() override { return side_.Goodbye(); }

  bool Run(const std::string& line) override {
    const KeyCommand command = zol::vdisplay::ParseKeyCommand(line, geometry_);
    std::vector<uint8_t> frame;
    switch (command.kind) {
      case KeyCommand::Kind::kNothing:
        return true;
      case KeyCommand::Kind::kError:
        PrintLine("error " + command.error);
        return true;
      case KeyCommand::Kind::kHelp:
        PrintText(zol::vdisplay::kKeyCommandHelp);
        return true;
      case KeyCommand::Kind::kHelpAll:
        PrintText(zol::vdisplay::kKeyCommandHelp);
        PrintText(SerialDisplayCommands::Help());
        return true;
      case KeyCommand::Kind::kShow:
        if (side_.LastFrame(&frame)) {
          ShowCells(frame, geometry_);
        } else {
          PrintLine("cells none yet");
        }
        return true;
      case KeyCommand::Kind::kSim:
        break;
    }
    if (!command.note.empty()) PrintLine(command.note);
    for (const std::string& simLine : command.simLines)
      if (!side_.Run(simLine)) return false;
    return true;
  }

 private:
  DisplaySide& side_;
  Geometry geometry_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;

  std::deque<std::string> commands;
  zol::tools::PtyService service("virtual_display", options.service, PrintLine);
  if (const int failure = service.Start(&commands); failure != 0) return failure;

  redrawInPlace = !options.plain && isatty(STDOUT_FILENO) == 1;
  const Geometry& geometry = options.geometry;
  SteadyClock clock;
  std::unique_ptr<DisplaySide> side;
  if (options.hidModel != 0) {
    side = std::make_unique<HidSide>(clock, options);
  } else {
    side = std::make_unique<SerialSide>(clock, options);
  }
  ServedVirtualDisplay served(*side, geometry);

  PrintLine("display " +
            (options.hidModel != 0 ? "HID " + std::to_string(options.hidModel) + "-cell model, "
                                   : std::string()) +
            std::to_string(geometry.textCells) + " text cells, " +
            std::to_string(geometry.statusCells) + " status cells");
  PrintLine("ready");
  service.Serve(clock, served, std::move(commands));
  return 0;
}
