// The hidden window that carries key events onto the host's thread.
//
// The worker thread copies each key name into a slot of keyNames and posts KeyEventMessage to
// the hidden window with the slot's ticket; the window procedure, on the thread that created the
// window, hands the name to the host and frees the slot. A slot is freed exactly once:
// - after delivery, or when the message reaches a window that is no longer the hidden window;
// - by the worker thread when there is no window or the post fails;
// - when the window is destroyed with events still queued for it: WM_NCDESTROY takes them out of
//   the queue (PeekMessageA with the window, PM_REMOVE) and frees them.
// The race between the worker thread posting and the owner destroying the window is closed by
// keyPosts: the worker enters it before it reads hiddenWindow and leaves after PostMessageA
// returns; the owner unpublishes the window first and waits until no post is in progress before
// it drains. A post that read the old handle has therefore landed before the drain, and every
// later post sees another window or none.
#include "driver/braille_sample_driver.h"

namespace zol {

namespace {

// A window property some window frameworks leave behind when they subclass a window.
constexpr char kStaleWindowProcProperty[] = "AfxOldWndProc423";

// The mark of a window the driver destroys (its GWLP_USERDATA).
constexpr LONG_PTR kDestroyedByDriver = 0x5A4C;

// How long a Close or suspend on another thread waits for the window's thread to destroy it.
constexpr UINT kOwnerAnswerMs = 1000;

static_assert(sizeof(WPARAM) >= sizeof(KeyNamePool::Ticket), "a ticket travels as WPARAM");

}  // namespace

void CBrailleSampleDriver::RegisterWindowClass() {
  WNDCLASSEXA windowClass = {};
  static_assert(sizeof windowClass == 80, "WNDCLASSEXA of a 64-bit process");
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &CBrailleSampleDriver::HiddenWindowProc;
  windowClass.hInstance = moduleInstance.load();
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = driverName;
  // A second registration while the module stays loaded fails harmlessly; the class is
  // unregistered when the module is unloaded.
  RegisterClassExA(&windowClass);
}

void CBrailleSampleDriver::UnregisterWindowClass() {
  UnregisterClassA(driverName, moduleInstance.load());
}

void CBrailleSampleDriver::CreateHiddenWindow() {
  // Message-only: no broadcast reaches it, so nothing but the driver's own messages ever calls
  // its procedure.
  HWND window =
      CreateWindowExA(0, driverName, nullptr, WS_DISABLED, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                      HWND_MESSAGE, nullptr, moduleInstance.load(), nullptr);
  if (!window) return;
  SetWindowLongPtrA(window, GWLP_WNDPROC,
                    reinterpret_cast<LONG_PTR>(&CBrailleSampleDriver::HiddenWindowProc));
  RemovePropA(window, kStaleWindowProcProperty);
  hiddenWindow.store(window);
}

void CBrailleSampleDriver::DestroyHiddenWindow() {
  HWND window = hiddenWindow.exchange(nullptr);
  if (!window) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindowNow(window);
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
                     reinterpret_cast<LPCSTR>(&CBrailleSampleDriver::HiddenWindowProc), &self);
  PostMessageA(window, kDestroyWindowMessage, 0, 0);
}

void CBrailleSampleDriver::DestroyWindowNow(HWND window) {
  // Marked on the window itself, which no other process can change.
  SetWindowLongPtrA(window, GWLP_USERDATA, kDestroyedByDriver);
  DestroyWindow(window);
}

LRESULT CALLBACK CBrailleSampleDriver::HiddenWindowProc(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam) {
  return TheDriver().HandleWindowMessage(window, message, wParam, lParam);
}

LRESULT CBrailleSampleDriver::HandleWindowMessage(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      return 0;  // the window goes only when the driver says so
    case kDestroyWindowMessage:
      if (window != hiddenWindow.load()) DestroyWindowNow(window);
      return 0;
    case kCloseRequestMessage:
      if (window == hiddenWindow.load()) hostSession.CloseRequested();
      return 0;
    case WM_NCDESTROY:
      // Only a destruction the driver made; a WM_NCDESTROY sent by someone else leaves the
      // window in service. (A window that its thread's end destroyed stays published until a
      // post to it fails, which frees the event.)
      if (GetWindowLongPtrA(window, GWLP_USERDATA) == kDestroyedByDriver) ForgetWindow(window);
      break;
    default:
      break;
  }
  if (message != kKeyEventMessage || !IsWindow(window) || window != hiddenWindow.load()) {
    // An event for a window that is no longer the hidden window is never delivered.
    if (message == kKeyEventMessage) keyNames.Release(wParam);
    return DefWindowProcA(window, message, wParam, lParam);
  }
  DeliverKeyEvent(wParam, static_cast<int32_t>(lParam));
  return 0;
}

void CBrailleSampleDriver::ForgetWindow(HWND window) {
  HWND expected = window;
  hiddenWindow.compare_exchange_strong(expected, nullptr);
  keyPosts.WaitIdle(YieldToPoster);
  // PeekMessageA hands out WM_QUIT whatever the filter: it is put back for the thread's loop.
  bool quit = false;
  WPARAM quitCode = 0;
  MSG queued;
  while (PeekMessageA(&queued, window, kKeyEventMessage, kKeyEventMessage, PM_REMOVE)) {
    if (queued.message == WM_QUIT) {
      quit = true;
      quitCode = queued.wParam;
    } else {
      keyNames.Release(queued.wParam);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

void CBrailleSampleDriver::DeliverKeyEvent(KeyNamePool::Ticket ticket, int32_t value) {
  const char* name = keyNames.Take(ticket);
  if (!name) return;
  try {
    if (name[0] != 0)
      hostSession.CallHost([&](IBrailleHost* host) { host->OnKeyEvent(this, name, value); });
  } catch (...) {
  }
  keyNames.Release(ticket);
}

void CBrailleSampleDriver::PostKeyEvent(const char* name, int32_t value) {
  if (!name || name[0] == 0) return;  // an empty name would be dropped on delivery
  const KeyNamePool::Ticket ticket = keyNames.Acquire(name);
  if (ticket == 0) return;  // the host's thread is that far behind: the event is dropped
  keyPosts.Enter();
  HWND window = hiddenWindow.load();
  const BOOL posted = window && PostMessageA(window, kKeyEventMessage, static_cast<WPARAM>(ticket),
                                             static_cast<LPARAM>(value));
  keyPosts.Leave();
  if (!posted) keyNames.Release(ticket);
}

}  // namespace zol
