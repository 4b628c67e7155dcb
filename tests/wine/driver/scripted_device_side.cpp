// The device side of the driver's test DLL: every call is recorded, connects answer as
// scripted, and queued actions run at the next poll tick on the worker thread.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "driver/braille_sample_driver.h"
#include "driver/device_side.h"
#include "scripted_control.h"
#include "testing/message_window.h"

namespace {

LRESULT CALLBACK WorkerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class ScriptedDevice final : public zol::DeviceService, public ScriptedControl {
 public:
  void Attach(const zol::DriverParts& parts) {
    shared_ = &parts.shared;
    host_ = &parts.host;
  }

  // DeviceService, on the worker thread.
  int Connect(const char* portName) override {
    Record("Connect(" + std::string(portName) + ")");
    connectPriority_.store(GetThreadPriority(GetCurrentThread()));
    Hold(connectMs_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (connectResult_) {
      shared_->textCellCount.store(textCells_);
      shared_->statusCellCount.store(statusCells_);
    }
    return connectResult_;
  }
  void Disconnect() override {
    Record("Disconnect");
    Hold(disconnectMs_);
  }
  void Suspend(int32_t flag) override {
    Record("Suspend(" + std::to_string(flag) + ")");
    Hold(suspendMs_);
  }
  void WriteText(const uint8_t* dots, int32_t count) override {
    Record(Cells("WriteText", dots, count));
    Hold(writeMs_);
  }
  void WriteAll(const uint8_t* dots, int32_t count) override {
    Record(Cells("WriteAll", dots, count));
    Hold(writeMs_);
  }
  void Clear() override { Record("Clear"); }
  void PollTick() override {
    std::deque<Action> actions;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++pollTicks_;
      actions.swap(actions_);
    }
    for (const Action& action : actions) Run(action);
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ -= static_cast<int32_t>(actions.size());
  }
  void Shutdown() override { Record("Shutdown"); }
  void ServiceInput() override {}
  size_t InputEvents(uintptr_t*, size_t) override { return 0; }

  // ScriptedControl, on the test's threads.
  void Reset() override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    pending_ -= static_cast<int32_t>(actions_.size());
    actions_.clear();
    connectResult_ = 1;
    textCells_ = 40;
    statusCells_ = 0;
    connectMs_ = suspendMs_ = disconnectMs_ = writeMs_ = 0;
    pollTicks_ = 0;
    callThread_ = 0;
    oneThread_ = true;
  }
  void ScriptConnect(int32_t result, int32_t textCells, int32_t statusCells) override {
    std::lock_guard<std::mutex> lock(mutex_);
    connectResult_ = result;
    textCells_ = textCells;
    statusCells_ = statusCells;
  }
  void SetDelays(uint32_t connectMs, uint32_t suspendMs, uint32_t disconnectMs,
                 uint32_t writeMs) override {
    std::lock_guard<std::mutex> lock(mutex_);
    connectMs_ = connectMs;
    suspendMs_ = suspendMs;
    disconnectMs_ = disconnectMs;
    writeMs_ = writeMs;
  }
  void AtNextTick(ScriptedAction action, const char* text, int32_t value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    actions_.push_back(Action{action, text ? text : "", value});
    ++pending_;
  }
  int32_t PendingActions() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
  }
  int32_t CallLog(char* buffer, int32_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::snprintf(buffer, static_cast<size_t>(size), "%s", log_.c_str());
    return static_cast<int32_t>(log_.size());
  }
  int32_t PollTicks() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return pollTicks_;
  }
  DWORD CallThread() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return callThread_;
  }
  bool CallsOnOneThread() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return oneThread_;
  }
  int32_t ConnectThreadPriority() override { return connectPriority_.load(); }
  HWND WorkerWindow() override { return workerWindow_.load(); }
  int32_t WorkerWindowMessages(UINT message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    int32_t count = 0;
    for (UINT seen : windowMessages_) count += seen == message;
    return count;
  }
  int32_t LiveCommandPayloads() override { return zol::TheDriver().LiveCommandPayloads(); }
  int32_t FreeKeyNameSlots() override {
    return static_cast<int32_t>(zol::TheDriver().FreeKeyNameSlots());
  }
  void SetWorkerStartDelay(uint32_t ms) override {
    zol::TheDriver().SetWorkerStartDelayForTesting(ms);
  }

  int32_t SlotOfOperation(int32_t operation) override {
    using Driver = zol::CBrailleSampleDriver;
    switch (operation) {
      case 0:
        return SlotOf(&Driver::Open);
      case 34:
        return SlotOf(&Driver::GetDriverIdentity);
      case 35:
        return SlotOf(&Driver::Reserved35);
      case 36:
        return SlotOf(&Driver::Reserved36);
      default:
        return -1;
    }
  }

  void WindowMessage(UINT message) {
    std::lock_guard<std::mutex> lock(mutex_);
    windowMessages_.push_back(message);
  }

 private:
  struct Action {
    ScriptedAction kind;
    std::string text;
    int32_t value;
  };

  // A pointer to a virtual member function holds 1 + the byte offset of its slot (Itanium C++
  // ABI, which mingw-w64 follows).
  template <class Member>
  static int32_t SlotOf(Member member) {
    uintptr_t raw = 0;
    std::memcpy(&raw, &member, sizeof raw);
    return static_cast<int32_t>((raw - 1) / sizeof(void*));
  }

  void Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!log_.empty()) log_ += ";";
    log_ += call;
    const DWORD thread = GetCurrentThreadId();
    if (callThread_ != 0 && callThread_ != thread) oneThread_ = false;
    callThread_ = thread;
  }

  static std::string Cells(const char* kind, const uint8_t* dots, int32_t count) {
    std::string text = std::string(kind) + "(" + std::to_string(count) + ":";
    char hex[3];
    for (int32_t i = 0; i < count && i < 8; ++i) {
      std::snprintf(hex, sizeof hex, "%02X", dots[i]);
      text += hex;
    }
    text += ")";
    if (dots[count] != 0) text += "!unterminated";
    return text;
  }

  void Hold(uint32_t& ms) {
    uint32_t delay;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      delay = ms;
    }
    if (delay) Sleep(delay);
  }

  void Run(const Action& action) {
    switch (action.kind) {
      case ScriptedAction::kPostKey:
        // The name is composed in one buffer that the next name overwrites at once.
        std::snprintf(composed_, sizeof composed_, "%s", action.text.c_str());
        host_->PostKeyEvent(composed_, action.value);
        std::memset(composed_, '#', sizeof composed_ - 1);
        break;
      case ScriptedAction::kSelfSuspend: {
        // What the device side does when it loses a serial display.
        int32_t running = 0;
        shared_->suspended.compare_exchange_strong(running, zol::SharedState::kSuspendedByDriver);
        break;
      }
      case ScriptedAction::kEndSelfSuspension: {
        int32_t own = zol::SharedState::kSuspendedByDriver;
        shared_->suspended.compare_exchange_strong(own, 0);
        break;
      }
      case ScriptedAction::kDeviceData:
        host_->DeviceData(reinterpret_cast<const uint8_t*>(action.text.c_str()), 3);
        break;
      case ScriptedAction::kSleep:
        Sleep(static_cast<DWORD>(action.value));
        break;
      case ScriptedAction::kCreateWindow: {
        workerWindow_.store(
            zol::testing::CreateMessageWindow("ScriptedWorkerWindow", &WorkerWindowProc));
        break;
      }
    }
  }

  zol::SharedState* shared_ = nullptr;
  zol::HostLink* host_ = nullptr;
  std::mutex mutex_;
  std::string log_;
  std::deque<Action> actions_;
  int32_t pending_ = 0;
  int32_t connectResult_ = 1;
  int32_t textCells_ = 40;
  int32_t statusCells_ = 0;
  uint32_t connectMs_ = 0, suspendMs_ = 0, disconnectMs_ = 0, writeMs_ = 0;
  int32_t pollTicks_ = 0;
  DWORD callThread_ = 0;
  bool oneThread_ = true;
  std::atomic<HWND> workerWindow_{nullptr};
  std::atomic<int32_t> connectPriority_{0};
  std::deque<UINT> windowMessages_;
  char composed_[128] = {};
};

ScriptedDevice scripted;

LRESULT CALLBACK WorkerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER || message == WM_TIMER) scripted.WindowMessage(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

namespace zol {

DeviceService& AttachDeviceSide(const DriverParts& parts) {
  scripted.Attach(parts);
  return scripted;
}

}  // namespace zol

extern "C" __declspec(dllexport) ScriptedControl* ZolScriptedControl() {
  return &scripted;
}
