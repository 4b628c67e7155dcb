#include "platform/win32/win32_trace_file.h"

#include <windows.h>

namespace zol::win32 {

Win32TraceFile::Win32TraceFile() {
  DWORD length = GetEnvironmentVariableA("ZOL_TRACE", path_, sizeof path_);
  if (length == 0 || length >= sizeof path_) path_[0] = '\0';
}

void Win32TraceFile::Write(const char* text, size_t length) {
  if (!enabled()) return;
  HANDLE file =
      CreateFileA(path_, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

}  // namespace zol::win32
