#include "hid_pipe_server.h"

#include <algorithm>

namespace zol::sim {

namespace {

// Listening instances kept ready: the driver opens a device twice in quick succession, and
// both opens must find an instance even before this thread has made a new one.
constexpr size_t kListeners = 3;
constexpr DWORD kInBufferBytes = 4096;
constexpr DWORD kPollMs = 10;  // how often input that became due by itself is looked for
constexpr size_t kChunkBytes = 1024;
constexpr size_t kMaxReportBytes = 1024;

HANDLE NewEvent() {
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Waits until an operation that may still be pending is over, cancelling it first.
void Settle(HANDLE pipe, OVERLAPPED& overlapped) {
  DWORD transferred = 0;
  CancelIoEx(pipe, &overlapped);
  GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
}

}  // namespace

struct HidPipeServer::Connection {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED connect{};
  OVERLAPPED read{};
  OVERLAPPED write{};
  bool connecting = false;
  bool reading = false;
  bool offering = false;
  uint8_t chunk[kChunkBytes];
  std::vector<uint8_t> message;  // a message longer than one chunk, so far

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
    : path_(std::move(path)), endpoint_(endpoint) {}

HidPipeServer::~HidPipeServer() {
  Stop();
}

bool HidPipeServer::Start() {
  if (thread_.joinable()) return true;
  stop_ = NewEvent();
  while (listeners_.size() < kListeners)
    if (!Listen()) {
      listeners_.clear();
      CloseHandle(stop_);
      stop_ = nullptr;
      return false;
    }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void HidPipeServer::Stop() {
  if (!thread_.joinable()) return;
  SetEvent(stop_);
  thread_.join();
  listeners_.clear();
  connections_.clear();
  open_ = 0;
  CloseHandle(stop_);
  stop_ = nullptr;
}

bool HidPipeServer::Listen() {
  auto listener = std::make_unique<Connection>();
  listener->pipe = CreateNamedPipeA(
      path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
      0 /* out: an offer completes only when read */, kInBufferBytes, 0, nullptr);
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
  std::vector<HANDLE> handles;
  for (;;) {
    // Stop, then every listener's connect, every connection's read and every offer.
    handles.assign(1, stop_);
    for (auto& listener : listeners_) handles.push_back(listener->connect.hEvent);
    for (auto& connection : connections_) {
      handles.push_back(connection->read.hEvent);
      handles.push_back(connection->write.hEvent);
    }
    const DWORD count = static_cast<DWORD>(std::min<size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
    const DWORD wait = WaitForMultipleObjects(count, handles.data(), FALSE, kPollMs);
    if (wait == WAIT_OBJECT_0) break;

    for (size_t i = 0; i < listeners_.size();) {
      if (WaitForSingleObject(listeners_[i]->connect.hEvent, 0) == WAIT_OBJECT_0)
        Accept(i);
      else
        ++i;
    }
    for (size_t i = 0; i < connections_.size(); ++i) {
      Connection& connection = *connections_[i];
      if (connection.offering && WaitForSingleObject(connection.write.hEvent, 0) == WAIT_OBJECT_0)
        FinishOffer(connection);
      if (connection.reading && WaitForSingleObject(connection.read.hEvent, 0) == WAIT_OBJECT_0)
        FinishRead(connection);
    }
    for (size_t i = connections_.size(); i-- > 0;)
      if (!connections_[i]->reading) Drop(i);
    while (listeners_.size() < kListeners && Listen()) {
    }
    OfferNextReport();
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
  StartRead(*connection);
  if (!offer_.empty()) Offer(*connection);
  connections_.push_back(std::move(connection));
}

void HidPipeServer::StartRead(Connection& connection) {
  ResetEvent(connection.read.hEvent);
  connection.reading = true;
  if (!ReadFile(connection.pipe, connection.chunk, sizeof connection.chunk, nullptr,
                &connection.read)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) connection.reading = false;
  }
}

void HidPipeServer::FinishRead(Connection& connection) {
  DWORD transferred = 0;
  const BOOL done = GetOverlappedResult(connection.pipe, &connection.read, &transferred, FALSE);
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!done && error != ERROR_MORE_DATA) {
    connection.reading = false;  // the driver closed its end
    return;
  }
  if (connection.message.size() + transferred <= kMaxReportBytes)
    connection.message.insert(connection.message.end(), connection.chunk,
                              connection.chunk + transferred);
  if (done) {
    if (!connection.message.empty())
      endpoint_.OnOutputReport(connection.message.data(), connection.message.size());
    connection.message.clear();
  }
  StartRead(connection);
}

void HidPipeServer::Offer(Connection& connection) {
  ResetEvent(connection.write.hEvent);
  connection.offering = true;
  if (!WriteFile(connection.pipe, offer_.data(), static_cast<DWORD>(offer_.size()), nullptr,
                 &connection.write) &&
      GetLastError() != ERROR_IO_PENDING)
    connection.offering = false;
}

void HidPipeServer::FinishOffer(Connection& connection) {
  DWORD transferred = 0;
  const BOOL taken = GetOverlappedResult(connection.pipe, &connection.write, &transferred, FALSE);
  connection.offering = false;
  ResetEvent(connection.write.hEvent);
  if (!taken || offer_.empty()) return;
  endpoint_.PopInput();
  ++delivered_;
  offer_.clear();
  WithdrawOffers();
}

void HidPipeServer::WithdrawOffers() {
  for (auto& connection : connections_) {
    if (!connection->offering) continue;
    DWORD transferred = 0;
    CancelIoEx(connection->pipe, &connection->write);
    if (GetOverlappedResult(connection->pipe, &connection->write, &transferred, TRUE))
      ++duplicates_;
    connection->offering = false;
    ResetEvent(connection->write.hEvent);
  }
}

void HidPipeServer::Drop(size_t index) {
  connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
  --open_;
}

void HidPipeServer::OfferNextReport() {
  if (!offer_.empty()) {
    // An offer that every connection lost (their ends closed) is made again on the others.
    const bool anyOffering = std::any_of(connections_.begin(), connections_.end(),
                                         [](const auto& c) { return c->offering; });
    if (anyOffering) return;
    for (auto& connection : connections_) Offer(*connection);
    return;
  }
  uint8_t report[kMaxReportBytes];
  const size_t length = endpoint_.PeekInput(report, sizeof report);
  if (length == 0) return;
  offer_.assign(report, report + length);
  for (auto& connection : connections_) Offer(*connection);
}

}  // namespace zol::sim
