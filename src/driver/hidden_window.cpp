// The worker thread copies each key name into a slot of keyNames_ and posts KeyEventMessage to
// the hidden window with the slot's ticket; the window procedure, on the thread that created the
// window, hands the name to the host and frees the slot. A slot is freed exactly once:
// - after delivery, or when the message reaches a window that is no longer the hidden window;
// - by the worker thread when there is no window or the post fails;
// - when the window is destroyed with events still queued for it: WM_NCDESTROY takes them out of
//   the queue (PeekMessageA with the window, PM_REMOVE) and frees them.
// The race between the worker thread posting and the owner destroying the window is closed by
// keyPosts_: the worker enters it before it reads window_ and leaves after PostMessageA
// returns; the owner unpublishes the window first and waits until no post is in progress before
// it drains. A post that read the old handle has therefore landed before the drain, and every
// later post sees another window or none.
#include "driver/hidden_window.h"

#include "driver/bounded_text.h"
#include "driver/command_channel.h"
#include "driver/driver_identity.h"
#include "driver/pumping_wait.h"

namespace zol {

namespace {

// A window property some window frameworks leave behind when they subclass a window.
constexpr char kStaleWindowProcProperty[] = "AfxOldWndProc423";

// The mark of a window the driver destroys (its GWLP_USERDATA).
constexpr LONG_PTR kDestroyedByDriver = 0x5A4C;

// How long a Close or suspend on another thread waits for the window's thread to destroy it.
constexpr UINT kOwnerAnswerMs = 1000;

// The driver's own requests to the window's thread. Anyone may send them too (a message-only
// window can be found by its class name), so each is checked against what the driver asked:
// destroy a window the driver has retired (no longer the hidden window), and finish a Close
// asked for from inside OnDeviceData.
constexpr UINT kDestroyWindowMessage = WM_APP + 0x5A4D;
constexpr UINT kCloseRequestMessage = WM_APP + 0x5A4E;

static_assert(sizeof(WPARAM) >= sizeof(KeyNamePool::Ticket), "a ticket travels as WPARAM");

}  // namespace

HiddenWindow::HiddenWindow(WNDPROC procedure, HostSession& session, IBrailleDriver& driver)
    : procedure_(procedure), session_(session), driver_(driver) {
  CopyTerminated(className_, sizeof className_, kDriverName);
}

void HiddenWindow::OpenHere() {
  RegisterWindowClass();
  Destroy();
  Create();
}

void HiddenWindow::RegisterWindowClass() {
  WNDCLASSEXA windowClass = {};
  static_assert(sizeof windowClass == 80, "WNDCLASSEXA of a 64-bit process");
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure_;
  windowClass.hInstance = moduleInstance_.load();
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className_;
  // A second registration while the module stays loaded fails harmlessly; the class is
  // unregistered when the module is unloaded.
  RegisterClassExA(&windowClass);
}

void HiddenWindow::UnregisterWindowClass() {
  UnregisterClassA(className_, moduleInstance_.load());
}

void HiddenWindow::Create() {
  // Message-only: no broadcast reaches it, so nothing but the driver's own messages ever calls
  // its procedure.
  HWND window =
      CreateWindowExA(0, className_, nullptr, WS_DISABLED, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                      HWND_MESSAGE, nullptr, moduleInstance_.load(), nullptr);
  if (!window) return;
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure_));
  RemovePropA(window, kStaleWindowProcProperty);
  window_.store(window);
}

void HiddenWindow::Destroy() {
  HWND window = window_.exchange(nullptr);
  if (!window) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyNow(window);
    return;
  }
  // Only the owner can destroy it; the driver's own message makes it do so. Sent, not posted:
  // the host may unload the module as soon as Close returns, and a window left behind would
  // call freed code at its owner's next dispatch.
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(window, kDestroyWindowMessage, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                          kOwnerAnswerMs, &result) ||
      !IsWindow(window)) {
    return;
  }
  // The owner is busy elsewhere. The window then goes when the owner next takes its messages
  // (whether or not the system still delivers a message whose sender stopped waiting), and the
  // module stays loaded for good, so that its procedure is still there when it does.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(procedure_), &self);
  PostMessageA(window, kDestroyWindowMessage, 0, 0);
}

void HiddenWindow::AskToClose() {
  if (HWND window = window_.load()) PostMessageA(window, kCloseRequestMessage, 0, 0);
}

void HiddenWindow::DestroyNow(HWND window) {
  // Marked on the window itself, which no other process can change.
  SetWindowLongPtrA(window, GWLP_USERDATA, kDestroyedByDriver);
  DestroyWindow(window);
}

LRESULT HiddenWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      return 0;  // the window goes only when the driver says so
    case kDestroyWindowMessage:
      if (window != window_.load()) DestroyNow(window);
      return 0;
    case kCloseRequestMessage:
      if (window == window_.load()) session_.CloseRequested();
      return 0;
    case WM_NCDESTROY:
      // Only a destruction the driver made; a WM_NCDESTROY sent by someone else leaves the
      // window in service. (A window that its thread's end destroyed stays published until a
      // post to it fails, which frees the event.)
      if (GetWindowLongPtrA(window, GWLP_USERDATA) == kDestroyedByDriver) Forget(window);
      break;
    default:
      break;
  }
  if (message != kKeyEventMessage || !IsWindow(window) || window != window_.load()) {
    // An event for a window that is no longer the hidden window is never delivered.
    if (message == kKeyEventMessage) keyNames_.Release(wParam);
    return DefWindowProcA(window, message, wParam, lParam);
  }
  DeliverKeyEvent(wParam, static_cast<int32_t>(lParam));
  return 0;
}

void HiddenWindow::Forget(HWND window) {
  HWND expected = window;
  window_.compare_exchange_strong(expected, nullptr);
  keyPosts_.WaitIdle(YieldToPoster);
  // PeekMessageA hands out WM_QUIT whatever the filter: it is put back for the thread's loop.
  bool quit = false;
  WPARAM quitCode = 0;
  MSG queued;
  while (PeekMessageA(&queued, window, kKeyEventMessage, kKeyEventMessage, PM_REMOVE)) {
    if (queued.message == WM_QUIT) {
      quit = true;
      quitCode = queued.wParam;
    } else {
      keyNames_.Release(queued.wParam);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

void HiddenWindow::DeliverKeyEvent(KeyNamePool::Ticket ticket, int32_t value) {
  const char* name = keyNames_.Take(ticket);
  if (!name) return;
  try {
    if (name[0] != 0)
      session_.CallHost([&](IBrailleHost* host) { host->OnKeyEvent(&driver_, name, value); });
  } catch (...) {
  }
  keyNames_.Release(ticket);
}

void HiddenWindow::PostKeyEvent(const char* name, int32_t value) {
  if (!name || name[0] == 0) return;  // an empty name would be dropped on delivery
  const KeyNamePool::Ticket ticket = keyNames_.Acquire(name);
  if (ticket == 0) return;  // the host's thread is that far behind: the event is dropped
  keyPosts_.Enter();
  HWND window = window_.load();
  const BOOL posted = window && PostMessageA(window, kKeyEventMessage, static_cast<WPARAM>(ticket),
                                             static_cast<LPARAM>(value));
  keyPosts_.Leave();
  if (!posted) keyNames_.Release(ticket);
}

}  // namespace zol
