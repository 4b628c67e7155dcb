// Drives InputTranslator with the real Win32KeyInjector and watches the injected keystrokes
// through a low-level keyboard hook, which swallows them so that nothing else receives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "core/shared_state.h"
#include "input/host_link.h"
#include "input/input_translator.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_key_injector.h"

namespace zol {
namespace {

using ::testing::ElementsAre;

// A keystroke as the hook saw it. Left and right modifier keys are reported under the generic
// virtual key; only the flags that describe the keystroke are kept.
struct SeenKey {
  DWORD vk;
  DWORD scan;
  bool up;
  bool extended;
  bool operator==(const SeenKey& other) const {
    return vk == other.vk && scan == other.scan && up == other.up && extended == other.extended;
  }
};

std::ostream& operator<<(std::ostream& out, const SeenKey& key) {
  return out << "vk 0x" << std::hex << key.vk << " scan 0x" << key.scan << std::dec
             << (key.up ? " up" : " down") << (key.extended ? " extended" : "");
}

DWORD GenericVirtualKey(DWORD vk) {
  switch (vk) {
    case VK_LSHIFT:
    case VK_RSHIFT:
      return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL:
      return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU:
      return VK_MENU;
    default:
      return vk;
  }
}

SeenKey VkDown(DWORD vk) {
  return {vk, 0, false, false};
}
SeenKey VkUp(DWORD vk) {
  return {vk, 0, true, false};
}
SeenKey ScanDown(DWORD scan, bool extended) {
  return {0, scan, false, extended};
}
SeenKey ScanUp(DWORD scan, bool extended) {
  return {0, scan, true, extended};
}

// keybd_event is given scan code 0 and the system may fill in one of its own: compare virtual
// keys only.
std::vector<SeenKey> VirtualKeys(std::vector<SeenKey> keys) {
  for (SeenKey& key : keys) key.scan = 0;
  return keys;
}

// SendInput is given virtual key 0 and the system translates the scan code: compare scan codes
// only.
std::vector<SeenKey> ScanCodes(std::vector<SeenKey> keys) {
  for (SeenKey& key : keys) key.vk = 0;
  return keys;
}

// A low-level keyboard hook on a thread of its own with a message loop. It records every
// injected keystroke and swallows all of them.
class KeyboardWatch {
 public:
  KeyboardWatch() {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, 30000);
  }

  ~KeyboardWatch() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    CloseHandle(ready_);
  }

  bool installed() const { return hook_ != nullptr; }

  // Waits (generously: the machine may be loaded) until `count` keystrokes have been seen,
  // then a little longer so that any surplus keystroke shows up too.
  std::vector<SeenKey> WaitFor(size_t count) {
    for (int waited = 0; waited < 20000 && Seen().size() < count; waited += 10) Sleep(10);
    Sleep(300);
    return Take();
  }

 private:
  static LRESULT CALLBACK HookProc(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
      const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
      if ((key->flags & LLKHF_INJECTED) != 0) {
        std::lock_guard<std::mutex> lock(instance_->mutex_);
        instance_->seen_.push_back({GenericVirtualKey(key->vkCode), key->scanCode,
                                    (key->flags & LLKHF_UP) != 0,
                                    (key->flags & LLKHF_EXTENDED) != 0});
      }
      return 1;
    }
    return CallNextHookEx(nullptr, code, message, data);
  }

  void Run() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // creates the thread's message queue
    threadId_ = GetCurrentThreadId();
    // A hook that answers too late is skipped by the system: keep this thread ahead of others.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    instance_ = this;
    hook_ = SetWindowsHookExA(WH_KEYBOARD_LL, HookProc, GetModuleHandleA(nullptr), 0);
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  }

  std::vector<SeenKey> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  std::vector<SeenKey> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SeenKey> taken;
    taken.swap(seen_);
    return taken;
  }

  static inline KeyboardWatch* instance_ = nullptr;
  HANDLE ready_ = nullptr;
  std::thread thread_;
  DWORD threadId_ = 0;
  HHOOK hook_ = nullptr;
  std::mutex mutex_;
  std::vector<SeenKey> seen_;
};

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

TEST_F(InjectedKeystrokes, CharacterWithoutKeyIsNotInjected) {
  if (VkKeyScanA(static_cast<char>(0x90)) != -1) GTEST_SKIP() << "layout has a key for 0x90";
  translator.HandleCharacterCode(0x9E);  // code page 437 character without a Windows-1252 one
  translator.HandleCharacterCode(256);
  EXPECT_THAT(VirtualKeys(watch_->WaitFor(2)), ElementsAre(VkDown(VK_RETURN), VkUp(VK_RETURN)));
}

TEST_F(InjectedKeystrokes, ScanCodesArriveWithTheirPrefixFlags) {
  for (int code : {0x1C, 0xF0, 0x1C, 0xE0, 0x75, 0xE0, 0xF0, 0x75}) {
    translator.HandleScanCode(code);
  }
  EXPECT_THAT(ScanCodes(watch_->WaitFor(4)), ElementsAre(ScanDown(0x1E, false), ScanUp(0x9E, false),
                                                         ScanDown(0x48, true), ScanUp(0xC8, true)));
}

}  // namespace
}  // namespace zol
