#include "host_session.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "common/braille_text.h"
#include "output.h"
#include "testing/message_pump.h"
#include "testing/message_window.h"

namespace zol::host {
namespace {

// Limits on how long one driver call may take before zolhost gives up on the driver. Open
// searches USB and runs a handshake; Close and SetSuspended wait for the worker thread.
constexpr uint32_t kOpenLimitMs = 60000;
constexpr uint32_t kStateLimitMs = 30000;
constexpr uint32_t kCallLimitMs = 10000;

// More cells than any display has: a larger count from the driver is a fault, not a display.
constexpr int32_t kMostCells = 1000;
// Longest key name taken from the driver; key events kept for expect-key.
constexpr size_t kLongestKeyName = 256;
constexpr size_t kMostUnclaimedKeys = 1000;

// Messages to the session's window: a keyboard record from the worker thread (wParam: up to
// eight bytes, first byte lowest; lParam: the length, kNoData set when the pointer was null),
// and a key event the driver reported on a thread other than the host thread (lParam: a
// KeyEvent to delete).
constexpr UINT kDeviceDataMessage = WM_APP + 1;
constexpr UINT kForeignKeyMessage = WM_APP + 2;
constexpr LPARAM kNoData = LPARAM(1) << 40;
constexpr char kWindowClass[] = "ZolHostSession";

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : std::string();
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

std::string FormatGuid(const ZolGuid& id) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1],
                id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

std::string Quoted(const std::string& text) {
  return "\"" + Printable(text) + "\"";
}

}  // namespace

HostSession::HostSession(SessionOptions options, CallWatchdog& watchdog, HANDLE quitEvent)
    : options_(std::move(options)),
      watchdog_(watchdog),
      quitEvent_(quitEvent),
      hostThreadId_(GetCurrentThreadId()) {}

bool HostSession::Load(std::string* error) {
  if (!CreateMessageWindow()) {
    *error = "cannot create a window for the driver's messages: " + SystemMessage(GetLastError());
    return false;
  }
  char fullPath[MAX_PATH];
  const DWORD length = GetFullPathNameA(options_.driverPath.c_str(), MAX_PATH, fullPath, nullptr);
  const std::string path = length > 0 && length < MAX_PATH ? fullPath : options_.driverPath;
  // By full path; the driver's own dependencies come from its folder or the system directory
  // only, never from this program's folder, the current directory or PATH.
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    *error = "cannot load the driver " + path + ": " + SystemMessage(GetLastError());
    return false;
  }
  using GetInterfaceFunction = IBrailleDriver* (*)(IBrailleDriver**);
  // Through the generic function type, which converts to any other without a warning.
  auto getInterface = reinterpret_cast<GetInterfaceFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, ZOL_ENTRY_POINT_NAME)));
  if (getInterface == nullptr) {
    *error = path + " is not a braille driver: it has no " ZOL_ENTRY_POINT_NAME " function";
    return false;
  }
  IBrailleDriver* stored = nullptr;
  {
    WatchedCall call(watchdog_, ZOL_ENTRY_POINT_NAME, kCallLimitMs);
    driver_ = getInterface(&stored);
  }
  if (driver_ == nullptr) driver_ = stored;
  if (driver_ == nullptr) {
    *error = "the driver " + path + " handed out no driver object";
    return false;
  }
  PrintLine("driver " + path);
  return true;
}

bool HostSession::Open(const std::string* port, std::string* error) {
  if (open_) {
    *error = "the display is already open";
    return false;
  }
  const std::string& portName = port != nullptr ? *port : options_.port;
  int32_t opened;
  {
    WatchedCall call(watchdog_, "Open", kOpenLimitMs);
    opened = driver_->Open(portName.c_str(), this, options_.text1.c_str(), options_.text2.c_str());
  }
  if (opened == 0) {
    *error = "no display answered" +
             (portName.empty() ? std::string(" on USB") : " on USB or on " + portName) +
             " (port missing or in use, or display off or unplugged)";
    return false;
  }
  open_ = true;
  PrintLine("opened the display: " + std::to_string(driver_->GetTextCellCount()) + " text cells, " +
            std::to_string(driver_->GetStatusCellCount()) + " status cells");
  PumpPending();
  return true;
}

void HostSession::Close() {
  if (!open_) return;
  {
    WatchedCall call(watchdog_, "Close", kStateLimitMs);
    driver_->Close();
  }
  open_ = false;
  PumpPending();
}

