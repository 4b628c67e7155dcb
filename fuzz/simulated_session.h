// The host boundary of the driver (HostSession) over a simulated platform for the
// host-operations fuzzer: a host thread, and a worker thread that runs the queued commands on
// the device side, taken in turns on one real thread so that every run is repeatable. The
// fuzzer's script decides what the host does from inside each of its callbacks.
//
// Checked as the session runs: no call waits for its own thread (the worker for itself, a host
// thread for a delivery it is inside of), windows are made and destroyed on host threads only,
// one worker thread runs at a time, what a session holds is given back exactly once, and a host
// replaced by SetHost is never called again.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "connection/device_service.h"
#include "driver/device_command.h"
#include "driver/host_session.h"
#include "fuzz/fuzz_support.h"
#include "input/host_link.h"

namespace zol::fuzz {

class SimulatedSession;

// A host callback object that records its calls and asks the session what to do inside them.
class FuzzHost : public IBrailleHost {
 public:
  explicit FuzzHost(SimulatedSession& session) : session_(session) {}
  // Key events come on the host thread, keyboard records on the worker thread.
  int32_t OnKeyEvent(IBrailleDriver*, const char*, int32_t) override;
  int32_t OnDeviceData(IBrailleDriver*, const uint8_t*, int32_t) override;

  bool retired = false;  // replaced by SetHost: must not be called again
  int calls = 0;

 private:
  int32_t Called(uint32_t expectedThread);

  SimulatedSession& session_;
};

class SimulatedSession final : public SessionPlatform, public HostLink {
 public:
  static constexpr uint32_t kHostThread = 1;
  static constexpr uint32_t kWorkerThread = 2;

  SimulatedSession(DeviceService& device, SharedState& shared, Script& script)
      : device_(device), shared_(shared), script_(script) {}

  HostSession& session() { return session_; }
  FuzzHost& host(int id) { return id == 0 ? hostA_ : hostB_; }

  // Runs call as the host thread (the fuzzer's own steps run as the worker thread, which is
  // what drives the device side).
  template <class Call>
  auto OnHostThread(Call&& call) {
    struct Restore {
      uint32_t& current;
      uint32_t saved;
      ~Restore() { current = saved; }
    } restore{current_, current_};
    current_ = kHostThread;
    return call();
  }
  // The worker thread runs every command queued so far.
  void RunQueue() {
    if (workerRunning_) RunUntilDone(posted_);
  }
  // The host thread takes its messages: queued key events and a close request.
  void Pump() {
    Check(current_ == kHostThread);
    while (!keys_.empty() && windowExists_) {
      const std::string name = keys_.front();
      keys_.pop_front();
      session_.CallHost([&](IBrailleHost* host) { host->OnKeyEvent(nullptr, name.c_str(), 0); });
    }
    keys_.clear();
    if (closeAsked_ && windowExists_) {
      closeAsked_ = false;
      session_.CloseRequested();
    }
  }
  // What the host does from inside a callback (ops of the script, within a budget).
  void Reenter();

  // The top-level host calls the fuzzer makes.
  // A successful Open takes host A, as the host's Open hands its callback object over.
  int32_t Open() {
    IBrailleHost* before = session_.host();
    const int32_t opened = session_.Open("com3", &hostA_);
    if (opened != 0) {
      hostA_.retired = false;
      if (before != nullptr && before != &hostA_) static_cast<FuzzHost*>(before)->retired = true;
    }
    return opened;
  }
  void SetHost(int id) {
    IBrailleHost* next = id == 2 ? nullptr : &host(id);
    IBrailleHost* previous = session_.SetHost(next);
    if (next != nullptr) static_cast<FuzzHost*>(next)->retired = false;
    if (previous != nullptr && previous != next) static_cast<FuzzHost*>(previous)->retired = true;
  }

  // What the session holds: the worker's thread and completion event, and the window.
  int held() const { return held_; }
  bool workerRunning() const { return workerRunning_; }
  bool windowExists() const { return windowExists_; }

