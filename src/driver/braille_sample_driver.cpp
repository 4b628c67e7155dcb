#include "driver/braille_sample_driver.h"

#include "driver/bounded_text.h"
#include "driver/driver_identity.h"

namespace zol {

namespace {

// The one driver object of the process, constructed when the module is loaded.
CBrailleSampleDriver driverObject;

}  // namespace

CBrailleSampleDriver& TheDriver() {
  return driverObject;
}

int32_t CBrailleSampleDriver::Open(const char* portName, IBrailleHost* newHost, const char* text1,
                                   const char* text2) {
  try {
    return hostSession.Open(portName, newHost, text1, text2);
  } catch (...) {
    worker.Stop();
    keyWindow.Destroy();
    return 0;
  }
}

void CBrailleSampleDriver::Close() {
  try {
    hostSession.Close();
  } catch (...) {
  }
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
  return worker.Post(CMD_WRITE_TEXT, dots, static_cast<uint32_t>(cells), false);
}

int32_t CBrailleSampleDriver::WriteAllCells(const uint8_t* dots, int32_t count) {
  if (shared.suspended.load() != 0 || !dots || count <= 0) return 0;
  const int32_t cells = count < kMaxWriteCells ? count : kMaxWriteCells;
  return worker.Post(CMD_WRITE_ALL, dots, static_cast<uint32_t>(cells), false);
}

int32_t CBrailleSampleDriver::ClearDisplay() {
  if (shared.suspended.load() != 0) return 0;
  return worker.Post(CMD_CLEAR, nullptr, 0, false);
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

LRESULT CALLBACK CBrailleSampleDriver::HiddenWindowProc(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam) {
  return TheDriver().keyWindow.HandleMessage(window, message, wParam, lParam);
}

bool CBrailleSampleDriver::HostLinkPart::HostSet() {
  return driver_.hostSession.host() != nullptr;
}

void CBrailleSampleDriver::HostLinkPart::PostKeyEvent(const char* name, int32_t value) {
  driver_.keyWindow.PostKeyEvent(name, value);
}

void CBrailleSampleDriver::HostLinkPart::DeviceData(const uint8_t* data, int32_t length) {
  driver_.hostSession.CallHost(
      [&](IBrailleHost* host) { host->OnDeviceData(&driver_, data, length); });
}

uint32_t CBrailleSampleDriver::SessionPart::CurrentThread() {
  return GetCurrentThreadId();
}

uint32_t CBrailleSampleDriver::SessionPart::WorkerThread() {
  return driver_.worker.ThreadId();
}

bool CBrailleSampleDriver::SessionPart::StartWorker() {
  if (!driver_.worker.ReapRetired()) return false;
  // Key events still queued for a window of an earlier session can never be delivered.
  driver_.keyWindow.ReclaimPostedKeys();
  if (driver_.worker.Start()) return true;
  driver_.keyWindow.Destroy();
  return false;
}

int32_t CBrailleSampleDriver::SessionPart::Post(CommandCode code, const void* data, uint32_t length,
                                                bool wait) {
  return driver_.worker.Post(code, data, length, wait);
}

bool CBrailleSampleDriver::SessionPart::Connected() {
  // The cell count survives failed connects, so only this connect's own answer counts.
  return driver_.worker.ConnectResult() != 0 && driver_.shared.textCellCount.load() > 0;
}

void CBrailleSampleDriver::SessionPart::StopWorker() {
  driver_.worker.Stop();
}

void CBrailleSampleDriver::SessionPart::Opened(const char* text1, const char* text2) {
  CopyToField(driver_.parameter1, sizeof driver_.parameter1, text1);
  CopyToField(driver_.parameter2, sizeof driver_.parameter2, text2);
  driver_.keyWindow.OpenHere();
}

bool CBrailleSampleDriver::SessionPart::WindowExists() {
  return driver_.keyWindow.Exists();
}

void CBrailleSampleDriver::SessionPart::CreateWindowHere() {
  driver_.keyWindow.Create();
}

void CBrailleSampleDriver::SessionPart::DestroyWindow() {
  driver_.keyWindow.Destroy();
}

void CBrailleSampleDriver::SessionPart::AskWindowThreadToClose() {
  driver_.keyWindow.AskToClose();
}

void CBrailleSampleDriver::SessionPart::YieldToCallbacks() {
  // A callback running elsewhere may be waiting for this thread to answer a message.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
}

}  // namespace zol
