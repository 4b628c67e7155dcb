#include "testing/message_window.h"

namespace zol::testing {

HWND CreateMessageWindow(const char* className, WNDPROC proc) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         windowClass.hInstance, nullptr);
}

}  // namespace zol::testing