bool HostSession::Run(const Command& command, std::string* error) {
  bool ok = true;
  switch (command.kind) {
    case CommandKind::kWrite:
      ok = Write(false, TextToDots(command.text), error);
      break;
    case CommandKind::kWriteAll:
      ok = Write(true, TextToDots(command.text), error);
      break;
    case CommandKind::kDots:
      ok = Write(false, command.dots, error);
      break;
    case CommandKind::kClear: {
      if (!RequireOpen(error)) return false;
      WatchedCall call(watchdog_, "ClearDisplay", kCallLimitMs);
      ok = driver_->ClearDisplay() != 0;
      if (!ok) *error = "the driver refused to clear the display (suspended or disconnected)";
      break;
    }
    case CommandKind::kSuspend:
    case CommandKind::kResume:
      ok = SetSuspended(command.kind == CommandKind::kSuspend, error);
      break;
    case CommandKind::kWait:
      PumpUntil(command.milliseconds, [] { return false; });
      ok = !QuitRequested();
      if (!ok) *error = "interrupted";
      break;
    case CommandKind::kExpectKey:
      ok = ExpectKey(command, error);
      break;
    case CommandKind::kInfo:
      PrintInfo();
      break;
    case CommandKind::kOpen:
      ok = Open(command.hasText ? &command.text : nullptr, error);
      break;
    case CommandKind::kClose:
      Close();
      PrintLine("closed the display");
      break;
    case CommandKind::kHelp: {
      std::string help = kCommandHelp;
      help.pop_back();  // PrintLine ends the line
      PrintLine(help);
      break;
    }
    case CommandKind::kQuit:
      break;
  }
  PumpPending();
  return ok;
}

bool HostSession::RequireOpen(std::string* error) const {
  if (open_) return true;
  *error = "the display is not open (open opens it)";
  return false;
}

// The driver's current cell count, checked before it sizes anything.
bool HostSession::CellCount(bool withStatusCells, size_t* count, std::string* error) {
  const int32_t cells =
      withStatusCells ? driver_->GetTotalCellCount() : driver_->GetTextCellCount();
  if (cells <= 0 || cells > kMostCells) {
    *error = "the driver reports " + std::to_string(cells) + " cells";
    return false;
  }
  *count = static_cast<size_t>(cells);
  return true;
}

// Sends the cells cut or padded with blank cells to the display's width, and shows them.
bool HostSession::Write(bool allCells, std::vector<uint8_t> cells, std::string* error) {
  size_t count;
  if (!RequireOpen(error) || !CellCount(allCells, &count, error)) return false;
  cells = FitToCells(std::move(cells), count);
  int32_t result;
  {
    WatchedCall call(watchdog_, allCells ? "WriteAllCells" : "WriteTextCells", kCallLimitMs);
    const int32_t length = static_cast<int32_t>(count);
    result = allCells ? driver_->WriteAllCells(cells.data(), length)
                      : driver_->WriteTextCells(cells.data(), length);
  }
  if (result == 0) {
    *error = "the driver refused the cells (display suspended or disconnected)";
    return false;
  }
  PrintLine("cells " + DotsToUnicodeBraille(cells.data(), cells.size()));
  return true;
}

bool HostSession::SetSuspended(bool suspend, std::string* error) {
  if (!RequireOpen(error)) return false;
  int32_t result;
  {
    WatchedCall call(watchdog_, "SetSuspended", kStateLimitMs);
    result = driver_->SetSuspended(suspend ? 1 : 0);
  }
  if (result == 0) {
    *error = suspend ? "the driver could not let go of the display"
                     : "the driver could not take the display back";
    return false;
  }
  PrintLine(suspend ? "suspended" : "resumed");
  return true;
}

// Waits for the key event; one that came earlier and was not taken yet counts too, so that a
// script never misses a key that arrived while another command ran.
bool HostSession::ExpectKey(const Command& command, std::string* error) {
  if (ClaimKey(command) || PumpUntil(command.milliseconds, [&] { return ClaimKey(command); })) {
    return true;
  }
  if (QuitRequested()) {
    *error = "interrupted";
  } else {
    *error = "no key event " + Quoted(command.text) +
             (command.hasValue ? " with value " + std::to_string(command.value) : "") + " within " +
             std::to_string(command.milliseconds) + " ms";
  }
  return false;
}

// Takes the first waiting key event that matches, with every event before it.
bool HostSession::ClaimKey(const Command& expected) {
  for (size_t i = 0; i < unclaimedKeys_.size(); ++i) {
    const KeyEvent& event = unclaimedKeys_[i];
    if (event.name == expected.text && (!expected.hasValue || event.value == expected.value)) {
      unclaimedKeys_.erase(unclaimedKeys_.begin(), unclaimedKeys_.begin() + i + 1);
      return true;
    }
  }
  return false;
}

void HostSession::PrintInfo() {
  char parameter1[257] = {};
  char parameter2[257] = {};
  char name[81] = {};
  ZolGuid id = {};
  int32_t identified;
  {
    WatchedCall call(watchdog_, "the information calls", kCallLimitMs);
    driver_->GetParameter1(parameter1, sizeof parameter1 - 1);
    driver_->GetParameter2(parameter2, sizeof parameter2 - 1);
    identified = driver_->GetDriverIdentity(name, sizeof name - 1, &id);
  }
  PrintLine("display " + std::string(open_ ? "open" : "closed") + ": " +
            std::to_string(driver_->GetTextCellCount()) + " text cells, " +
            std::to_string(driver_->GetStatusCellCount()) + " status cells, " +
            std::to_string(driver_->GetTotalCellCount()) + " in all");
  PrintLine("parameter1 " + Quoted(parameter1));
  PrintLine("parameter2 " + Quoted(parameter2));
  PrintLine("info value " + std::to_string(driver_->GetInfoValue()));
  PrintLine(identified ? "identity " + Printable(name) + " " + FormatGuid(id)
                       : std::string("identity not reported"));
}

