// The command FIFO of the simulated serial display that run_with_sim_control.sh runs: the
// end-to-end tests and the benchmark drive the display by writing command lines into it.
#pragma once

#include <windows.h>

#include <string>

namespace zol::simctl {

// The FIFO in the control folder dir (ZOL_E2E_CONTROL); INVALID_HANDLE_VALUE when it is not
// there.
inline HANDLE OpenControlFifo(const std::string& dir) {
  return CreateFileA((dir + "\\ctl").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// Writes text and a newline whole (a FIFO may take it in parts); stops at a failed write.
inline void WriteControlLine(HANDLE fifo, const std::string& text) {
  const std::string line = text + "\n";
  size_t done = 0;
  while (done < line.size()) {
    DWORD written = 0;
    if (!WriteFile(fifo, line.data() + done, static_cast<DWORD>(line.size() - done), &written,
                   nullptr))
      return;
    done += written;
  }
}

}  // namespace zol::simctl
