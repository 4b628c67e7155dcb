#include "hid_pipe_server.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>

#include "hidsim_control.h"

namespace zol::sim {

namespace {

// Listening instances kept ready: the driver opens a device twice in quick succession, and
// both opens must find an instance even before this thread has made a new one.
constexpr size_t kListeners = 3;
constexpr DWORD kPollMs = 10;  // how often input that became due by itself is looked for
constexpr size_t kChunkBytes = 1024;
constexpr size_t kMaxReportBytes = 1024;
constexpr char kInterfacePrefix[] = "\\\\?\\";
constexpr char kHidInterfaceGuid[] = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

HANDLE NewEvent() {
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Waits until an operation that may still be pending is over, cancelling it first; true when
// it completed rather than being cancelled.
bool Settle(HANDLE pipe, OVERLAPPED& overlapped) {
  DWORD transferred = 0;
  CancelIoEx(pipe, &overlapped);
  return GetOverlappedResult(pipe, &overlapped, &transferred, TRUE) != FALSE;
}

// Whether an operation started on record is over, read from the record itself: looking at its
// event instead would cost a call to the system (under Wine, to its server) per record and
// per wake, which on a busy machine slows every other thread's I/O as well.
bool Over(const OVERLAPPED& record) {
  return record.Internal != static_cast<ULONG_PTR>(STATUS_PENDING);
}

bool IsInterfacePath(const std::string& path) {
  return path.compare(0, sizeof kInterfacePrefix - 1, kInterfacePrefix) == 0;
}

// "<bus>&<unique>&0&<n>": unique to this process and call, as Windows' instance ids are to a
// device instance.
std::string NewInstanceId(char bus) {
  static std::atomic<unsigned> instances{0};
  char id[48];
  std::snprintf(id, sizeof id, "%c&%08lx&0&%04x", bus,
                static_cast<unsigned long>(GetCurrentProcessId()), instances++ & 0xFFFFu);
  return id;
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

using CreateSymbolicLink = NTSTATUS(WINAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                             PUNICODE_STRING);

}  // namespace

std::string HidPipeServer::InterfacePath(const std::string& hardwareIds) {
  // Bluetooth HID collections sit on another bus; their instance ids start differently.
  const char bus = hardwareIds.compare(0, 1, "{") == 0 ? '8' : '7';
  return std::string(kInterfacePrefix) + "hid#" + hardwareIds + "#" + NewInstanceId(bus) + "#" +
         kHidInterfaceGuid;
}

std::string HidPipeServer::PipePath(const std::string& name) {
  return "\\\\.\\pipe\\zol-" + name + "-" + std::to_string(GetCurrentProcessId());
}

struct HidPipeServer::Connection {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED connect{};
  OVERLAPPED read{};
  OVERLAPPED write{};
  bool connecting = false;
  bool reading = false;
  bool offering = false;
  bool closed = false;  // the handle was closed, or the pipe failed
  uint8_t chunk[kChunkBytes];
  std::vector<uint8_t> message;  // a message longer than one chunk, so far
  std::deque<std::vector<uint8_t>> ring;
  size_t ringLimit = HIDSIM_DEFAULT_INPUT_BUFFERS;
  // A handle whose whole ring filled while its oldest report was on offer is not reading: its
  // offer is made again only after a poll period, not after every report that arrives.
  ULONGLONG quietUntil = 0;

  // Whether an operation is running and has ended, so that this pass of the server handles it.
  bool ConnectEnded() const { return !connecting || Over(connect); }
  bool ReadEnded() const { return reading && Over(read); }
  bool OfferEnded() const { return offering && Over(write); }

  Connection() {
    connect.hEvent = NewEvent();
    read.hEvent = NewEvent();
    write.hEvent = NewEvent();
  }
  ~Connection() {
    if (pipe != INVALID_HANDLE_VALUE) {
      if (connecting) Settle(pipe, connect);
      if (reading) Settle(pipe, read);
      if (offering) Settle(pipe, write);
      CloseHandle(pipe);
    }
    CloseHandle(connect.hEvent);
    CloseHandle(read.hEvent);
    CloseHandle(write.hEvent);
  }
};

HidPipeServer::HidPipeServer(std::string path, HidEndpoint& endpoint)
    : path_(std::move(path)), endpoint_(&endpoint), access_(Access::ReadWrite) {}

HidPipeServer::HidPipeServer(std::string path, Access access)
    : path_(std::move(path)), endpoint_(nullptr), access_(access) {}

HidPipeServer::~HidPipeServer() {
  Stop();
}

bool HidPipeServer::Start() {
  if (thread_.joinable()) return true;
  pipeName_ =
      IsInterfacePath(path_) ? "\\\\.\\pipe\\" + path_.substr(sizeof kInterfacePrefix - 1) : path_;
  stop_ = NewEvent();
  wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  bool ready = true;
  while (ready && listeners_.size() < kListeners) ready = Listen();
  // The path appears only when an open can find the pipe behind it.
  if (ready && IsInterfacePath(path_)) ready = Link();
  if (!ready) {
    listeners_.clear();
    CloseHandle(stop_);
    CloseHandle(wake_);
    stop_ = wake_ = nullptr;
    return false;
  }
  stalled_ = false;
  stallWanted_ = false;
  stallApplied_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void HidPipeServer::Stop() {
  if (!thread_.joinable()) return;
  SetEvent(stop_);
  thread_.join();
  Unlink();
  listeners_.clear();
  connections_.clear();
  open_ = 0;
  CloseHandle(stop_);
  CloseHandle(wake_);
  stop_ = wake_ = nullptr;
}

bool HidPipeServer::Replug() {
  Stop();
  if (IsInterfacePath(path_)) {
    // ...#<ids>#<instance id>#{guid}: the instance id changes.
    const size_t guid = path_.rfind('#');
    const size_t instance = path_.rfind('#', guid - 1);
    if (guid != std::string::npos && instance != std::string::npos)
      path_ =
          path_.substr(0, instance + 1) + NewInstanceId(path_[instance + 1]) + path_.substr(guid);
  }
  return Start();
}

void HidPipeServer::StallOutput(bool stalled) {
  stallWanted_ = stalled;
  if (!thread_.joinable()) return;
  // Returns once the server's thread has stopped (or resumed) taking output reports.
  SetEvent(wake_);
  for (int waited = 0; stallApplied_ != stalled && waited < 5000; ++waited) Sleep(1);
}

// The DOS device name of the interface path, leading to the pipe. It lives as long as its
// handle, so it goes with Stop or with the process.
bool HidPipeServer::Link() {
  const auto create = reinterpret_cast<CreateSymbolicLink>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
  if (create == nullptr) return false;
  const std::string tail = path_.substr(sizeof kInterfacePrefix - 1);
  std::wstring name = Wide("\\??\\" + tail);
  std::wstring target = Wide("\\Device\\NamedPipe\\" + tail);
  UNICODE_STRING nameString{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                            static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
  UNICODE_STRING targetString{static_cast<USHORT>(target.size() * sizeof(wchar_t)),
                              static_cast<USHORT>(target.size() * sizeof(wchar_t)), target.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &nameString, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  constexpr ACCESS_MASK kSymbolicLinkAllAccess = 0xF0001;
  return create(&link_, kSymbolicLinkAllAccess, &attributes, &targetString) >= 0;
}

void HidPipeServer::Unlink() {
  if (link_ != nullptr) CloseHandle(link_);
  link_ = nullptr;
}

bool HidPipeServer::Listen() {
  auto listener = std::make_unique<Connection>();
  listener->ringLimit = ringLimit_;
  // An inbound-only pipe refuses clients that ask to read, and takes those that ask for
  // nothing. No buffers: an offer completes only when read, a write only when taken.
  const DWORD direction =
      access_ == Access::AttributesOnly ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_DUPLEX;
  listener->pipe = CreateNamedPipeA(pipeName_.c_str(), direction | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                    PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
  if (listener->pipe == INVALID_HANDLE_VALUE) return false;
  if (ConnectNamedPipe(listener->pipe, &listener->connect)) {
    SetEvent(listener->connect.hEvent);
  } else if (GetLastError() == ERROR_IO_PENDING) {
    listener->connecting = true;
  } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
    SetEvent(listener->connect.hEvent);  // a client came between create and connect
  } else {
    return false;
  }
  listeners_.push_back(std::move(listener));
  return true;
}

void HidPipeServer::Run() {
  enum class Operation { Connect, Read, Offer };
  std::vector<HANDLE> handles;
  std::vector<std::pair<Connection*, Operation>> operations;  // of handles[2] on
  const auto ended = [](const std::pair<Connection*, Operation>& operation) {
    const Connection& c = *operation.first;
    switch (operation.second) {
      case Operation::Connect:
        return c.ConnectEnded();
      case Operation::Read:
        return c.ReadEnded();
      case Operation::Offer:
        return c.OfferEnded();
    }
    return false;
  };
  for (;;) {
    // Stop, wake, then every listener's connect, every connection's read and every offer.
    handles.assign({stop_, wake_});
    operations.clear();
    for (auto& listener : listeners_) {
      handles.push_back(listener->connect.hEvent);
      operations.push_back({listener.get(), Operation::Connect});
    }
    for (auto& connection : connections_) {
      handles.push_back(connection->read.hEvent);
      operations.push_back({connection.get(), Operation::Read});
      handles.push_back(connection->write.hEvent);
      operations.push_back({connection.get(), Operation::Offer});
    }
    const DWORD count = static_cast<DWORD>(std::min<size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
    // Without input to look for, a stall to watch or events beyond the wait's limit, nothing
    // happens that an event does not announce.
    const bool poll = endpoint_ != nullptr || stalled_ || count < handles.size();
    const DWORD wait =
        WaitForMultipleObjects(count, handles.data(), FALSE, poll ? kPollMs : INFINITE);
    if (wait == WAIT_OBJECT_0) break;
    // An event that woke the wait for an operation this pass handles is cleared by starting
    // the next one (ReadFile, WriteFile and ConnectNamedPipe do) or by its handler. One left
    // over from an operation an earlier pass handled is cleared here, before the records are
    // read: an operation that ends meanwhile sets it again and wakes the next wait.
    if (wait > WAIT_OBJECT_0 + 1 && wait < WAIT_OBJECT_0 + count &&
        !ended(operations[wait - WAIT_OBJECT_0 - 2]))
      ResetEvent(handles[wait - WAIT_OBJECT_0]);

    for (size_t i = 0; i < listeners_.size();) {
      if (listeners_[i]->ConnectEnded())
        Accept(i);
      else
        ++i;
    }
    ApplyStall();
    for (auto& connection : connections_) {
      if (connection->OfferEnded()) FinishOffer(*connection);
      if (connection->ReadEnded()) FinishRead(*connection);
      if (stalled_ && !connection->closed) PollStalled(*connection);
    }
    for (size_t i = connections_.size(); i-- > 0;) {
      if (!connections_[i]->closed) continue;
      connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i));
      --open_;
    }
    while (listeners_.size() < kListeners && Listen()) {
    }
    TakeInput();
    const ULONGLONG now = GetTickCount64();
    for (auto& connection : connections_)
      if (!connection->offering && !connection->ring.empty() && now >= connection->quietUntil)
        Offer(*connection);
  }
}

void HidPipeServer::Accept(size_t listener) {
  std::unique_ptr<Connection> connection = std::move(listeners_[listener]);
  listeners_.erase(listeners_.begin() + static_cast<std::ptrdiff_t>(listener));
  DWORD transferred = 0;
  const bool connected =
      !connection->connecting ||
      GetOverlappedResult(connection->pipe, &connection->connect, &transferred, FALSE);
  connection->connecting = false;
  ResetEvent(connection->connect.hEvent);
  if (!connected) return;  // the listener is gone; a new one replaces it
  ++accepted_;
  ++open_;
  if (!stalled_) StartRead(*connection);
  connections_.push_back(std::move(connection));
}

void HidPipeServer::StartRead(Connection& connection) {
  connection.reading = true;  // ReadFile clears the record's event
  if (!ReadFile(connection.pipe, connection.chunk, sizeof connection.chunk, nullptr,
                &connection.read)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
      connection.reading = false;
      connection.closed = true;
    }
  }
}

void HidPipeServer::FinishRead(Connection& connection) {
  DWORD transferred = 0;
  const BOOL done = GetOverlappedResult(connection.pipe, &connection.read, &transferred, FALSE);
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  connection.reading = false;
  if (!done && error != ERROR_MORE_DATA) {
    // The handle was closed, or the read was cancelled for a stall.
    if (error != ERROR_OPERATION_ABORTED) connection.closed = true;
    return;
  }
  if (connection.message.size() + transferred <= kMaxReportBytes)
    connection.message.insert(connection.message.end(), connection.chunk,
                              connection.chunk + transferred);
  if (done) TakeMessage(connection);
  if (!stalled_ || !done) StartRead(connection);
}

void HidPipeServer::TakeMessage(Connection& connection) {
  const std::vector<uint8_t> message = std::move(connection.message);
  connection.message.clear();
  if (message.size() == sizeof(HidSimControl) &&
      std::memcmp(message.data(), HIDSIM_CONTROL_MARKER, sizeof HIDSIM_CONTROL_MARKER) == 0) {
    Control(connection, message.data(), message.size());
  } else if (!message.empty() && endpoint_ != nullptr) {
    endpoint_->OnOutputReport(message.data(), message.size());
  }
}

// Stalling cancels every waiting read, so that writes stay pending; a read that completed
// meanwhile took its report before the stall.
void HidPipeServer::ApplyStall() {
  const bool wanted = stallWanted_;
  if (wanted == stalled_) return;
  stalled_ = wanted;
  for (auto& connection : connections_) {
    if (stalled_ && connection->reading) {
      CancelIoEx(connection->pipe, &connection->read);
      DWORD transferred = 0;
      GetOverlappedResult(connection->pipe, &connection->read, &transferred, TRUE);
      FinishRead(*connection);
    } else if (!stalled_ && !connection->reading && !connection->closed) {
      StartRead(*connection);
    }
  }
  stallApplied_ = stalled_;
}

// While stalled, a handle's next message is looked at without taking it: a request of the
// test-only hid.dll is answered, an output report stays where it is. A closed handle shows
// as a failed look.
void HidPipeServer::PollStalled(Connection& connection) {
  HidSimControl request;
  DWORD got = 0;
  if (!PeekNamedPipe(connection.pipe, &request, sizeof request, &got, nullptr, nullptr)) {
    connection.closed = true;
    return;
  }
  if (got != sizeof request ||
      std::memcmp(request.marker, HIDSIM_CONTROL_MARKER, sizeof request.marker) != 0)
    return;
  StartRead(connection);
  DWORD transferred = 0;
  if (connection.reading &&
      GetOverlappedResult(connection.pipe, &connection.read, &transferred, TRUE)) {
    connection.message.assign(connection.chunk, connection.chunk + transferred);
    TakeMessage(connection);
  }
  connection.reading = false;
  ResetEvent(connection.read.hEvent);
}

void HidPipeServer::Control(Connection& connection, const uint8_t* message, size_t length) {
  HidSimControl request;
  std::memcpy(&request, message, std::min(length, sizeof request));
  request.answer[sizeof request.answer - 1] = '\0';
  HidSimAnswer answer{0, static_cast<unsigned>(connection.ringLimit)};
  if (request.operation == HIDSIM_GET_INPUT_BUFFERS) {
    answer.ok = 1;
  } else if (request.operation == HIDSIM_SET_INPUT_BUFFERS &&
             request.value >= HIDSIM_MIN_INPUT_BUFFERS &&
             request.value <= HIDSIM_MAX_INPUT_BUFFERS) {
    connection.ringLimit = request.value;
    while (connection.ring.size() > connection.ringLimit) DropOldest(connection);
    answer = {1, request.value};
  }
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, request.answer);
  if (mapping == nullptr) return;  // the asker gave up
  if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof answer)) {
    std::memcpy(view, &answer, sizeof answer);
    UnmapViewOfFile(view);
    const std::string doneName = std::string(request.answer) + "-done";
    if (HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, doneName.c_str())) {
      SetEvent(done);
      CloseHandle(done);
    }
  }
  CloseHandle(mapping);
}

