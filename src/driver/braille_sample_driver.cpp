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
  // From inside a callback the driver is open (or being closed) by definition.
  if (callbacks.InCallback() || !session.BeginOpen()) return 0;
  int32_t opened = 0;
  try {
    opened = OpenSession(portName, newHost, text1, text2);
  } catch (...) {
    StopWorkerThread();
    ReleaseSession();
    opened = 0;
  }
  session.EndOpen(opened != 0);
  return opened;
}

int32_t CBrailleSampleDriver::OpenSession(const char* portName, IBrailleHost* newHost,
                                          const char* text1, const char* text2) {
  if (!ReapRetiredWorker(kWorkerWaitMs)) return 0;
  closeRequested.store(false);
  // Key events still queued for a window of an earlier session can never be delivered.
  keyNames.ReclaimPosted();

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) return 0;
  completionEvent.store(event);
  ResetEvent(event);
  if (!StartWorkerThread()) {
    ReleaseSession();
    return 0;
  }
  if (!WaitWorkerReady()) {
    StopWorkerThread();
    ReleaseSession();
    return 0;
  }

  // A suspension left from before (the host's, or the driver's own after lost
  // acknowledgements, followed by Close) would keep the connect from sending anything.
  shared.suspended.store(0);
  lastConnectResult.store(0);
  const size_t nameLength = portName ? std::strlen(portName) : 0;
  PostCommand(CMD_CONNECT, portName, static_cast<uint32_t>(nameLength), true);
  // The cell count survives failed connects, so only this connect's own answer counts.
  if (lastConnectResult.load() == 0 || shared.textCellCount.load() <= 0) {
    StopWorkerThread();
    ReleaseSession();
    return 0;
  }

  host.store(newHost);
  CopyToField(parameter1, sizeof parameter1, text1);
  CopyToField(parameter2, sizeof parameter2, text2);
  RegisterWindowClass();
  DestroyHiddenWindow();
  CreateHiddenWindow();
  return 1;
}

void CBrailleSampleDriver::Close() {
  if (OnWorkerThread()) {
    RequestCloseFromWorker();
    return;
  }
  if (!session.BeginClose()) return;
  try {
    CloseSession();
  } catch (...) {
  }
  session.EndClose();
}

void CBrailleSampleDriver::CloseSession() {
  PostCommand(CMD_DISCONNECT, nullptr, 0, true);
  StopWorkerThread();
  ReleaseSession();
}

void CBrailleSampleDriver::RequestCloseFromWorker() {
  if (!session.open() || closeRequested.exchange(true)) return;
  // The display is let go of as soon as the callback returns; the rest of Close (ending this
  // very thread, destroying the window) belongs to the window's thread. Without a window (the
  // host suspended the driver meanwhile) the host's own Close finishes it.
  PostCommand(CMD_DISCONNECT, nullptr, 0, false);
  if (HWND window = hiddenWindow.load()) PostMessageA(window, kCloseRequestMessage, 0, 0);
}

void CBrailleSampleDriver::StopWorkerThread() {
  HANDLE thread = workerThread.load();
  if (!thread) return;
  PostCommand(CMD_STOP, nullptr, 0, false);
  workerWaiters.fetch_add(1);
  bool ended = false;
  {
    PumpingWait wait;
    ended = wait.Wait(&thread, 1, kWorkerWaitMs) == 0;
  }
  workerWaiters.fetch_sub(1);
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
  IBrailleHost* previous = host.exchange(newHost);
  WaitForOtherCallbacks();
  return previous;
}

void CBrailleSampleDriver::WaitForOtherCallbacks() {
  const bool onWorker = OnWorkerThread();
  while (!callbacks.OthersIdle()) {
    // A host thread that waits for the worker thread cannot leave its callback before this
    // one has: waiting for it would wait for ourselves.
    if (onWorker && workerWaiters.load() > 0) return;
    // A callback running elsewhere may be waiting for this thread to answer a message.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
  }
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
  // The value the worker thread marks its own suspension with is never the host's. A host that
  // suspends a driver that suspended itself takes the suspension over: the driver then never
  // ends it.
  const int32_t value = suspend == SharedState::kSuspendedByDriver ? 1 : suspend;
  if (shared.suspended.load() == value) return 1;
  if (!session.open()) return 0;
  if (shared.suspended.exchange(value) == value) return 1;
  // Windows are made and destroyed on the host's threads only: keys keep reaching the thread
  // that had them.
  if (!OnWorkerThread()) {
    if (value != 0) {
      DestroyHiddenWindow();
    } else if (!hiddenWindow.load()) {
      CreateHiddenWindow();
    }
  }
  // Inside a callback the command is only queued: the caller may be the very delivery, or the
  // worker thread, that the wait would wait for.
  return PostCommand(CMD_SUSPEND, nullptr, static_cast<uint32_t>(value), !callbacks.InCallback());
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
  return driver_.host.load() != nullptr;
}

void CBrailleSampleDriver::HostLinkPart::PostKeyEvent(const char* name, int32_t value) {
  driver_.PostKeyEvent(name, value);
}

void CBrailleSampleDriver::HostLinkPart::DeviceData(const uint8_t* data, int32_t length) {
  CallbackScope scope(driver_.callbacks);
  if (IBrailleHost* current = driver_.host.load()) current->OnDeviceData(&driver_, data, length);
}

}  // namespace zol
