#include "driver_test_support.h"

#include <atomic>
#include <thread>

#include "testing/message_window.h"

HWND FindHiddenWindow(DWORD thread) {
  for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, "ZOL", nullptr); window != nullptr;
       window = FindWindowExA(HWND_MESSAGE, window, "ZOL", nullptr)) {
    if (GetWindowThreadProcessId(window, nullptr) == thread) return window;
  }
  return nullptr;
}

namespace {

std::atomic<bool> sentMessageHandled{false};

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) sentMessageHandled.store(true);
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool SentMessageHandledDuring(const std::function<void()>& call) {
  HWND probe = zol::testing::CreateMessageWindow("DriverTestProbe", &ProbeWindowProc);
  sentMessageHandled.store(false);
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    Sleep(200);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(probe, WM_APP, 0, 0, SMTO_NORMAL, 10000, &result);
    sent.store(true);
  });
  call();
  const bool handledDuringCall = sentMessageHandled.load();
  if (!handledDuringCall) PumpUntil([&] { return sent.load(); }, 15000);
  sender.join();
  DestroyWindow(probe);
  return handledDuringCall;
}

void DriverTest::SetUp() {
  Load();
  host = CHostCreate();
}

void DriverTest::Load() {
  module = LoadLibraryA("zol_scripted.dll");
  ASSERT_NE(module, nullptr);
  auto controlFn = reinterpret_cast<ZolScriptedControlFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "ZolScriptedControl")));
  ASSERT_NE(controlFn, nullptr);
  control = controlFn();
  control->Reset();
  control->SetWorkerStartDelay(0);
  void* stored = nullptr;
  driver = CDriverGet(module, &stored);
  ASSERT_NE(driver, nullptr);
}

void DriverTest::TearDown() {
  if (module) {
    CDriverClose(driver);
    CDriverSetHost(driver, nullptr);
    FreeLibrary(module);
  }
  CHostDestroy(host);
}

std::string DriverTest::Log() {
  char buffer[16384];
  control->CallLog(buffer, sizeof buffer);
  return buffer;
}

void DriverTest::RunAtNextTick(ScriptedAction action, const char* text, int32_t value) {
  control->AtNextTick(action, text, value);
  ASSERT_TRUE(WaitUntil([&] { return control->PendingActions() == 0; }));
}