// Every report that became due goes to every open handle's ring at once; the device keeps
// none back.
void HidPipeServer::TakeInput() {
  if (endpoint_ == nullptr) return;
  uint8_t report[kMaxReportBytes];
  for (size_t length; (length = endpoint_->PeekInput(report, sizeof report)) != 0;) {
    endpoint_->PopInput();
    if (connections_.empty()) {
      ++dropped_;
      continue;
    }
    const std::vector<uint8_t> copy(report, report + length);
    for (auto& connection : connections_) Push(*connection, copy);
  }
}

void HidPipeServer::Push(Connection& connection, const std::vector<uint8_t>& report) {
  connection.ring.push_back(report);
  while (connection.ring.size() > connection.ringLimit) DropOldest(connection);
}

void HidPipeServer::DropOldest(Connection& connection) {
  // The oldest report may be on offer: it is withdrawn first, unless the handle has just
  // read it.
  if (connection.offering) {
    if (WithdrawOffer(connection)) {
      connection.ring.pop_front();
      ++delivered_;
      return;
    }
    connection.quietUntil = GetTickCount64() + kPollMs;
  }
  connection.ring.pop_front();
  ++dropped_;
}

void HidPipeServer::Offer(Connection& connection) {
  connection.offering = true;  // WriteFile clears the record's event
  const std::vector<uint8_t>& report = connection.ring.front();
  if (!WriteFile(connection.pipe, report.data(), static_cast<DWORD>(report.size()), nullptr,
                 &connection.write) &&
      GetLastError() != ERROR_IO_PENDING) {
    connection.offering = false;
    connection.closed = true;
  }
}

void HidPipeServer::FinishOffer(Connection& connection) {
  DWORD transferred = 0;
  const BOOL taken = GetOverlappedResult(connection.pipe, &connection.write, &transferred, FALSE);
  connection.offering = false;
  ResetEvent(connection.write.hEvent);
  if (!taken) {
    connection.closed = true;
    return;
  }
  connection.ring.pop_front();
  ++delivered_;
}

// True when the handle read the offer before it could be withdrawn.
bool HidPipeServer::WithdrawOffer(Connection& connection) {
  const bool taken = Settle(connection.pipe, connection.write);
  connection.offering = false;
  ResetEvent(connection.write.hEvent);
  return taken;
}

}  // namespace zol::sim
