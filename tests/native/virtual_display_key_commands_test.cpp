#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_commands.h"
#include "sim/serial_display_commands.h"

namespace zol::vdisplay {
namespace {

using Kind = KeyCommand::Kind;
using Lines = std::vector<std::string>;

const Geometry kTwoStatus{40, 2};

Lines Sim(const std::string& line, const Geometry& geometry = kTwoStatus) {
  const KeyCommand command = ParseKeyCommand(line, geometry);
  EXPECT_EQ(command.kind, Kind::kSim) << line << ": " << command.error;
  return command.simLines;
}

std::string Error(const std::string& line, const Geometry& geometry = kTwoStatus) {
  const KeyCommand command = ParseKeyCommand(line, geometry);
  EXPECT_EQ(command.kind, Kind::kError) << line;
  return command.error;
}

TEST(VirtualDisplayKeys, FunctionKeysByNameInEveryGroup) {
  EXPECT_EQ(Sim("F1"), Lines{"key F1"});
  EXPECT_EQ(Sim("sldn"), Lines{"key sldn"});
  EXPECT_EQ(Sim("press F3 SF3 LUP SLF10"), (Lines{"key F3", "key SF3", "key LUP", "key SLF10"}));
  EXPECT_EQ(ParseKeyCommand("press F1", kTwoStatus).note, "press F1");
  EXPECT_EQ(Error("press F1 F11"), "unknown key F11");
  EXPECT_NE(Error("press").find("usage"), std::string::npos);
}

TEST(VirtualDisplayKeys, FunctionKeyNamesGiveTheirCodes) {
  EXPECT_EQ(zol::sim::FunctionKeyCode("F1"), 1);
  EXPECT_EQ(zol::sim::FunctionKeyCode("F10"), 10);
  EXPECT_EQ(zol::sim::FunctionKeyCode("DN"), 14);
  EXPECT_EQ(zol::sim::FunctionKeyCode("SF3"), 19);
  EXPECT_EQ(zol::sim::FunctionKeyCode("LF"), 11);
  EXPECT_EQ(zol::sim::FunctionKeyCode("LLF"), 43);
  EXPECT_EQ(zol::sim::FunctionKeyCode("SLF1"), 49);
  EXPECT_EQ(zol::sim::FunctionKeyCode("SLUP"), 60);
  EXPECT_EQ(zol::sim::FunctionKeyCode("F11"), -1);
  EXPECT_EQ(zol::sim::FunctionKeyCode("X"), -1);
}

TEST(VirtualDisplayKeys, RoutingKeysCountStatusCellsFirst) {
  EXPECT_EQ(Sim("cell 1"), Lines{"route 3"});
  EXPECT_EQ(Sim("cell 40"), Lines{"route 42"});
  EXPECT_EQ(Sim("cell2 5"), Lines{"route 135"});  // 0x80 | 7
  EXPECT_EQ(Sim("status 2"), Lines{"route 2"});
  EXPECT_EQ(Sim("status2 1"), Lines{"route 129"});
  EXPECT_EQ(Sim("cell 1", Geometry{80, 0}), Lines{"route 1"});
  EXPECT_EQ(Sim("cell 80", Geometry{80, 4}), Lines{"route 84"});
  EXPECT_EQ(ParseKeyCommand("cell 3", kTwoStatus).note, "press routing key over cell 3");
}

TEST(VirtualDisplayKeys, RoutingKeysOutsideTheLineAreRefused) {
  EXPECT_EQ(Error("cell 0"), "usage: cell N, N from 1 to 40");
  EXPECT_EQ(Error("cell 41"), "usage: cell N, N from 1 to 40");
  EXPECT_EQ(Error("cell -1"), "usage: cell N, N from 1 to 40");
  EXPECT_EQ(Error("cell 1 2"), "usage: cell N, N from 1 to 40");
  EXPECT_EQ(Error("status 3"), "usage: status N, N from 1 to 2");
  EXPECT_EQ(Error("status 1", Geometry{40, 0}), "this display has no status cells");
  EXPECT_EQ(Error("cell2 80", Geometry{80, 48}), "cell 80 has no routing key");  // code 128
}

TEST(VirtualDisplayKeys, ChordsSendDotBitsWithTheChordFlag) {
  EXPECT_EQ(Sim("chord 125"), Lines{"braille 1 19 0"});
  EXPECT_EQ(Sim("chord shift 14"), Lines{"braille 3 9 0"});
  EXPECT_EQ(Sim("chord 12345678"), Lines{"braille 1 255 0"});
  EXPECT_EQ(Sim("chord 0"), Lines{"braille 1 0 0"});
  for (const char* bad : {"chord", "chord 9", "chord 11", "chord 1a", "chord shift", "chord up 1"})
    EXPECT_NE(Error(bad).find("usage: chord"), std::string::npos) << bad;
}

TEST(VirtualDisplayKeys, DotNumbers) {
  uint8_t dots = 0xAA;
  EXPECT_TRUE(ParseDotNumbers("81", &dots));
  EXPECT_EQ(dots, 0x81);
  EXPECT_FALSE(ParseDotNumbers("", &dots));
  EXPECT_FALSE(ParseDotNumbers("00", &dots));
  EXPECT_EQ(dots, 0x81);
}

TEST(VirtualDisplayKeys, TypedTextKeepsItsBlanks) {
  EXPECT_EQ(Sim("type hello world"), Lines{"text hello world"});
  EXPECT_EQ(Sim("type"), Lines{"text "});
  EXPECT_EQ(ParseKeyCommand("type a b", kTwoStatus).note, "type \"a b\"");
}

TEST(VirtualDisplayKeys, OtherLinesGoToTheControlLanguage) {
  EXPECT_EQ(Sim("ack none"), Lines{"ack none"});
  EXPECT_EQ(Sim("route 7"), Lines{"route 7"});
  EXPECT_EQ(ParseKeyCommand("ack none", kTwoStatus).note, "");
  EXPECT_EQ(ParseKeyCommand("  ", kTwoStatus).kind, Kind::kNothing);
  EXPECT_EQ(ParseKeyCommand("# F1", kTwoStatus).kind, Kind::kNothing);
  EXPECT_EQ(ParseKeyCommand("help", kTwoStatus).kind, Kind::kHelp);
  EXPECT_EQ(ParseKeyCommand("help all", kTwoStatus).kind, Kind::kHelpAll);
  EXPECT_EQ(ParseKeyCommand("show", kTwoStatus).kind, Kind::kShow);
}

}  // namespace
}  // namespace zol::vdisplay
