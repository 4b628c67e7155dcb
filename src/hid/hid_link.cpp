#include "hid/hid_link.h"

#include <algorithm>
#include <cstring>

#include "core/io_failure.h"
#include "hid/hid_path.h"
#include "hid/hid_reports.h"

namespace zol {

namespace {

constexpr uint16_t kHandshakeReadWaitMs = 50;
constexpr int kHandshakeReadsPerRequest = 10;
constexpr int kHandshakeRepeats = 20;

static_assert(hid::MaxFrameCells() <= HidLink::kRowBytes, "a ring row holds a whole frame");

int DisplayKind(const HidAttributes& attributes) {
  if (attributes.vendorId != hid::kVendorId || attributes.versionNumber != hid::kVersion)
    return kHidNone;
  return hid::KindOfProduct(attributes.productId);
}

}  // namespace

HidLink::HidLink(HidBus& bus, Clock& clock, SharedState& shared, FrameAck& ack,
                 InputTranslator& input)
    : bus_(bus), clock_(clock), shared_(shared), ack_(ack), input_(input) {}

int HidLink::Search(SearchMode mode) {
  // A link still open here would otherwise lose its handles.
  if (mode != SearchMode::kLocate) CloseDevice();
  const bool listed = bus_.BeginList();
  int kind = kHidNone;
  char path[kMaxPathBytes];
  for (uint32_t index = 0; listed; ++index) {
    path[0] = '\0';
    if (!bus_.PathAt(index, path, sizeof path)) break;
    path[sizeof path - 1] = '\0';
    kind = QueryKind(path);
    if (kind == kHidNone) continue;
    if (mode == SearchMode::kLocate) break;
    if (mode == SearchMode::kSettleAndOpen) WaitTicks(clock_, kSettleWaitMs);
    kind = OpenDisplay(path, kind);
    if (kind != kHidNone) break;
  }
  if (listed) bus_.EndList();
  return kind;
}

int HidLink::QueryKind(const char* path) {
  hid::PathIds ids;
  if (hid::IdsFromPath(path, &ids) &&
      (ids.vendorId != hid::kVendorId || hid::KindOfProduct(ids.productId) == kHidNone)) {
    return kHidNone;
  }
  const HidHandle query = bus_.OpenForQuery(path);
  if (query == 0) return kHidNone;
  HidAttributes attributes;
  const int kind = bus_.Attributes(query, &attributes) ? DisplayKind(attributes) : kHidNone;
  bus_.Close(query);
  return kind;
}

int HidLink::OpenDisplay(const char* path, int kind) {
  const HidHandle write = bus_.Open(path);
  if (write == 0) return kHidNone;
  HidReportLengths announced;
  if (!bus_.ReportLengths(write, &announced)) announced = {};
  auto ioLength = [](uint16_t length) -> uint16_t {
    if (length == 0) return hid::kReportBytes;
    return static_cast<uint16_t>(std::min<size_t>(length, kMaxReportBytes));
  };

  const HidHandle read = bus_.Open(path);
  if (read == 0) {
    bus_.Close(write);
    return kHidNone;
  }
  // Without it a burst of more than 32 reports loses the oldest before they are read. A
  // refusal leaves the system's default, which still works for ordinary typing.
  bus_.SetInputBuffers(read, kInputBuffers);
  writeHandle_ = write;
  readHandle_ = read;
  lost_ = false;
  lengths_.input = ioLength(announced.input);
  lengths_.output = ioLength(announced.output);
  return kind;
}

void HidLink::CloseDevice() {
  if (readHandle_ != 0) bus_.Close(readHandle_);
  if (writeHandle_ != 0) bus_.Close(writeHandle_);
  readHandle_ = 0;
  writeHandle_ = 0;
  lost_ = false;
}

int HidLink::WriteHidReport(const uint8_t payload[8]) {
  if (writeHandle_ == 0) return 1;
  if (lost_) return 0;
  const size_t length = lengths_.output;
  std::memset(outReport_, 0, std::max(length, hid::kReportBytes));
  outReport_[0] = 0;  // report ID
  std::memcpy(outReport_ + 1, payload, hid::kPayloadBytes);
  const uint32_t error = bus_.Write(writeHandle_, outReport_, length, kWriteLimitMs);
  if (error == 0) return 1;
  if (IsLossOfDevice(error)) lost_ = true;
  return 0;
}

int HidLink::ReadHidReport(uint8_t payload[8]) {
  if (readHandle_ == 0 || lost_) return -1;
  const size_t length = lengths_.input;
  // Bytes a shorter report does not carry read as 0, never as those of the report before.
  std::memset(inReport_, 0, std::max(length, hid::kReportBytes));
  uint32_t error = 0;
  switch (bus_.TakeReport(readHandle_, inReport_, length, &error)) {
    case HidReadResult::Report:
      std::memcpy(payload, inReport_ + 1, hid::kPayloadBytes);
      return 9;
    case HidReadResult::NotReady:
      return -1;
    case HidReadResult::Failed:
      if (IsLossOfDevice(error)) lost_ = true;
      return -1;
  }
  return -1;
}

int HidLink::ServiceInput() {
  uint8_t payload[hid::kPayloadBytes];
  int handled = 0;
  while (handled < kReportsPerWake && ReadHidReport(payload) == 9) {
    HandleHidInput(payload);
    ++handled;
  }
  return handled;
}

bool HidLink::HandshakeReplyArrived() {
  uint8_t payload[hid::kPayloadBytes];
  for (int taken = 0; taken < kReportsPerWake && ReadHidReport(payload) == 9; ++taken) {
    if (hid::ClassifyInput(payload) != hid::InputKind::HandshakeReply) continue;
    shared_.textCellCount = payload[hid::kReplyTextCellsByte];
    shared_.statusCellCount = payload[hid::kReplyStatusCellsByte];
    return true;
  }
  return false;
}

int HidLink::HidHandshake() {
  WriteHidReport(hid::kHandshakeRequest);
  int reads = 0;
  int repeats = 0;
  uint32_t deadline = clock_.Now();
  while (repeats < kHandshakeRepeats) {
    // Reports other than the reply (a key pressed meanwhile) are dropped.
    if (HandshakeReplyArrived()) return 1;
    if (lost_) return 0;
    deadline += kHandshakeReadWaitMs;
    SleepUntil(clock_, deadline);
    if (reads == kHandshakeReadsPerRequest) {
      reads = 0;
      WriteHidReport(hid::kHandshakeRequest);
      ++repeats;
    }
    ++reads;
  }
  return 0;
}

void HidLink::SendHidFrame(const uint8_t* cells, HidKind kind) {
  const hid::Model* model = hid::ModelOf(kind);
  if (model == nullptr) return;
  // Frames still waiting go first, or the display would end up with older contents: between
  // an acknowledgement and the poll tick that sends the next waiting frame, a new frame queues
  // behind them instead of overtaking them.
  if (ack_.ackPending != 0 || queueRead_ != queueWrite_) {
    QueueFrame(cells, *model);
    return;
  }
  WriteFrame(cells, *model);
}

void HidLink::WriteFrame(const uint8_t* cells, const hid::Model& model) {
  ack_.ackPending = 1;
  uint8_t payload[hid::kPayloadBytes];
  for (int i = 0; i < model.frameReports; ++i) {
    hid::FramePayload(cells, model.frameCells, i, payload);
    // The acknowledgement time-out counts from the moment the frame's last report goes out.
    if (i == model.frameReports - 1) ack_.lastFrameTick = clock_.Now();
    WriteHidReport(payload);
  }
}

bool HidLink::RingFull() const {
  return ((queueWrite_ - queueRead_) & (kRingRows - 1)) == 7;
}

void HidLink::QueueFrame(const uint8_t* cells, const hid::Model& model) {
  // A full ring keeps its older frames and replaces the newest, so the display still ends up
  // with the host's latest contents.
  if (RingFull()) queueWrite_ = (queueWrite_ + kRingRows - 1) & (kRingRows - 1);
  // A row keeps the text cells; the frame's two cells past them come from the row when it is
  // sent.
  std::memcpy(pendingFrames_[queueWrite_], cells, static_cast<size_t>(model.textCells));
  queueWrite_ = (queueWrite_ + 1) & (kRingRows - 1);
}

void HidLink::SendNextQueuedFrame(HidKind kind) {
  const hid::Model* model = hid::ModelOf(kind);
  if (model == nullptr || ack_.ackPending != 0 || queueRead_ == queueWrite_) return;
  const uint8_t* row = pendingFrames_[queueRead_];
  queueRead_ = (queueRead_ + 1) & (kRingRows - 1);
  WriteFrame(row, *model);
}

void HidLink::HandleHidInput(const uint8_t payload[8]) {
  switch (hid::ClassifyInput(payload)) {
    case hid::InputKind::RoutingKey:
      input_.HandleHidRoutingKey(payload[1]);
      break;
    case hid::InputKind::FunctionKey:
      input_.HandleFunctionKey(payload[1]);
      break;
    case hid::InputKind::Acknowledgement:
      ack_.ackPending = 0;
      break;
    case hid::InputKind::HandshakeReply:
    case hid::InputKind::Other:
      break;
  }
}

}  // namespace zol
