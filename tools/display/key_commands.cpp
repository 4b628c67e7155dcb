#include "key_commands.h"

#include <cctype>
#include <cstdint>

#include "sim/serial_display_commands.h"

namespace zol::vdisplay {

namespace {

// Flag bits of a braille keyboard packet: any bit but the command bit marks a chord.
constexpr unsigned kChordFlag = 0x01;
constexpr unsigned kShiftFlag = 0x02;
constexpr unsigned kSecondSet = 0x80;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A decimal number from 1 to max.
bool ParsePosition(const std::string& text, unsigned max, unsigned* value) {
  if (text.empty() || text.size() > 3) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  *value = static_cast<unsigned>(std::stoul(text));
  return *value >= 1 && *value <= max;
}

// The rest of the line after the first word and one blank.
std::string RestOfLine(const std::string& line, const std::string& word) {
  const size_t start = line.find(word) + word.size();
  return start < line.size() ? line.substr(start + 1) : std::string();
}

KeyCommand Error(std::string message) {
  KeyCommand command;
  command.kind = KeyCommand::Kind::kError;
  command.error = std::move(message);
  return command;
}

KeyCommand Sim(std::string simLine, std::string note) {
  KeyCommand command;
  command.kind = KeyCommand::Kind::kSim;
  command.simLines.push_back(std::move(simLine));
  command.note = std::move(note);
  return command;
}

KeyCommand RoutingKey(const std::string& word, const std::vector<std::string>& words,
                      const Geometry& geometry) {
  const bool status = word.rfind("status", 0) == 0;
  const bool second = word.back() == '2';
  const unsigned count = status ? geometry.statusCells : geometry.textCells;
  unsigned position = 0;
  if (words.size() != 2 || !ParsePosition(words[1], count, &position)) {
    if (count == 0)
      return Error("this display has no " + std::string(status ? "status" : "text") + " cells");
    return Error("usage: " + word + " N, N from 1 to " + std::to_string(count));
  }
  unsigned code = status ? position : geometry.statusCells + position;
  if (code >= kSecondSet) return Error("cell " + std::to_string(position) + " has no routing key");
  if (second) code |= kSecondSet;
  const std::string where = status ? "status key " + std::to_string(position)
                                   : "routing key over cell " + std::to_string(position);
  return Sim("route " + std::to_string(code), "press " + where + (second ? " (second set)" : ""));
}

}  // namespace

bool ParseDotNumbers(const std::string& text, uint8_t* dots) {
  if (text == "0") {
    *dots = 0;
    return true;
  }
  if (text.empty()) return false;
  uint8_t bits = 0;
  for (char c : text) {
    if (c < '1' || c > '8') return false;
    const uint8_t bit = static_cast<uint8_t>(1u << (c - '1'));
    if ((bits & bit) != 0) return false;
    bits |= bit;
  }
  *dots = bits;
  return true;
}

KeyCommand ParseKeyCommand(const std::string& line, const Geometry& geometry) {
  const std::vector<std::string> words = sim::SplitCommandWords(line);
  if (words.empty() || words[0][0] == '#') return KeyCommand();
  const std::string word = Lower(words[0]);

  if (word == "help" && words.size() == 1) {
    KeyCommand command;
    command.kind = KeyCommand::Kind::kHelp;
    return command;
  }
  if (word == "help" && words.size() == 2 && Lower(words[1]) == "all") {
    KeyCommand command;
    command.kind = KeyCommand::Kind::kHelpAll;
    return command;
  }
  if (word == "show" && words.size() == 1) {
    KeyCommand command;
    command.kind = KeyCommand::Kind::kShow;
    return command;
  }
  if (words.size() == 1 && sim::FunctionKeyCode(words[0]) >= 0)
    return Sim("key " + words[0], "press " + words[0]);
  if (word == "press") {
    if (words.size() < 2) return Error("usage: press KEY... (F1-F10 LF UP RG DN, prefix S L SL)");
    KeyCommand command = Sim("", "press");
    command.simLines.clear();
    for (size_t i = 1; i < words.size(); ++i) {
      if (sim::FunctionKeyCode(words[i]) < 0) return Error("unknown key " + words[i]);
      command.simLines.push_back("key " + words[i]);
      command.note += " " + words[i];
    }
    return command;
  }
  if (word == "cell" || word == "cell2" || word == "status" || word == "status2")
    return RoutingKey(word, words, geometry);
  if (word == "chord") {
    const bool shift = words.size() == 3 && Lower(words[1]) == "shift";
    uint8_t dots = 0;
    if (words.size() != (shift ? 3u : 2u) || !ParseDotNumbers(words.back(), &dots))
      return Error("usage: chord [shift] DOTS, dots as digits 1-8 (e.g. chord 125), 0 for none");
    const unsigned flags = kChordFlag | (shift ? kShiftFlag : 0u);
    return Sim("braille " + std::to_string(flags) + " " + std::to_string(dots) + " 0",
               std::string("press chord ") + (shift ? "shift " : "") + "dots " + words.back());
  }
  if (word == "type") {
    const std::string text = RestOfLine(line, words[0]);
    return Sim("text " + text, "type \"" + text + "\"");
  }
  KeyCommand command;
  command.kind = KeyCommand::Kind::kSim;
  command.simLines.push_back(line);
  return command;
}

const char kKeyCommandHelp[] = R"(Keys of the display:
  F1 ... F10 LF UP RG DN     a function key; prefix S, L or SL for the others (SF3, SLDN)
  press KEY...               several function keys in turn
  cell N      cell2 N        the routing key above text cell N (1 = leftmost); 2: second set
  status N    status2 N      status key N
  chord [shift] DOTS         a braille keyboard chord, dots as digits 1-8: chord 125
  type TEXT                  typed text
Display:
  show                       print the cells again
  help                       this text; "help all" lists the simulator's own commands too
  quit                       end
)";

}  // namespace zol::vdisplay
