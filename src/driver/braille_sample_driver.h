// The driver object: the one CBrailleSampleDriver of the process, which the host reaches
// through IBrailleDriver. It answers the host's slots and composes the driver's jobs:
// - HostSession (host_session.h): the lifecycle of Open, Close and SetSuspended, the host
//   pointer and the calls into the host;
// - WorkerThread (worker_thread.h): the one thread that does all device input and output, and
//   the queue of commands the host's operations post to it;
// - HiddenWindow (hidden_window.h): the window that carries key events onto the thread that
//   made it, so that keys reach the host there.
// Fields that both sides touch are atomic.
//
// Calls from two host threads, and calls made from inside the host's callbacks, are safe: one
// lifecycle (SessionState) decides which Open or Close does the work; a call from inside
// OnKeyEvent never waits for its own delivery; a call from inside OnDeviceData (on the worker
// thread) never waits for the worker and never creates or destroys a window there: what it asks
// is queued and done once the callback has returned.
//
// The object's table of virtual operations is the host's 35 slots followed by Reserved35 and
// Reserved36, nothing else: the object has no other base class and no virtual destructor. What
// the device side needs of the driver (HostLink) is served by a member object.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/shared_state.h"
#include "driver/hidden_window.h"
#include "driver/host_session.h"
#include "driver/worker_thread.h"
#include "input/host_link.h"
#include "zol/braille_driver.h"

namespace zol {

class CBrailleSampleDriver : public IBrailleDriver {
 public:
  // The destructor is not virtual: the host's interface has no destructor slot. The worker
  // thread keeps the module loaded while it runs, so the object is only destroyed once no worker
  // thread uses it.
  CBrailleSampleDriver() = default;
  CBrailleSampleDriver(const CBrailleSampleDriver&) = delete;
  CBrailleSampleDriver& operator=(const CBrailleSampleDriver&) = delete;

  // Slot 0. Starts the worker thread, connects with portName (null counts as empty) and, when a
  // display answered, keeps host and the two texts and creates the hidden window on the calling
  // thread. Returns 1 when opened. An Open while another runs or the driver is open, or made
  // from inside a callback, returns 0 and leaves the session as it is.
  int32_t Open(const char* portName, IBrailleHost* host, const char* text1,
               const char* text2) override;
  // Slot 1. Blanks the display, disconnects, stops the worker thread and destroys the hidden
  // window. Once it returns no device handle, port or mapping is open (unless the worker thread
  // was still busy after 5000 ms; it then releases them itself when it ends). Returns at once
  // when the driver is not open, and while another Close runs (on another thread, or further
  // out on this one). From inside OnDeviceData it only queues the disconnect and asks the thread
  // of the hidden window to finish the Close.
  void Close() override;
  // Slot 2. Replaces the host callback object (null included); returns the previous one once no
  // callback into it runs on another thread (a callback running on the calling thread excepted,
  // and one whose thread is itself waiting for the worker thread when called from it).
  IBrailleHost* SetHost(IBrailleHost* host) override;
  // Slots 3 and 4. Copy the first or second text given to Open into buffer (length bytes,
  // zero-filled, last byte 0) and return the length of the text copied, at most length - 1.
  // A null buffer or a length below 1 writes nothing and returns 0.
  int32_t GetParameter1(char* buffer, int32_t length) override;
  int32_t GetParameter2(char* buffer, int32_t length) override;
  int32_t Reserved5(void*, int32_t) override { return 0; }
  // Slot 6. Always 768.
  int32_t GetInfoValue() override;
  int32_t Reserved7() override { return 0; }
  int32_t Reserved8() override { return 0; }
  int32_t Reserved9() override { return 0; }
  int32_t Reserved10(void*) override { return 0; }
  // Slots 11 and 12. Queue a copy of count dot patterns for the text cells or for all cells
  // (status cells first) and return without waiting: non-zero when queued, 0 when suspended,
  // dots is null, count is below 1 or no worker thread runs. At most 200 cells are taken.
  int32_t WriteTextCells(const uint8_t* dots, int32_t count) override;
  int32_t WriteAllCells(const uint8_t* dots, int32_t count) override;
  // Slot 13. Queues a blank display unless suspended; same results.
  int32_t ClearDisplay() override;
  int32_t Reserved14(void*, int32_t) override { return 0; }
  int32_t Reserved15() override { return 0; }
  // Slot 16. Non-zero suspends (the display is blanked, the link closes, the hidden window goes,
  // writes are refused), 0 resumes (reconnect with the stored port name, new hidden window on the
  // calling thread). Returns 1 when the state is already the one asked for, 0 when the driver is
  // not open, else whether the command was queued. From inside a callback it does not wait for
  // the command; from inside OnDeviceData it leaves the hidden window as it is.
  int32_t SetSuspended(int32_t suspend) override;
  void Reserved17() override {}
  // Slots 18, 20, 21: the geometry of the display last connected (0 before any).
  int32_t GetTextCellCount() override;
  int32_t Reserved19() override { return 0; }
  int32_t GetStatusCellCount() override;
  int32_t GetTotalCellCount() override;
  int32_t Reserved22() override { return 0; }
  int32_t Reserved23(int32_t, int32_t, int32_t) override { return 0; }
  int32_t Reserved24() override { return 0; }
  int32_t Reserved25(int32_t, uint8_t) override { return 0; }
  int32_t Reserved26(void*, int32_t, int32_t) override { return 0; }
  int32_t Reserved27(void*) override { return 0; }
  int32_t Reserved28(int32_t) override { return 0; }
  int32_t Reserved29() override { return 0; }
  void Reserved30(int32_t) override {}
  int32_t Reserved31() override { return 0; }
  void Reserved32(int32_t) override {}
  int32_t Reserved33() override { return 0; }
  // Slot 34. "ZOL" with its terminator and the driver's GUID record; 1, or 0 with nothing
  // written when a pointer is null or nameLength is below 4.
  int32_t GetDriverIdentity(char* nameBuffer, int32_t nameLength, ZolGuid* id) override;
  // Slots 35 and 36, this object's own. They do nothing.
  virtual void Reserved35(int32_t) {}
  virtual void Reserved36(int32_t) {}

