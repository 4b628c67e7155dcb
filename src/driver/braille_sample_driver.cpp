#include "driver/braille_sample_driver.h"

#include <cstring>

#include "driver/bounded_text.h"
#include "driver/device_side.h"
#include "driver/driver_identity.h"
#include "driver/pumping_wait.h"

namespace zol {

namespace {

// The one driver object of the process, constructed when the module is loaded.
CBrailleSampleDriver driverObject;

// How long Open waits for a new worker thread to be ready, and Close for it to end.
constexpr DWORD kWorkerWaitMs = 5000;

}  // namespace

CBrailleSampleDriver& TheDriver() {
  return driverObject;
}

CBrailleSampleDriver::CBrailleSampleDriver() {
  CopyTerminated(driverName, sizeof driverName, kDriverName);
}

CBrailleSampleDriver::~CBrailleSampleDriver() {
  // The worker thread has ended by now: it killed its timer and released the device side
  // itself. Only the handles of a worker thread that ended after Close stopped waiting remain.
  if (retiredThread) CloseHandle(retiredThread);
  if (retiredEvent) CloseHandle(retiredEvent);
}

DeviceService& CBrailleSampleDriver::Device() {
  // Attached on first use rather than at construction: that runs under the loader lock, and the
  // device side's own statics may not be constructed yet. Only worker threads get here, one at
  // a time: the guards of these statics go through the threads runtime, which keeps a record
  // (an event and a thread handle) of each thread that passes them until that thread ends. A
  // worker thread ends while the module is loaded; a host thread would outlive the module and
  // leave the record behind, once per load.
  static DeviceService& device = AttachDeviceSide(DriverParts{shared, hostLink});
  return device;
}

int32_t CBrailleSampleDriver::Open(const char* portName, IBrailleHost* newHost, const char* text1,
                                   const char* text2) {
  try {
    return hostSession.Open(portName, newHost, text1, text2);
  } catch (...) {
    StopWorkerThread();
    ReleaseSession();
    return 0;
  }
}

void CBrailleSampleDriver::Close() {
  try {
    hostSession.Close();
  } catch (...) {
  }
}

bool CBrailleSampleDriver::StartSession() {
  if (!ReapRetiredWorker(kWorkerWaitMs)) return false;
  // Key events still queued for a window of an earlier session can never be delivered.
  keyNames.ReclaimPosted();
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) return false;
  completionEvent.store(event);
  ResetEvent(event);
  if (!StartWorkerThread()) {
    ReleaseSession();
    return false;
  }
  if (!WaitWorkerReady()) {
    StopWorkerThread();
    ReleaseSession();
    return false;
  }
  lastConnectResult.store(0);
  return true;
}

void CBrailleSampleDriver::WelcomeHost(const char* text1, const char* text2) {
  CopyToField(parameter1, sizeof parameter1, text1);
  CopyToField(parameter2, sizeof parameter2, text2);
  RegisterWindowClass();
  DestroyHiddenWindow();
  CreateHiddenWindow();
}

void CBrailleSampleDriver::StopWorkerThread() {
  HANDLE thread = workerThread.load();
  if (!thread) return;
  PostCommand(CMD_STOP, nullptr, 0, false);
  PumpingWait wait;
  const bool ended = wait.Wait(&thread, 1, kWorkerWaitMs) == 0;
  workerThread.store(nullptr);
  workerThreadId.store(0);
  if (ended) {
    CloseHandle(thread);
  } else {
    retiredThread = thread;
    retiredEvent = completionEvent.exchange(nullptr);
  }
}

void CBrailleSampleDriver::ReleaseSession() {
  if (HANDLE event = completionEvent.exchange(nullptr)) CloseHandle(event);
  DestroyHiddenWindow();
}

bool CBrailleSampleDriver::ReapRetiredWorker(DWORD timeoutMs) {
  if (!retiredThread) return true;
  PumpingWait wait;
  if (wait.Wait(&retiredThread, 1, timeoutMs) != 0) return false;
  CloseHandle(retiredThread);
  if (retiredEvent) CloseHandle(retiredEvent);
  retiredThread = nullptr;
  retiredEvent = nullptr;
  return true;
}

IBrailleHost* CBrailleSampleDriver::SetHost(IBrailleHost* newHost) {
  return hostSession.SetHost(newHost);
}

int32_t CBrailleSampleDriver::GetParameter1(char* buffer, int32_t length) {
  return CopyFieldOut(parameter1, sizeof parameter1, buffer, length);
}

int32_t CBrailleSampleDriver::GetParameter2(char* buffer, int32_t length) {
  return CopyFieldOut(parameter2, sizeof parameter2, buffer, length);
}

int32_t CBrailleSampleDriver::GetInfoValue() {
  return 0x300;
}

int32_t CBrailleSampleDriver::WriteTextCells(const uint8_t* dots, int32_t count) {
  if (shared.suspended.load() != 0 || !dots || count <= 0) return 0;
  const int32_t cells = count < kMaxWriteCells ? count : kMaxWriteCells;
  return PostCommand(CMD_WRITE_TEXT, dots, static_cast<uint32_t>(cells), false);
}

