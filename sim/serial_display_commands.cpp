#include "sim/serial_display_commands.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace zol::sim {

namespace {

struct TypeName {
  uint8_t type;
  const char* name;
};

constexpr TypeName kTypeNames[] = {
    {PKT_CELLS, "CELLS"},
    {PKT_FUNCTION_KEY, "FUNCTION_KEY"},
    {PKT_ROUTING_KEY, "ROUTING_KEY"},
    {PKT_CHARACTER, "CHARACTER"},
    {PKT_SCAN_CODE, "SCAN_CODE"},
    {PKT_BRAILLE_KEYS, "BRAILLE_KEYS"},
    {PKT_TEXT, "TEXT"},
    {PKT_IDENTIFY, "IDENTIFY"},
    {PKT_IDENTIFY_REPLY, "IDENTIFY_REPLY"},
    {PKT_IDENTIFY_CONFIRM, "IDENTIFY_CONFIRM"},
    {PKT_ACK, "ACK"},
};

// Function-key names by position in a group of 16 codes; groups add the prefixes below.
constexpr const char* kFunctionKeyNames[] = {"F1", "F2", "F3",  "F4", "F5", "F6", "F7",
                                             "F8", "F9", "F10", "LF", "UP", "RG", "DN"};
constexpr const char* kFunctionKeyPrefixes[] = {"", "S", "L", "SL"};

// Hexadecimal, one or two digits, as the output lines print bytes.
bool ParseHexByte(const std::string& text, uint8_t* value) {
  if (text.empty() || text.size() > 2) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  *value = static_cast<uint8_t>(std::strtoul(text.c_str(), nullptr, 16));
  return true;
}

bool ParseHexBytes(const std::vector<std::string>& words, size_t first,
                   std::vector<uint8_t>* bytes) {
  for (size_t i = first; i < words.size(); ++i) {
    uint8_t b = 0;
    if (!ParseHexByte(words[i], &b)) return false;
    bytes->push_back(b);
  }
  return true;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char digits[4];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, " %02X", b);
    out += digits;
  }
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string DescribeAck(const SerialDisplay& display) {
  const std::string parameter = std::to_string(display.cellsAckParameter());
  switch (display.cellsAckPolicy()) {
    case CellsAckPolicy::kAll:
      return "ack all";
    case CellsAckPolicy::kNone:
      return "ack none";
    case CellsAckPolicy::kDropFirst:
      return "ack drop " + parameter;
    case CellsAckPolicy::kDelay:
      return "ack delay " + parameter;
  }
  return "ack all";
}

}  // namespace

std::vector<std::string> SplitCommandWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