  // Module entry: the instance handle that registers the window class and owns the window.
  void SetModuleInstance(HINSTANCE instance) { keyWindow.SetModuleInstance(instance); }
  // Module unload: the window class goes with the module (it stays while a window of it exists).
  void UnregisterWindowClass() { keyWindow.UnregisterWindowClass(); }

  // Observations for the driver's own tests.
  int32_t LiveCommandPayloads() const { return worker.LivePayloads(); }
  size_t FreeKeyNameSlots() const { return keyWindow.FreeKeyNameSlots(); }
  // Holds a new worker thread this long before it creates its message queue.
  void SetWorkerStartDelayForTesting(uint32_t ms) { worker.SetStartDelayForTesting(ms); }

 private:
  // What the input translation needs of the host boundary (worker thread).
  class HostLinkPart final : public HostLink {
   public:
    explicit HostLinkPart(CBrailleSampleDriver& driver) : driver_(driver) {}
    bool HostSet() override;
    void PostKeyEvent(const char* name, int32_t value) override;
    void DeviceData(const uint8_t* data, int32_t length) override;

   private:
    CBrailleSampleDriver& driver_;
  };

  // What the lifecycle (HostSession) asks of Windows: the worker thread and the hidden window.
  class SessionPart final : public SessionPlatform {
   public:
    explicit SessionPart(CBrailleSampleDriver& driver) : driver_(driver) {}
    uint32_t CurrentThread() override;
    uint32_t WorkerThread() override;
    bool StartWorker() override;
    int32_t Post(CommandCode code, const void* data, uint32_t length, bool wait) override;
    bool Connected() override;
    void StopWorker() override;
    void Opened(const char* text1, const char* text2) override;
    bool WindowExists() override;
    void CreateWindowHere() override;
    void DestroyWindow() override;
    void AskWindowThreadToClose() override;
    void YieldToCallbacks() override;

   private:
    CBrailleSampleDriver& driver_;
  };

  static LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  SharedState shared;  // suspended, textCellCount, statusCellCount
  char parameter1[256] = {};
  char parameter2[256] = {};
  HostLinkPart hostLink{*this};
  SessionPart sessionPart{*this};
  // The lifecycle, the host pointer and the callbacks into it.
  HostSession hostSession{sessionPart, shared};
  WorkerThread worker{DriverParts{shared, hostLink}};
  HiddenWindow keyWindow{&CBrailleSampleDriver::HiddenWindowProc, hostSession, *this};
};

// The driver object of this module, constructed when the module is loaded.
CBrailleSampleDriver& TheDriver();

}  // namespace zol
