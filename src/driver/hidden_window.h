// The hidden window that carries key events from the worker thread onto the host's thread: the
// thread that made the window (Open, or the SetSuspended(0) that made it again).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "driver/host_session.h"
#include "driver/key_name_pool.h"
#include "driver/post_gate.h"
#include "zol/braille_driver.h"

namespace zol {

class HiddenWindow {
 public:
  // procedure: the window procedure of the class, which hands every message to HandleMessage.
  // Key events go to the host of session, with driver as the sender.
  HiddenWindow(WNDPROC procedure, HostSession& session, IBrailleDriver& driver);
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;

  // Module entry: the instance handle that registers the window class and owns the window.
  void SetModuleInstance(HINSTANCE instance) { moduleInstance_.store(instance); }
  // Module unload: the window class goes with the module (it stays while a window of it exists).
  void UnregisterWindowClass();

  // Registers the window class, destroys any window left and makes a new one on this thread.
  void OpenHere();
  // Makes the window on the calling thread; without one, key events are dropped.
  void Create();
  bool Exists() const { return window_.load() != nullptr; }
  // On the window's own thread at once; on another thread through the window's thread, waiting
  // up to 1000 ms for it (when it does not answer, the module stays loaded for good).
  void Destroy();
  // Asks the window's thread to call HostSession::CloseRequested when it next takes its
  // messages.
  void AskToClose();

  // Worker thread: posts one key event to the window without waiting; dropped when there is no
  // window or the host's thread is that far behind.
  void PostKeyEvent(const char* name, int32_t value);
  // Key events still queued for a window of an earlier session can never be delivered: frees
  // their names. Only while no worker thread runs.
  void ReclaimPostedKeys() { keyNames_.ReclaimPosted(); }
  size_t FreeKeyNameSlots() const { return keyNames_.FreeCount(); }

  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void RegisterWindowClass();
  // Destroys a window of the calling thread as the driver's own act (see WM_NCDESTROY).
  void DestroyNow(HWND window);
  void Forget(HWND window);
  void DeliverKeyEvent(KeyNamePool::Ticket ticket, int32_t value);

  const WNDPROC procedure_;
  HostSession& session_;
  IBrailleDriver& driver_;
  std::atomic<HWND> window_{nullptr};
  char className_[80] = {};
  std::atomic<HINSTANCE> moduleInstance_{nullptr};
  PostGate keyPosts_;
  KeyNamePool keyNames_;
};

}  // namespace zol
