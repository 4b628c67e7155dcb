// virtual_display: a braille display for people without one. It serves the simulated serial
// display on a pty (optionally linked as a Wine COM port), shows every frame the driver sends
// as a line of Unicode braille, and sends the keys a person or a script presses. With --hid40
// or --hid80 it is the USB model instead, its reports carried over the pty by
// vdisplay_hid_bridge.exe (hid_bridge.cpp); that model has function and routing keys only.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "cell_view.h"
#include "common/command_line.h"
#include "console_io.h"
#include "display_options.h"
#include "hid_commands.h"
#include "key_commands.h"
#include "pty_service.h"
#include "relay_codec.h"
#include "served_serial_display.h"
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
  zol::tools::DisplayOptions display;
  bool verbose = false;
  bool plain = false;
  int hidModel = 0;  // 40 or 80: the HID link through the bridge; 0: the serial link
  Geometry geometry;
};

// False after the line on standard error, with the exit code in *code.
bool ParseOptions(int argc, char** argv, Options* options, int* code) {
  CLI::App app(
      "A braille display in the terminal: serves the display's serial link on a new pty, shows "
      "each frame the driver writes as Unicode braille (status cells apart) and the text it "
      "reads as, and sends the keys you press.",
      "virtual_display");
  zol::tools::AddDisplayOptions(app, &options->display);
  app.add_flag("--verbose", options->verbose, "print every packet received (rx) and sent (tx)");
  app.add_flag("--plain", options->plain,
               "on a terminal too, print every frame below the last one (frames that follow each "
               "other are otherwise drawn over each other)");
  CLI::Option* hid40 = app.add_flag_callback(
      "--hid40", [options] { options->hidModel = 40; },
      "be the 40-cell HID model instead: the pty then carries the reports of "
      "vdisplay_hid_bridge.exe, which serves the device file to the driver under Wine (see "
      "scripts/demo.sh --hid); function and routing keys only");
  CLI::Option* hid80 = app.add_flag_callback(
      "--hid80", [options] { options->hidModel = 80; }, "the same, the 80-cell HID model");
  for (CLI::Option* hid : {hid40, hid80}) {
    hid->excludes(app.get_option("--text"));
    hid->excludes(app.get_option("--status"));
  }
  hid40->excludes(hid80);
  app.footer(
      std::string("Printed: \"pty PATH\", \"link PATH\" and \"ready\" at the start; then for "
                  "every frame \"cells BRAILLE\" and \"text TEXT\"; \"press ...\" for every key "
                  "sent.\n\n") +
      zol::vdisplay::kKeyCommandHelp);
  *code = zol::tools::ParseCommandLine(app, argc, argv);
  if (*code != zol::tools::kCommandLineOk) return false;
  options->geometry = options->hidModel != 0
                          ? Geometry{static_cast<uint8_t>(options->hidModel), 0}
                          : Geometry{static_cast<uint8_t>(options->display.textCells),
                                     static_cast<uint8_t>(options->display.statusCells)};
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
  zol::tools::WriteLine(line);
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

// The serial model: the shared served display, showing the frames it receives.
class SerialSide : public zol::tools::ServedSerialDisplay {
 public:
  SerialSide(zol::Clock& clock, const Options& options) : ServedSerialDisplay(clock, PrintLine) {
    const Geometry& geometry = options.geometry;
    const bool verbose = options.verbose;
    Run("identify " + std::to_string(geometry.textCells) + " " +
        std::to_string(geometry.statusCells));
    display().SetReceiveListener([geometry, verbose](const zol::sim::SerialPacketRecord& record) {
      if (verbose) PrintLine(zol::sim::FormatReceived(record));
      if (!record.goodChecksum) return;
      if (record.type == zol::PKT_CELLS) {
        ShowCells(record.data, geometry);
      } else if (record.type == zol::PKT_IDENTIFY && !verbose) {
        PrintLine("identify: the driver asks for the display");
      }
    });
    if (verbose) {
      display().SetSendListener([](uint8_t type, const std::vector<uint8_t>& data) {
        PrintLine(zol::sim::FormatSent(type, data));
      });
    }
  }

  // The last frame, device order; false when none arrived yet.
  bool LastFrame(std::vector<uint8_t>* frame) {
    if (display().cellFrames().empty()) return false;
    *frame = display().cellFrames().back();
    return true;
  }
};

// The HID model: reports arrive from and go to vdisplay_hid_bridge.exe in relay frames.
class HidSide : public zol::tools::ServedDisplay {
 public:
  HidSide(zol::Clock& clock, const Options& options)
      : display_(clock, options.hidModel == 80 ? zol::sim::HidDisplay::Model80()
                                               : zol::sim::HidDisplay::Model40()),
        interpreter_(display_, clock, PrintLine, [this] { return framesSeen_; }),
        geometry_(options.geometry),
        verbose_(options.verbose) {}

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
  bool LastFrame(std::vector<uint8_t>* frame) {
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
  using LastFrameFn = std::function<bool(std::vector<uint8_t>* frame)>;
  ServedVirtualDisplay(zol::tools::ServedDisplay& side, LastFrameFn lastFrame,
                       const Geometry& geometry)
      : side_(side), lastFrame_(std::move(lastFrame)), geometry_(geometry) {}

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
        if (lastFrame_(&frame)) {
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
  zol::tools::ServedDisplay& side_;
  LastFrameFn lastFrame_;
  Geometry geometry_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int code = 0; !ParseOptions(argc, argv, &options, &code)) return code;

  redrawInPlace = !options.plain && isatty(STDOUT_FILENO) == 1;
  const Geometry& geometry = options.geometry;
  SteadyClock clock;
  std::unique_ptr<zol::tools::ServedDisplay> side;
  ServedVirtualDisplay::LastFrameFn lastFrame;
  if (options.hidModel != 0) {
    auto hid = std::make_unique<HidSide>(clock, options);
    lastFrame = [shown = hid.get()](std::vector<uint8_t>* frame) {
      return shown->LastFrame(frame);
    };
    side = std::move(hid);
  } else {
    auto serial = std::make_unique<SerialSide>(clock, options);
    lastFrame = [shown = serial.get()](std::vector<uint8_t>* frame) {
      return shown->LastFrame(frame);
    };
    side = std::move(serial);
  }
  side->Run(options.display.ackCommand);
  ServedVirtualDisplay served(*side, std::move(lastFrame), geometry);

  zol::tools::PtyService service("virtual_display", options.display.service, PrintLine);
  return service.Run(
      clock, served,
      "display " +
          (options.hidModel != 0 ? "HID " + std::to_string(options.hidModel) + "-cell model, "
                                 : std::string()) +
          std::to_string(geometry.textCells) + " text cells, " +
          std::to_string(geometry.statusCells) + " status cells");
}