bool ParseCommandNumber(const std::string& text, uint32_t max, uint32_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  const unsigned long long v =
      std::strtoull(text.c_str(), &end, text.rfind("0x", 0) == 0 ? 16 : 10);
  if (*end != '\0' || v > max) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

std::string SerialPacketTypeName(uint8_t type) {
  for (const TypeName& t : kTypeNames)
    if (t.type == type) return t.name;
  return "TYPE" + std::to_string(type);
}

bool ParseSerialPacketType(const std::string& text, uint8_t* type) {
  const std::string upper = Upper(text);
  for (const TypeName& t : kTypeNames) {
    if (upper == t.name) {
      *type = t.type;
      return true;
    }
  }
  uint32_t value = 0;
  const std::string number = upper.rfind("TYPE", 0) == 0 ? upper.substr(4) : text;
  if (!ParseCommandNumber(number, 255, &value)) return false;
  *type = static_cast<uint8_t>(value);
  return true;
}

int FunctionKeyCode(const std::string& name) {
  const std::string upper = Upper(name);
  // Longest prefix first, so that SLF1 is not read as S + LF1.
  for (int group : {3, 2, 1, 0}) {
    const std::string prefix = kFunctionKeyPrefixes[group];
    if (upper.rfind(prefix, 0) != 0) continue;
    const std::string base = upper.substr(prefix.size());
    for (int i = 0; i < 14; ++i)
      if (base == kFunctionKeyNames[i]) return group * 16 + i + 1;
  }
  return -1;
}

std::string FormatReceived(const SerialPacketRecord& record) {
  return std::string(record.goodChecksum ? "rx " : "rx-bad ") + SerialPacketTypeName(record.type) +
         Hex(record.data);
}

std::string FormatSent(uint8_t type, const std::vector<uint8_t>& data) {
  return "tx " + SerialPacketTypeName(type) + Hex(data);
}

SerialDisplayCommands::Outcome SerialDisplayCommands::Execute(const std::string& line) {
  const std::vector<std::string> words = SplitCommandWords(line);
  if (words.empty() || words[0][0] == '#') return Outcome::kDone;
  const std::string& command = words[0];
  const size_t argc = words.size() - 1;
  uint32_t a = 0, b = 0, c = 0;
  Outcome shared = Outcome::kDone;
  if (RunShared(words, line, &shared)) return shared;

  if (command == "key" && argc == 1) {
    int code = FunctionKeyCode(words[1]);
    if (code < 0) {
      if (!ParseCommandNumber(words[1], 255, &a)) return Fail("unknown key " + words[1]);
      code = static_cast<int>(a);
    }
    display_.SendFunctionKey(static_cast<uint8_t>(code));
  } else if (command == "route" && argc == 1 && ParseCommandNumber(words[1], 255, &a)) {
    display_.SendRoutingKey(static_cast<uint8_t>(a));
  } else if (command == "char" && argc == 1 && ParseCommandNumber(words[1], 0xFFFF, &a)) {
    display_.SendCharacter(static_cast<uint16_t>(a));
  } else if (command == "scan" && argc == 1 && ParseCommandNumber(words[1], 0xFFFF, &a)) {
    display_.SendScanCode(static_cast<uint16_t>(a));
  } else if (command == "braille" && argc == 3 && ParseCommandNumber(words[1], 255, &a) &&
             ParseCommandNumber(words[2], 255, &b) && ParseCommandNumber(words[3], 255, &c)) {
    display_.SendBrailleKeys(static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                             static_cast<uint8_t>(c));
  } else if (command == "text") {
    const size_t start = line.find("text") + 4;
    display_.SendText(start < line.size() ? line.substr(start + 1) : std::string());
  } else if (command == "packet" && argc >= 1) {
    uint8_t type = 0;
    std::vector<uint8_t> data;
    if (!ParseSerialPacketType(words[1], &type) || !ParseHexBytes(words, 2, &data) ||
        data.size() > kSerialReceiveCapacity)
      return Fail("usage: packet TYPE [HEX-BYTE...]");
    display_.SendPacket(type, data);
  } else if (command == "raw" && argc >= 1) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(words, 1, &bytes)) return Fail("usage: raw HEX-BYTE...");
    display_.SendRaw(bytes);
  } else if (command == "identify" && argc >= 1) {
    if (words[1] == "off" && argc == 1) {
      display_.SetAnswerIdentify(false);
    } else if (words[1] == "on" && argc == 1) {
      display_.SetAnswerIdentify(true);
    } else if (words[1] == "ignore" && argc == 2 && ParseCommandNumber(words[2], UINT32_MAX, &a)) {
      display_.IgnoreIdentifies(a);
    } else if (words[1] == "delay" && argc == 2 && ParseCommandNumber(words[2], UINT32_MAX, &a)) {
      display_.SetIdentifyReplyDelay(a);
    } else if (words[1] == "data") {
      std::vector<uint8_t> data;
      if (!ParseHexBytes(words, 2, &data) || data.size() > kSerialReceiveCapacity)
        return Fail("usage: identify data [HEX-BYTE...]");
      display_.SetIdentifyReply(data);
    } else if ((argc == 2 || argc == 4) && ParseCommandNumber(words[1], 255, &a) &&
               ParseCommandNumber(words[2], 255, &b)) {
      uint32_t info1 = 0, info2 = 0;
      if (argc == 4 && (!ParseCommandNumber(words[3], 255, &info1) ||
                        !ParseCommandNumber(words[4], 255, &info2)))
        return Fail("usage: identify TEXT STATUS [INFO1 INFO2]");
      display_.SetGeometry(static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                           static_cast<uint8_t>(info1), static_cast<uint8_t>(info2));
    } else {
      return Fail(
          "usage: identify TEXT STATUS [INFO1 INFO2] | on | off | ignore N | delay MS | "
          "data [HEX-BYTE...]");
    }
  } else if (command == "ack" && argc >= 1) {
    if (words[1] == "all" && argc == 1) {
      display_.SetCellsAck(CellsAckPolicy::kAll);
    } else if (words[1] == "none" && argc == 1) {
      display_.SetCellsAck(CellsAckPolicy::kNone);
    } else if (words[1] == "drop" && argc == 2 && ParseCommandNumber(words[2], UINT32_MAX, &a)) {
      display_.SetCellsAck(CellsAckPolicy::kDropFirst, a);
    } else if (words[1] == "delay" && argc == 2 && ParseCommandNumber(words[2], UINT32_MAX, &a)) {
      display_.SetCellsAck(CellsAckPolicy::kDelay, a);
    } else {
      return Fail("usage: ack all | none | drop N | delay MS");
    }
  } else if (command == "silent" && argc == 1 && (words[1] == "on" || words[1] == "off")) {
    display_.SetSilent(words[1] == "on");
  } else if (command == "cells?" && argc == 0) {
    const auto& frames = display_.cellFrames();
    output_(frames.empty() ? std::string("cells none") : "cells" + Hex(frames.back()));
  } else if (command == "count?" && argc == 1) {
    uint8_t type = 0;
    if (!ParseSerialPacketType(words[1], &type)) return Fail("unknown type " + words[1]);
    output_("count " + SerialPacketTypeName(type) + " " +
            std::to_string(display_.CountPackets(type)));
  } else if (command == "ack?" && argc == 0) {
    output_(DescribeAck(display_));
  } else if (command == "identify?" && argc == 0) {
    output_("identify" + Hex(display_.identifyReply()));
  } else if (command == "wait" && argc >= 1 && argc <= 3) {
    uint8_t type = 0;
    if (!ParseSerialPacketType(words[1], &type) || !ParseWait(words, &a, &b))
      return Fail("usage: wait TYPE [COUNT [MS]]");
    return Wait(b, SerialPacketTypeName(type),
                [this, type, count = a] { return display_.CountPackets(type) >= count; });
  } else {
    return Fail("cannot run: " + line);
  }
  return Outcome::kDone;
}

