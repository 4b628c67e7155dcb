// The driver object: the one CBrailleSampleDriver of the process, which the host reaches
// through IBrailleDriver.
//
// Threads. The host's threads call the IBrailleDriver operations; the thread that calls Open
// owns the hidden window, so key events reach the host on that thread. One worker thread does
// all device input and output: host operations that touch the display become commands posted
// to it. Fields that both sides touch are atomic.
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

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "connection/device_service.h"
#include "core/shared_state.h"
#include "driver/command_channel.h"
#include "driver/command_queue.h"
#include "driver/host_session.h"
#include "driver/key_name_pool.h"
#include "driver/post_gate.h"
#include "input/host_link.h"
#include "zol/braille_driver.h"

namespace zol {

class CBrailleSampleDriver : public IBrailleDriver {
 public:
  CBrailleSampleDriver();
  // Not virtual: the host's interface has no destructor slot. The worker thread keeps the
  // module loaded while it runs, so the object is only destroyed once no worker thread uses it.
  ~CBrailleSampleDriver();
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
  int32_t Reserved5(void* pointer, int32_t value) override;
  // Slot 6. Always 768.
  int32_t GetInfoValue() override;
  int32_t Reserved7() override;
  int32_t Reserved8() override;
  int32_t Reserved9() override;
  int32_t Reserved10(void* pointer) override;
  // Slots 11 and 12. Queue a copy of count dot patterns for the text cells or for all cells
  // (status cells first) and return without waiting: non-zero when queued, 0 when suspended,
  // dots is null, count is below 1 or no worker thread runs. At most 200 cells are taken.
  int32_t WriteTextCells(const uint8_t* dots, int32_t count) override;
  int32_t WriteAllCells(const uint8_t* dots, int32_t count) override;
  // Slot 13. Queues a blank display unless suspended; same results.
  int32_t ClearDisplay() override;
  int32_t Reserved14(void* pointer, int32_t value) override;
  int32_t Reserved15() override;
  // Slot 16. Non-zero suspends (the display is blanked, the link closes, the hidden window goes,
  // writes are refused), 0 resumes (reconnect with the stored port name, new hidden window on the
  // calling thread). Returns 1 when the state is already the one asked for, 0 when the driver is
  // not open, else whether the command was queued. From inside a callback it does not wait for
  // the command; from inside OnDeviceData it leaves the hidden window as it is.
  int32_t SetSuspended(int32_t suspend) override;
  void Reserved17() override;
  // Slots 18, 20, 21: the geometry of the display last connected (0 before any).
  int32_t GetTextCellCount() override;
  int32_t Reserved19() override;
  int32_t GetStatusCellCount() override;
  int32_t GetTotalCellCount() override;
  int32_t Reserved22() override;
  int32_t Reserved23(int32_t a, int32_t b, int32_t c) override;
  int32_t Reserved24() override;
  int32_t Reserved25(int32_t a, uint8_t b) override;
  int32_t Reserved26(void* pointer, int32_t a, int32_t b) override;
  int32_t Reserved27(void* pointer) override;
  int32_t Reserved28(int32_t value) override;
  int32_t Reserved29() override;
  void Reserved30(int32_t value) override;
  int32_t Reserved31() override;
  void Reserved32(int32_t value) override;
  int32_t Reserved33() override;
  // Slot 34. "ZOL" with its terminator and the driver's GUID record; 1, or 0 with nothing
  // written when a pointer is null or nameLength is below 4.
  int32_t GetDriverIdentity(char* nameBuffer, int32_t nameLength, ZolGuid* id) override;
  // Slots 35 and 36, this object's own. They do nothing.
  virtual void Reserved35(int32_t value);
  virtual void Reserved36(int32_t value);

  // Module entry: the instance handle that registers the window class and owns the window.
  void SetModuleInstance(HINSTANCE instance) { moduleInstance.store(instance); }
  // Module unload: the window class goes with the module (it stays while a window of it exists).
  void UnregisterWindowClass();

  // Observations for the driver's own tests.
  int32_t LiveCommandPayloads() const { return livePayloads.load(); }
  size_t FreeKeyNameSlots() const { return keyNames.FreeCount(); }
  // Holds a new worker thread this long before it creates its message queue.
  void SetWorkerStartDelayForTesting(uint32_t ms) { workerStartDelayMs.store(ms); }

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

  // Life of the worker thread, as far as posting is concerned. Commands are accepted only while
  // it is kRunning.
  enum WorkerState : int32_t { kNoWorker, kStarting, kRunning, kAbandoned, kEnded };

  // The device side, attached on first use (the first Open), never at module load.
  DeviceService& Device();

  // What the host's lifecycle calls (HostSession) ask of Windows.
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

