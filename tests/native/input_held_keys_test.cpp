#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/input_fixture.h"

namespace zol::testing {
namespace {

using ::testing::ElementsAre;

using HeldKeys = InputTranslatorTest;

// Keys of the display's keyboard still down when the link ends go up, the last pressed first,
// each once, with the host told nothing. Flags: 8 scan code, 1 extended, 2 release.
TEST_F(HeldKeys, GoUpLastPressedFirstWhenTheLinkEnds) {
  const struct {
    const char* what;
    std::vector<int> codes;  // set 2 bytes from the display
    std::vector<Keystroke> keystrokes;
  } cases[] = {
      {"left Ctrl, left Windows, A",
       {0x14, 0xE0, 0x1F, 0x1C},
       {Scan(0x1D, 8), Scan(0x5B, 9), Scan(0x1E, 8), Scan(0x1E, 10), Scan(0x5B, 11),
        Scan(0x1D, 10)}},
      {"a repeated key keeps its first place",
       {0x14, 0x12, 0x14},
       {Scan(0x1D, 8), Scan(0x2A, 8), Scan(0x1D, 8), Scan(0x2A, 10), Scan(0x1D, 10)}},
      {"a released key is forgotten",
       {0x14, 0x12, 0xF0, 0x14},
       {Scan(0x1D, 8), Scan(0x2A, 8), Scan(0x1D, 10), Scan(0x2A, 10)}},
      {"left and right Ctrl are two keys",
       {0x14, 0xE0, 0x14, 0xE0, 0xF0, 0x14},
       {Scan(0x1D, 8), Scan(0x1D, 9), Scan(0x1D, 11), Scan(0x1D, 10)}},
      {"a release of a key not held is injected", {0xF0, 0x1C}, {Scan(0x1E, 10)}},
      {"a code without a key is not held", {0x00}, {Scan(0, 8)}},
  };
  for (const auto& c : cases) {
    injector.keystrokes.clear();
    for (int code : c.codes) translator.HandleScanCode(static_cast<uint16_t>(code));
    const size_t records = host.deviceData.size();
    translator.ReleaseHeldKeys();
    translator.ReleaseHeldKeys();
    EXPECT_EQ(injector.keystrokes, c.keystrokes) << c.what;
    EXPECT_EQ(host.deviceData.size(), records) << c.what;
    EXPECT_EQ(translator.heldKeyCount(), 0u) << c.what;
  }
}

TEST_F(HeldKeys, APrefixCutOffByTheLinkEndIsForgotten) {
  translator.HandleScanCode(0xE0);
  translator.HandleScanCode(0xF0);
  translator.ReleaseHeldKeys();
  translator.HandleScanCode(0x1C);
  EXPECT_THAT(injector.keystrokes, ElementsAre(Scan(0x1E, 8)));
}

}  // namespace
}  // namespace zol::testing
