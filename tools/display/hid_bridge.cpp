// vdisplay_hid_bridge: under Wine, stands in for the HID display's device file and relays its
// reports to virtual_display --hid40/--hid80 over a COM port (a pty on the Linux side).
//   vdisplay_hid_bridge --port COMn --pipe \\.\pipe\NAME [--timeout SECONDS]
// The driver finds the pipe through the test-only hid.dll and setupapi.dll (ZOL_HIDSIM_DEVICES).
// Output reports the driver writes go to the port in relay frames; reports that arrive from
// the port are offered to the driver as input. Ends when virtual_display says goodbye, at the
// time-out, or when the port fails.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "hid_pipe_server.h"
#include "relay_codec.h"
#include "sim/hid_endpoint.h"

namespace {

using zol::vdisplay::RelayReader;

class RelayEndpoint : public zol::sim::HidEndpoint {
 public:
  explicit RelayEndpoint(HANDLE port) : port_(port) {}

  void OnOutputReport(const uint8_t* report, size_t length) override {
    const std::vector<uint8_t> frame = zol::vdisplay::EncodeRelayFrame(report, length);
    std::lock_guard<std::mutex> lock(portMutex_);
    size_t done = 0;
    while (done < frame.size()) {
      DWORD written = 0;
      if (!WriteFile(port_, frame.data() + done, static_cast<DWORD>(frame.size() - done), &written,
                     nullptr) ||
          written == 0)
        break;
      done += written;
    }
  }
  size_t PeekInput(uint8_t* report, size_t capacity) override {
    std::lock_guard<std::mutex> lock(inputMutex_);
    if (input_.empty() || input_.front().size() > capacity) return 0;
    std::memcpy(report, input_.front().data(), input_.front().size());
    return input_.front().size();
  }
  void PopInput() override {
    std::lock_guard<std::mutex> lock(inputMutex_);
    if (!input_.empty()) input_.pop_front();
  }
  void Queue(const std::vector<uint8_t>& report) {
    std::lock_guard<std::mutex> lock(inputMutex_);
    input_.push_back(report);
  }

 private:
  HANDLE port_;
  std::mutex portMutex_;
  std::mutex inputMutex_;
  std::deque<std::vector<uint8_t>> input_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string port, pipe;
  long timeoutSeconds = 3600;
  CLI::App app(
      "Stands in for the HID display's device file under Wine and relays its reports to "
      "virtual_display --hid40/--hid80 over a COM port.",
      "vdisplay_hid_bridge");
  app.add_option("--port", port, "the COM port the virtual display is linked as")
      ->type_name("COMn")
      ->required();
  app.add_option("--pipe", pipe, "the pipe the driver opens as the device file")
      ->type_name("\\\\.\\pipe\\NAME")
      ->required();
  app.add_option("--timeout", timeoutSeconds, "end after this long (3600)")
      ->type_name("SECONDS")
      ->check(CLI::PositiveNumber);
  if (const int code = zol::tools::ParseCommandLine(app, argc, argv);
      code != zol::tools::kCommandLineOk)
    return code;

  const std::string device = "\\\\.\\" + port;
  HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "vdisplay_hid_bridge: cannot open %s (error %lu)\n", port.c_str(),
                 GetLastError());
    return 1;
  }
  COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 1000};
  SetCommTimeouts(handle, &timeouts);

  RelayEndpoint endpoint(handle);
  zol::sim::HidPipeServer server(pipe, endpoint);
  if (!server.Start()) {
    std::fprintf(stderr, "vdisplay_hid_bridge: cannot create %s\n", pipe.c_str());
    CloseHandle(handle);
    return 1;
  }
  std::printf("bridge ready: %s <-> %s\n", pipe.c_str(), port.c_str());
  std::fflush(stdout);

  // Reads only what the port reports waiting: a read of more can stay pending under Wine.
  RelayReader reader;
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds) * 1000;
  int status = 0;
  bool goodbye = false;
  while (!goodbye && GetTickCount64() < end) {
    DWORD errors = 0;
    COMSTAT stat = {};
    if (!ClearCommError(handle, &errors, &stat)) {
      std::fprintf(stderr, "vdisplay_hid_bridge: the port failed (error %lu)\n", GetLastError());
      status = 1;
      break;
    }
    if (stat.cbInQue == 0) {
      Sleep(5);
      continue;
    }
    uint8_t bytes[512];
    DWORD got = 0;
    const DWORD want = stat.cbInQue < sizeof bytes ? stat.cbInQue : sizeof bytes;
    if (!ReadFile(handle, bytes, want, &got, nullptr)) continue;
    for (DWORD i = 0; i < got && !goodbye; ++i) {
      switch (reader.Feed(bytes[i])) {
        case RelayReader::Result::kPending:
          break;
        case RelayReader::Result::kReport:
          endpoint.Queue(reader.report());
          break;
        case RelayReader::Result::kGoodbye:
          goodbye = true;
          break;
      }
    }
  }
  server.Stop();
  CloseHandle(handle);
  std::printf("bridge ended\n");
  return status;
}