  // Open's two steps on Windows: the worker thread started and ready (with an earlier one that
  // had not ended reaped first), then the host's texts kept and the hidden window made.
  bool StartSession();
  void WelcomeHost(const char* text1, const char* text2);
  // Posts CMD_STOP and waits up to 5000 ms for the worker thread to end.
  void StopWorkerThread();
  // Closes the completion event and destroys the hidden window.
  void ReleaseSession();
  // A worker thread that was still busy when Close stopped waiting for it: waits up to timeoutMs
  // more for it to end. True when no such thread is left.
  bool ReapRetiredWorker(DWORD timeoutMs);

  // Command channel (worker_thread.cpp).
  static void YieldToPoster(uint32_t round);
  int32_t StartWorkerThread();
  bool WaitWorkerReady();
  static DWORD WINAPI WorkerThreadMain(LPVOID driver);
  void RunWorkerThread();
  // Sleeps until the display sends something, a message or command arrives, or timeoutMs pass.
  void WaitForWork(DWORD timeoutMs);
  // Handles the messages of the thread's queue (at most a bound per wake): those for windows of
  // the thread are dispatched; thread messages (the wake, or anyone's) only wake it.
  void RunThreadMessages();
  // Runs the queued commands, at most a bound per wake; those taken and not yet run stay in
  // pending. False after CMD_STOP.
  bool RunQueuedCommands(QueuedCommand*& pending);
  void EndWorkerThread(QueuedCommand* pending);
  int32_t PostCommand(CommandCode code, const void* data, uint32_t length, bool wait);
  void WaitForCommand(uint32_t waitTicket);
  int32_t DispatchCommand(uint32_t code, uint8_t* payload, uint64_t param);
  void RunCommand(uint32_t code, const uint8_t* payload, uint32_t value);
  QueuedCommand* NewCommand(uint32_t code, const void* data, uint32_t length, uint64_t param);
  void FreeCommand(QueuedCommand* command);

  // The driver's own requests to the hidden window's thread. Anyone may send them too (a
  // message-only window can be found by its class name), so each is checked against what the
  // driver asked: destroy a window the driver has retired (no longer the hidden window), and
  // finish a Close asked for from inside OnDeviceData.
  static constexpr UINT kDestroyWindowMessage = WM_APP + 0x5A4D;
  static constexpr UINT kCloseRequestMessage = WM_APP + 0x5A4E;

  // Hidden window and key events (hidden_window.cpp).
  void RegisterWindowClass();
  void CreateHiddenWindow();
  // On the window's own thread at once; on another thread through the window's thread, waiting
  // up to 1000 ms for it (when it does not answer, the module stays loaded for good).
  void DestroyHiddenWindow();
  // Destroys a window of the calling thread as the driver's own act (see WM_NCDESTROY).
  void DestroyWindowNow(HWND window);
  static LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void ForgetWindow(HWND window);
  void DeliverKeyEvent(KeyNamePool::Ticket ticket, int32_t value);
  void PostKeyEvent(const char* name, int32_t value);

  // Fields, in the order the host-visible state is laid out; the device side keeps its own.
  SharedState shared;  // suspended, textCellCount, statusCellCount
  char parameter1[256] = {};
  char parameter2[256] = {};
  std::atomic<HANDLE> workerThread{nullptr};
  std::atomic<HANDLE> completionEvent{nullptr};
  std::atomic<DWORD> workerThreadId{0};
  std::atomic<HWND> hiddenWindow{nullptr};
  char driverName[80] = {};

  std::atomic<HINSTANCE> moduleInstance{nullptr};
  std::atomic<int32_t> workerState{kNoWorker};
  // Reference on this module held by the running worker thread, dropped as the thread exits.
  HMODULE workerModulePin = nullptr;
  // A worker thread that had not ended within 5000 ms of CMD_STOP, and its completion event:
  // kept (host threads only) until the thread is seen ended, so that no second worker thread
  // starts beside it and it never signals a closed or reused handle.
  HANDLE retiredThread = nullptr;
  HANDLE retiredEvent = nullptr;
  // Wait tickets: the last handed out (host threads) and the last whose command has run.
  std::atomic<uint32_t> lastWaitTicket{0};
  std::atomic<uint32_t> completedWaitTicket{0};
  // Result of the last CMD_CONNECT, for Open.
  std::atomic<int32_t> lastConnectResult{0};
  CommandQueue commands;
  // Commands posted and not yet run or freed.
  std::atomic<uint32_t> queuedCommands{0};
  PostGate commandPosts;
  PostGate keyPosts;
  KeyNamePool keyNames;
  std::atomic<int32_t> livePayloads{0};
  std::atomic<uint32_t> workerStartDelayMs{0};
  HostLinkPart hostLink{*this};
  SessionPart sessionPart{*this};
  // The lifecycle, the host pointer and the callbacks into it.
  HostSession hostSession{sessionPart, shared};
};

// The driver object of this module, constructed when the module is loaded.
CBrailleSampleDriver& TheDriver();

}  // namespace zol