const char* SerialDisplayCommands::Help() {
  return R"(Commands, one per line (blank lines and lines starting with # are skipped).
Numbers are decimal or 0x-prefixed hexadecimal; byte lists are hexadecimal, as printed.
Keys and packets the display sends:
  key NAME|CODE          function key: F1-F10 LF UP RG DN, prefixed S, L or SL; or a code
  route CODE             routing or status key code (bit 7: second set)
  char CODE              16-bit character code
  scan CODE              16-bit scan code (scan-code set 2 byte, or prefix E0/F0)
  braille FLAGS DOTS CHAR  braille keyboard: chord flags, dot bits or command, character code
  text TEXT              typed text: the rest of the line (count byte, text, zero byte)
  packet TYPE [BYTE...]  any packet with a correct checksum; TYPE a name below or a number
  raw BYTE...            bytes as they are (bad checksums, broken framing)
Behaviour:
  identify TEXT STATUS [INFO1 INFO2]   geometry given in the identify reply
  identify data [BYTE...]              the identify reply's data bytes as they are
  identify on | off | ignore N | delay MS
  ack all | none | drop N | delay MS   acknowledgement of display frames (CELLS)
  silent on | off        on: send nothing at all (what was waiting is dropped), still receive
Queries:
  cells?                 prints "cells BYTE..." (the last frame) or "cells none"
  count? TYPE            prints "count TYPE N": good packets of TYPE received
  ack?                   prints the acknowledgement policy
  identify?              prints "identify BYTE...": the reply's data
Scripting:
  sleep MS               pause the commands (the display keeps serving)
  wait TYPE [COUNT [MS]] pause until COUNT (1) packets of TYPE were received in all, or MS
                         (10000) passed; prints "wait TYPE ok" or "wait TYPE timeout"
  echo TEXT              prints TEXT
  quit                   ends the program
Printed as it happens:
  rx TYPE BYTE...        a packet received from the driver ("rx-bad" with a bad checksum)
  tx TYPE BYTE...        a packet the display sends
  error MESSAGE          a command that cannot run
Types: CELLS FUNCTION_KEY ROUTING_KEY CHARACTER SCAN_CODE BRAILLE_KEYS TEXT IDENTIFY
  IDENTIFY_REPLY IDENTIFY_CONFIRM ACK, or TYPEn / n for any other type number.
)";
}

}  // namespace zol::sim