int32_t CBrailleSampleDriver::WriteAllCells(const uint8_t* dots, int32_t count) {
  if (shared.suspended.load() != 0 || !dots || count <= 0) return 0;
  const int32_t cells = count < kMaxWriteCells ? count : kMaxWriteCells;
  return PostCommand(CMD_WRITE_ALL, dots, static_cast<uint32_t>(cells), false);
}

int32_t CBrailleSampleDriver::ClearDisplay() {
  if (shared.suspended.load() != 0) return 0;
  return PostCommand(CMD_CLEAR, nullptr, 0, false);
}

int32_t CBrailleSampleDriver::SetSuspended(int32_t suspend) {
  return hostSession.SetSuspended(suspend);
}

int32_t CBrailleSampleDriver::GetTextCellCount() {
  return shared.textCellCount.load();
}

int32_t CBrailleSampleDriver::GetStatusCellCount() {
  return shared.statusCellCount.load();
}

int32_t CBrailleSampleDriver::GetTotalCellCount() {
  return shared.textCellCount.load() + shared.statusCellCount.load();
}

int32_t CBrailleSampleDriver::GetDriverIdentity(char* nameBuffer, int32_t nameLength, ZolGuid* id) {
  static_assert(sizeof(ZolGuid) == sizeof kDriverGuidBytes, "GUID record is 16 bytes");
  return CopyDriverIdentity(nameBuffer, nameLength, id);
}

// Operations the host defines and this driver does not use.
int32_t CBrailleSampleDriver::Reserved5(void*, int32_t) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved7() {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved8() {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved9() {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved10(void*) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved14(void*, int32_t) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved15() {
  return 0;
}
void CBrailleSampleDriver::Reserved17() {}
int32_t CBrailleSampleDriver::Reserved19() {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved22() {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved23(int32_t, int32_t, int32_t) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved24() {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved25(int32_t, uint8_t) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved26(void*, int32_t, int32_t) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved27(void*) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved28(int32_t) {
  return 0;
}
int32_t CBrailleSampleDriver::Reserved29() {
  return 0;
}
void CBrailleSampleDriver::Reserved30(int32_t) {}
int32_t CBrailleSampleDriver::Reserved31() {
  return 0;
}
void CBrailleSampleDriver::Reserved32(int32_t) {}
int32_t CBrailleSampleDriver::Reserved33() {
  return 0;
}
void CBrailleSampleDriver::Reserved35(int32_t) {}
void CBrailleSampleDriver::Reserved36(int32_t) {}

bool CBrailleSampleDriver::HostLinkPart::HostSet() {
  return driver_.hostSession.host() != nullptr;
}

void CBrailleSampleDriver::HostLinkPart::PostKeyEvent(const char* name, int32_t value) {
  driver_.PostKeyEvent(name, value);
}

void CBrailleSampleDriver::HostLinkPart::DeviceData(const uint8_t* data, int32_t length) {
  driver_.hostSession.CallHost(
      [&](IBrailleHost* host) { host->OnDeviceData(&driver_, data, length); });
}

uint32_t CBrailleSampleDriver::SessionPart::CurrentThread() {
  return GetCurrentThreadId();
}

uint32_t CBrailleSampleDriver::SessionPart::WorkerThread() {
  return driver_.workerThreadId.load();
}

bool CBrailleSampleDriver::SessionPart::StartWorker() {
  return driver_.StartSession();
}

int32_t CBrailleSampleDriver::SessionPart::Post(CommandCode code, const void* data, uint32_t length,
                                                bool wait) {
  return driver_.PostCommand(code, data, length, wait);
}

bool CBrailleSampleDriver::SessionPart::Connected() {
  // The cell count survives failed connects, so only this connect's own answer counts.
  return driver_.lastConnectResult.load() != 0 && driver_.shared.textCellCount.load() > 0;
}

void CBrailleSampleDriver::SessionPart::StopWorker() {
  driver_.StopWorkerThread();
  if (HANDLE event = driver_.completionEvent.exchange(nullptr)) CloseHandle(event);
}

void CBrailleSampleDriver::SessionPart::Opened(const char* text1, const char* text2) {
  driver_.WelcomeHost(text1, text2);
}

bool CBrailleSampleDriver::SessionPart::WindowExists() {
  return driver_.hiddenWindow.load() != nullptr;
}

void CBrailleSampleDriver::SessionPart::CreateWindowHere() {
  driver_.CreateHiddenWindow();
}

void CBrailleSampleDriver::SessionPart::DestroyWindow() {
  driver_.DestroyHiddenWindow();
}

void CBrailleSampleDriver::SessionPart::AskWindowThreadToClose() {
  if (HWND window = driver_.hiddenWindow.load()) PostMessageA(window, kCloseRequestMessage, 0, 0);
}

void CBrailleSampleDriver::SessionPart::YieldToCallbacks() {
  // A callback running elsewhere may be waiting for this thread to answer a message.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
}

}  // namespace zol
