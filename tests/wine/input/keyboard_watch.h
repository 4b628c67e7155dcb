// A low-level keyboard hook on a thread of its own, which records every injected keystroke.
#pragma once

#include <windows.h>

#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

namespace zol::testing {

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

inline std::ostream& operator<<(std::ostream& out, const SeenKey& key) {
  return out << "vk 0x" << std::hex << key.vk << " scan 0x" << key.scan << std::dec
             << (key.up ? " up" : " down") << (key.extended ? " extended" : "");
}

inline SeenKey ScanDown(DWORD scan, bool extended) {
  return {0, scan, false, extended};
}
inline SeenKey ScanUp(DWORD scan, bool extended) {
  return {0, scan, true, extended};
}

// SendInput by scan code is given virtual key 0 and the system translates the scan code:
// compare scan codes only.
inline std::vector<SeenKey> ScanCodes(std::vector<SeenKey> keys) {
  for (SeenKey& key : keys) key.vk = 0;
  return keys;
}

// Swallowed keystrokes reach no window and change no key state; passed-on ones do both.
class KeyboardWatch {
 public:
  enum Mode { kSwallow, kPassOn };

  explicit KeyboardWatch(Mode mode = kSwallow) : mode_(mode) {
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
  static DWORD GenericVirtualKey(DWORD vk) {
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

  static LRESULT CALLBACK HookProc(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
      const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
      if ((key->flags & LLKHF_INJECTED) != 0) {
        // A release is told by the message: Wine 8.0 leaves LLKHF_UP off for Unicode input.
        const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
        std::lock_guard<std::mutex> lock(instance_->mutex_);
        instance_->seen_.push_back({GenericVirtualKey(key->vkCode), key->scanCode, up,
                                    (key->flags & LLKHF_EXTENDED) != 0});
      }
      if (instance_->mode_ == kSwallow) return 1;
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
  const Mode mode_;
  HANDLE ready_ = nullptr;
  std::thread thread_;
  DWORD threadId_ = 0;
  HHOOK hook_ = nullptr;
  std::mutex mutex_;
  std::vector<SeenKey> seen_;
};

}  // namespace zol::testing