void HostSession::PumpPending() {
  testing::DispatchWaiting();
  ReportLostRecords();
}

void HostSession::ReportLostRecords() {
  if (const uint32_t lost = lostRecords_.exchange(0)) {
    PrintEvent("lost " + std::to_string(lost) + " keyboard records (message queue full)");
  }
}

// Dispatches messages until done() holds or ms have passed; false when time ran out or Ctrl+C
// was pressed. done() depends on messages only: no polling.
bool HostSession::PumpUntil(uint32_t ms, const std::function<bool()>& done) {
  return testing::PumpUntil(
      [&] {
        ReportLostRecords();
        return done();
      },
      ms, ms, quitEvent_);
}

void HostSession::WaitForInput(HANDLE ready) {
  const HANDLE handles[] = {ready, quitEvent_};
  while (WaitForSingleObject(ready, 0) != WAIT_OBJECT_0 && !QuitRequested()) {
    MsgWaitForMultipleObjectsEx(2, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    PumpPending();
  }
}

bool HostSession::QuitRequested() const {
  return WaitForSingleObject(quitEvent_, 0) == WAIT_OBJECT_0;
}

int32_t HostSession::OnKeyEvent(IBrailleDriver*, const char* name, int32_t value) {
  try {
    KeyEvent event;
    if (name != nullptr) event.name.assign(name, strnlen(name, kLongestKeyName));
    event.value = value;
    event.threadId = GetCurrentThreadId();
    if (event.threadId == hostThreadId_) {
      ReportKey(std::move(event));
    } else {
      // A driver fault worth showing; the host thread prints it and keeps the key list.
      auto* copy = new KeyEvent(std::move(event));
      if (!PostMessageA(window_, kForeignKeyMessage, 0, reinterpret_cast<LPARAM>(copy))) {
        delete copy;
      }
    }
  } catch (...) {
    // Nothing may travel back into the driver.
  }
  return 0;
}

int32_t HostSession::OnDeviceData(IBrailleDriver*, const uint8_t* data, int32_t length) {
  uint64_t packed = 0;
  for (int32_t i = 0; data != nullptr && i < length && i < 8; ++i) {
    packed |= static_cast<uint64_t>(data[i]) << (8 * i);
  }
  const LPARAM info = static_cast<LPARAM>(length) | (data == nullptr ? kNoData : 0);
  if (!PostMessageA(window_, kDeviceDataMessage, static_cast<WPARAM>(packed), info)) {
    ++lostRecords_;
  }
  return 0;
}

void HostSession::ReportKey(KeyEvent event) {
  std::string line = "key " + Printable(event.name) + " " + std::to_string(event.value);
  if (event.threadId != hostThreadId_) {
    line += " (reported on thread " + std::to_string(event.threadId) +
            ", not on the thread that opened the display)";
  }
  PrintEvent(line);
  if (unclaimedKeys_.size() == kMostUnclaimedKeys) unclaimedKeys_.pop_front();
  unclaimedKeys_.push_back(std::move(event));
}

void HostSession::ReportDeviceData(uint64_t packed, LPARAM info) {
  const auto length = static_cast<int32_t>(info & 0xFFFFFFFF);
  if ((info & kNoData) != 0 || length < 0) {
    PrintEvent("data (bad record: length " + std::to_string(length) + ", no bytes)");
    return;
  }
  std::string line = "data";
  for (int32_t i = 0; i < length && i < 8; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02X", static_cast<unsigned>((packed >> (8 * i)) & 0xFF));
    line += byte;
  }
  if (length > 8) line += " ... (" + std::to_string(length) + " bytes)";
  PrintEvent(line);
}

LRESULT CALLBACK HostSession::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* session = reinterpret_cast<HostSession*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (session != nullptr && message == kDeviceDataMessage) {
    session->ReportDeviceData(wParam, lParam);
    return 0;
  }
  if (session != nullptr && message == kForeignKeyMessage) {
    auto* event = reinterpret_cast<KeyEvent*>(lParam);
    session->ReportKey(std::move(*event));
    delete event;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A message-only window of the host thread: any message loop on this thread, the driver's
// own waits inside Open and Close included, delivers what the worker thread posts to it.
bool HostSession::CreateMessageWindow() {
  window_ = testing::CreateMessageWindow(kWindowClass, WindowProc);
  if (window_ == nullptr) return false;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

}  // namespace zol::host
