// Drives InputTranslator with the real Win32KeyInjector and watches the injected keystrokes
// through a low-level keyboard hook, which swallows them so that nothing else receives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "core/shared_state.h"
#include "input/host_link.h"
#include "input/input_translator.h"
#include "keyboard_watch.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_key_injector.h"

namespace zol {
namespace {

using ::testing::ElementsAre;

using testing::KeyboardWatch;
using testing::ScanCodes;
using testing::ScanDown;
using testing::ScanUp;
using testing::SeenKey;

SeenKey VkDown(DWORD vk) {
  return {vk, 0, false, false};
}
SeenKey VkUp(DWORD vk) {
  return {vk, 0, true, false};
}

// keybd_event is given scan code 0 and the system may fill in one of its own: compare virtual
// keys only.
std::vector<SeenKey> VirtualKeys(std::vector<SeenKey> keys) {
  for (SeenKey& key : keys) key.scan = 0;
  return keys;
}

class NoHost : public HostLink {
 public:
  bool HostSet() override { return false; }
  void PostKeyEvent(const char*, int32_t) override {}
  void DeviceData(const uint8_t*, int32_t) override {}
};

class InjectedKeystrokes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { watch_ = new KeyboardWatch; }
  static void TearDownTestSuite() {
    delete watch_;
    watch_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(watch_->installed()); }

  static inline KeyboardWatch* watch_ = nullptr;
  NoHost host;
  win32::Win32KeyInjector injector;
  win32::Win32Clock clock;
  SharedState shared;
  InputTranslator translator{host, injector, clock, shared};
};

TEST_F(InjectedKeystrokes, SpecialKeyHoldsItsModifierAroundTheKey) {
  translator.HandleCharacterCode(297);
  EXPECT_THAT(VirtualKeys(watch_->WaitFor(4)),
              ElementsAre(VkDown(VK_MENU), VkDown(VK_F4), VkUp(VK_F4), VkUp(VK_MENU)));
}

TEST_F(InjectedKeystrokes, CharacterTypedThroughTheLayout) {
  if (VkKeyScanA('A') != 0x141) GTEST_SKIP() << "layout without Shift+A for 'A'";
  translator.HandleCharacterCode('A');
  translator.HandleBrailleKeys(0x02, 0x00, ' ');
  EXPECT_THAT(VirtualKeys(watch_->WaitFor(6)),
              ElementsAre(VkDown(VK_SHIFT), VkDown('A'), VkUp('A'), VkUp(VK_SHIFT),
                          VkDown(VK_SPACE), VkUp(VK_SPACE)));
}

TEST_F(InjectedKeystrokes, CharacterWithoutKeyIsTypedAsUnicode) {
  if (VkKeyScanW(u'\u00E9') != -1) GTEST_SKIP() << "layout has a key for e acute";
  translator.HandleCharacterCode(0x9E);  // the filler code: no character, nothing typed
  translator.HandleCharacterCode(0x82);  // code page 437 e acute
  EXPECT_THAT(watch_->WaitFor(2), ElementsAre(SeenKey{VK_PACKET, 0xE9, false, false},
                                              SeenKey{VK_PACKET, 0xE9, true, false}));
}

TEST_F(InjectedKeystrokes, ScanCodesArriveWithTheirPrefixFlags) {
  for (int code : {0x1C, 0xF0, 0x1C, 0xE0, 0x75, 0xE0, 0xF0, 0x75}) {
    translator.HandleScanCode(code);
  }
  EXPECT_THAT(ScanCodes(watch_->WaitFor(4)), ElementsAre(ScanDown(0x1E, false), ScanUp(0x1E, false),
                                                         ScanDown(0x48, true), ScanUp(0x48, true)));
}

}  // namespace
}  // namespace zol