  // SessionPlatform.
  uint32_t CurrentThread() override { return current_; }
  uint32_t WorkerThread() override { return workerRunning_ ? kWorkerThread : 0; }
  bool StartWorker() override {
    Check(current_ == kHostThread);
    Check(!workerRunning_);  // one worker at a time
    workerRunning_ = true;
    held_ += 2;
    lastConnect_ = 0;
    return true;
  }
  int32_t Post(CommandCode code, const void* data, uint32_t length, bool wait) override {
    Check(!(wait && current_ == kWorkerThread));  // the worker never waits for itself
    if (!workerRunning_ || stopQueued_) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    Command command{code, {}, length};
    if (bytes != nullptr && length != 0) {
      command.payload.assign(bytes, bytes + length);
      command.payload.push_back(0);
    }
    if (code == CMD_STOP) stopQueued_ = true;
    queue_.push_back(command);
    const uint64_t number = ++posted_;
    if (wait) RunUntilDone(number);
    return 1;
  }
  bool Connected() override { return lastConnect_ != 0 && shared_.textCellCount.load() > 0; }
  void StopWorker() override {
    Check(current_ == kHostThread);
    if (!workerRunning_) return;
    Post(CMD_STOP, nullptr, 0, false);
    RunUntilDone(posted_);
    workerRunning_ = false;
    stopQueued_ = false;
    queue_.clear();
    held_ -= 2;
    Check(held_ >= 0);
  }
  void Opened(const char*, const char*) override { CreateWindowHere(); }
  bool WindowExists() override { return windowExists_; }
  void CreateWindowHere() override {
    Check(current_ == kHostThread);  // never on the worker thread
    Check(!windowExists_);
    windowExists_ = true;
    ++held_;
  }
  void DestroyWindow() override {
    Check(current_ == kHostThread);
    if (!windowExists_) return;
    windowExists_ = false;
    keys_.clear();
    --held_;
    Check(held_ >= 0);
  }
  void AskWindowThreadToClose() override {
    if (windowExists_) closeAsked_ = true;
  }
  // Here no other thread can run meanwhile: a wait for one would never end.
  void YieldToCallbacks() override { Check(false); }

  // HostLink, for the device side on the worker thread.
  bool HostSet() override { return session_.host() != nullptr; }
  void PostKeyEvent(const char* name, int32_t) override {
    if (windowExists_ && keys_.size() < 64) keys_.push_back(name);
  }
  void DeviceData(const uint8_t* data, int32_t length) override {
    session_.CallHost([&](IBrailleHost* host) { host->OnDeviceData(nullptr, data, length); });
  }

 private:
  struct Command {
    CommandCode code;
    std::vector<uint8_t> payload;
    uint32_t value;
  };

  // Runs queued commands on the worker thread until the one numbered last has run; a waiting
  // host thread takes its messages between them, as its wait pumps them. CMD_STOP ends the
  // worker: the device side is shut down and the commands behind it are thrown away.
  void RunUntilDone(uint64_t last) {
    while (done_ < last && !queue_.empty()) {
      Command command = queue_.front();
      queue_.pop_front();
      ++done_;
      const uint32_t caller = current_;
      current_ = kWorkerThread;
      const int result = RunDeviceCommand(
          device_, command.code, command.payload.empty() ? nullptr : command.payload.data(),
          command.value);
      if (command.code == CMD_CONNECT) lastConnect_ = result;
      if (command.code == CMD_STOP) {
        device_.Shutdown();
        done_ += queue_.size();
        queue_.clear();
      }
      current_ = caller;
      if (current_ == kHostThread && script_.Byte() % 4 == 0) Pump();
    }
  }

  DeviceService& device_;
  SharedState& shared_;
  Script& script_;
  HostSession session_{*this, shared_};
  FuzzHost hostA_{*this};
  FuzzHost hostB_{*this};
  uint32_t current_ = kWorkerThread;
  bool workerRunning_ = false;
  bool stopQueued_ = false;
  bool windowExists_ = false;
  bool closeAsked_ = false;
  int held_ = 0;
  int lastConnect_ = 0;
  uint64_t posted_ = 0;  // commands queued so far
  uint64_t done_ = 0;    // commands run so far
  std::deque<Command> queue_;
  std::deque<std::string> keys_;
  int reentries_ = 0;
  int depth_ = 0;

  friend class FuzzHost;
};

inline void SimulatedSession::Reenter() {
  if (reentries_ >= 12 || depth_ >= 3) return;
  ++reentries_;
  ++depth_;
  const uint8_t op = script_.Byte();
  const uint8_t dots[3] = {op, 0x5A, 0xA5};
  switch (op % 8) {
    case 0:
      break;
    case 1:
      Open();
      break;
    case 2:
      session_.Close();
      break;
    case 3:
      session_.SetSuspended(op >> 7);
      break;
    case 4:
      SetHost((op >> 4) % 3);
      break;
    case 5:  // writes and clears take the host's path: only while not suspended
      if (shared_.suspended.load() == 0) Post(CMD_WRITE_TEXT, dots, sizeof dots, false);
      break;
    case 6:
      if (shared_.suspended.load() == 0) Post(CMD_CLEAR, nullptr, 0, false);
      break;
    case 7:
      session_.SetSuspended(1);
      session_.SetSuspended(0);
      break;
  }
  --depth_;
}

inline int32_t FuzzHost::Called(uint32_t expectedThread) {
  Check(!retired);
  Check(session_.CurrentThread() == expectedThread);
  ++calls;
  session_.Reenter();
  return 0;
}

inline int32_t FuzzHost::OnKeyEvent(IBrailleDriver*, const char*, int32_t) {
  return Called(SimulatedSession::kHostThread);
}

inline int32_t FuzzHost::OnDeviceData(IBrailleDriver*, const uint8_t*, int32_t) {
  return Called(SimulatedSession::kWorkerThread);
}

}  // namespace zol::fuzz
