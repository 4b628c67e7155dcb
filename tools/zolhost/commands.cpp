#include "commands.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/braille_text.h"

namespace zol::host {

const char kCommandHelp[] =
    "commands:\n"
    "  write TEXT          show TEXT on the text cells (8-dot computer braille)\n"
    "  writeall TEXT       show TEXT on all cells, status cells first\n"
    "  dots HEX...         show raw dot patterns (bit 0 = dot 1 ... bit 7 = dot 8)\n"
    "  clear               blank the display\n"
    "  suspend | resume    let go of the display / take it back\n"
    "  wait MS             print events for MS milliseconds\n"
    "  expect-key NAME [VALUE] [TIMEOUT_MS]\n"
    "                      wait for that key event (default 5000 ms); fails without it\n"
    "  info                geometry, parameters and identity of the driver\n"
    "  open [PORT] | close open the display again / close it\n"
    "  help | quit\n"
    "Lines starting with # are comments. Key events print as 'key NAME VALUE', keyboard\n"
    "records as 'data XX XX XX', each with the seconds since start.\n";

namespace {

constexpr std::string_view kBlanks = " \t";

struct Syntax {
  const char* name;
  CommandKind kind;
  int minWords;  // words after the command name
  int maxWords;
  const char* usage;
};

constexpr Syntax kSyntax[] = {
    {"write", CommandKind::kWrite, 0, -1, "write TEXT"},
    {"writeall", CommandKind::kWriteAll, 0, -1, "writeall TEXT"},
    {"dots", CommandKind::kDots, 1, -1, "dots HEX..."},
    {"clear", CommandKind::kClear, 0, 0, "clear"},
    {"suspend", CommandKind::kSuspend, 0, 0, "suspend"},
    {"resume", CommandKind::kResume, 0, 0, "resume"},
    {"wait", CommandKind::kWait, 1, 1, "wait MS"},
    {"expect-key", CommandKind::kExpectKey, 1, 3, "expect-key NAME [VALUE] [TIMEOUT_MS]"},
    {"info", CommandKind::kInfo, 0, 0, "info"},
    {"open", CommandKind::kOpen, 0, 1, "open [PORT]"},
    {"close", CommandKind::kClose, 0, 0, "close"},
    {"help", CommandKind::kHelp, 0, 0, "help"},
    {"quit", CommandKind::kQuit, 0, 0, "quit"},
};

// Splits a line into words; a word in double quotes may hold blanks.
bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error) {
  size_t i = 0;
  while (true) {
    i = line.find_first_not_of(kBlanks, i);
    if (i == std::string_view::npos) return true;
    if (line[i] == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) {
        *error = "a double quote is not closed";
        return false;
      }
      words->emplace_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      const size_t end = std::min(line.find_first_of(kBlanks, i), line.size());
      words->emplace_back(line.substr(i, end - i));
      i = end;
    }
  }
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The text of write and writeall: the rest of the line after the command word, without
// surrounding quotes.
std::string RestOfLine(std::string_view line) {
  const size_t wordEnd = line.find_first_of(kBlanks);
  std::string_view rest = wordEnd == std::string_view::npos ? "" : Trim(line.substr(wordEnd));
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
    rest = rest.substr(1, rest.size() - 2);
  }
  return std::string(rest);
}

template <typename Number>
bool ParseNumber(const std::string& word, Number* out) {
  const char* end = word.data() + word.size();
  auto [next, status] = std::from_chars(word.data(), end, *out);
  return status == std::errc() && next == end && !word.empty();
}

bool ParseMilliseconds(const std::string& word, uint32_t* ms, std::string* error) {
  if (!ParseNumber(word, ms) || *ms > kLongestWaitMs) {
    *error = "\"" + word + "\" is not a time in milliseconds (0 to " +
             std::to_string(kLongestWaitMs) + ")";
    return false;
  }
  return true;
}

}  // namespace

LineKind ParseCommand(const std::string& line, Command* command, std::string* error) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == '#') return LineKind::kNothing;

  std::vector<std::string> words;
  if (!SplitWords(trimmed, &words, error)) return LineKind::kError;
  const std::string& name = words.front();
  const Syntax* syntax = nullptr;
  for (const Syntax& candidate : kSyntax) {
    if (name == candidate.name) syntax = &candidate;
  }
  if (syntax == nullptr) {
    *error = "unknown command \"" + name + "\" (help lists the commands)";
    return LineKind::kError;
  }
  const int count = static_cast<int>(words.size()) - 1;
  if (count < syntax->minWords || (syntax->maxWords >= 0 && count > syntax->maxWords)) {
    *error = std::string("wrong number of words, use: ") + syntax->usage;
    return LineKind::kError;
  }

  *command = Command();
  command->kind = syntax->kind;
  switch (syntax->kind) {
    case CommandKind::kWrite:
    case CommandKind::kWriteAll:
      command->text = RestOfLine(trimmed);
      break;
    case CommandKind::kDots:
      for (size_t i = 1; i < words.size(); ++i) {
        uint8_t dots;
        if (!ParseHexDots(words[i], &dots)) {
          *error = "\"" + words[i] + "\" is not a dot pattern (hex 00 to FF)";
          return LineKind::kError;
        }
        command->dots.push_back(dots);
      }
      break;
    case CommandKind::kWait:
      if (!ParseMilliseconds(words[1], &command->milliseconds, error)) return LineKind::kError;
      break;
    case CommandKind::kExpectKey:
      command->text = words[1];
      command->milliseconds = kDefaultExpectKeyMs;
      if (count >= 2) {
        if (!ParseNumber(words[2], &command->value)) {
          *error = "\"" + words[2] + "\" is not a key value (a whole number)";
          return LineKind::kError;
        }
        command->hasValue = true;
      }
      if (count >= 3 && !ParseMilliseconds(words[3], &command->milliseconds, error)) {
        return LineKind::kError;
      }
      break;
    case CommandKind::kOpen:
      command->hasText = count == 1;
      if (command->hasText) command->text = words[1];
      break;
    default:
      break;
  }
  return LineKind::kCommand;
}

}  // namespace zol::host
