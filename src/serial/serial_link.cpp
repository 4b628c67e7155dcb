#include "serial/serial_link.h"

#include <algorithm>
#include <cstring>

#include "core/io_failure.h"
#include "serial/com_port_number.h"

namespace zol {

namespace {

constexpr uint32_t kBaudRate = 38400;
constexpr uint8_t kDataBits = 8;
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOneStopBit = 0;
constexpr uint32_t kWriteTimeoutMs = 1000;

// The handshake's window, with an identify request at its start and at each quarter; between
// steps it sleeps about 2 ms (Windows may make that a timer period of about 15.6 ms; every
// time is measured, so that only makes the steps fewer).
constexpr uint32_t kHandshakeWindowMs = 2000;
constexpr uint32_t kHandshakeResendMs = kHandshakeWindowMs / 4;
constexpr uint32_t kHandshakeStepMs = 2;

// Beyond this many acknowledgement time-outs in a row nothing is sent.
constexpr uint8_t kMaxRetryCount = 3;

constexpr uint8_t kFortyCellDisplay = 40;
constexpr int32_t kFortyCellStatusCells = 2;

// Bytes read from the port at a time.
constexpr uint32_t kReadChunk = 256;

}  // namespace

SerialLink::SerialLink(SerialPortFactory& ports, Clock& clock, SharedState& shared, FrameAck& ack,
                       InputTranslator& input)
    : ports_(ports), clock_(clock), shared_(shared), ack_(ack), input_(input) {}

int SerialLink::OpenSerialPort(const char* portName) {
  if (port_ != nullptr) return 0;
  port_ = ports_.Create();
  if (port_ == nullptr) return 0;
  lastOpenError_ = port_->Open(portName != nullptr ? portName : "");
  if (lastOpenError_ != 0) {
    port_.reset();
    return 0;
  }
  portFailed_ = false;
  // A failing setup leaves the port with its previous settings, which may still work.
  port_->Setup(kBaudRate, kDataBits, kNoParity, kOneStopBit);
  // A packet cut off when the last port closed would otherwise take the new port's first
  // bytes, the identify reply among them, as its data.
  receiver_ = SerialReceiver{};
  return 1;
}

int SerialLink::SerialHandshake(const char* portName) {
  if (port_ == nullptr) return 0;
  comPortNumber_ = ComPortNumber(portName);

  RequestIdentify();
  const uint32_t start = clock_.Now();
  const uint32_t end = start + kHandshakeWindowMs;
  uint32_t nextRequest = start + kHandshakeResendMs;
  for (;;) {
    ReadAndDispatch(kBytesPerWake);
    if (serialIdentified_ != 0) {
      ConfirmIdentify();
      return 1;
    }
    const uint32_t now = clock_.Now();
    if (portFailed_ || Reached(now, end)) return 0;
    if (Reached(now, nextRequest)) {
      SendSerialPacket(PKT_IDENTIFY, 0, nullptr);
      nextRequest += kHandshakeResendMs;
    }
    clock_.Sleep(std::max(1u, std::min(kHandshakeStepMs, MsUntil(clock_.Now(), end))));
  }
}

void SerialLink::RequestIdentify() {
  serialIdentified_ = 0;
  SendSerialPacket(PKT_IDENTIFY, 0, nullptr);
}

void SerialLink::ConfirmIdentify() {
  const uint8_t confirm = 0;
  SendSerialPacket(PKT_IDENTIFY_CONFIRM, 1, &confirm);
}

void SerialLink::ClosePort() {
  // Every serial session ends here: no key of the display's keyboard may stay down after it.
  input_.ReleaseHeldKeys();
  portFailed_ = false;
  if (port_ == nullptr) return;
  port_->Close();
  port_.reset();
}

void SerialLink::ReadAndDispatch(uint32_t maxBytes) {
  uint8_t buffer[kReadChunk];
  uint32_t total = 0;
  while (port_ != nullptr && !portFailed_ && total < maxBytes) {
    const uint32_t wanted = std::min(kReadChunk, maxBytes - total);
    uint32_t received = 0;
    const uint32_t result = port_->Read(buffer, wanted, &received);
    if (received > wanted) received = wanted;
    for (uint32_t i = 0; i < received && port_ != nullptr; ++i) HandleSerialByte(buffer[i]);
    total += received;
    NoteResult(result);
    if (result != 0 || received < wanted) break;
  }
}

void SerialLink::HandleSerialByte(uint8_t b) {
  if (receiver_.Feed(b) == SerialReceiver::Result::kGoodPacket) CompletePacket();
}

void SerialLink::CompletePacket() {
  const uint8_t type = receiver_.type();
  if (type == PKT_ACK) {
    ack_.ackPending = 0;
    serialRetryCount_ = 0;
    return;
  }
  // The acknowledgement goes out before the packet's handler runs.
  SendSerialPacket(PKT_ACK, 0, nullptr);
  DispatchPacket(type, receiver_.length(), receiver_.data());
}

void SerialLink::DispatchPacket(uint8_t type, uint8_t length, const uint8_t* data) {
  // Handlers take their bytes at fixed places of the receive area whatever the length said;
  // every place read here lies within its kSerialReceiveCapacity bytes.
  switch (type) {
    case PKT_FUNCTION_KEY:
      input_.HandleFunctionKey(data[0]);
      break;
    case PKT_ROUTING_KEY:
      input_.HandleSerialRoutingKey(data[0]);
      break;
    case PKT_CHARACTER:
      input_.HandleCharacterCode(static_cast<uint16_t>(data[0] | data[1] << 8));
      break;
    case PKT_SCAN_CODE:
      input_.HandleScanCode(static_cast<uint16_t>(data[0] | data[1] << 8));
      break;
    case PKT_BRAILLE_KEYS:
      input_.HandleBrailleKeys(data[0], data[1], data[2]);
      break;
    case PKT_TEXT: {
      // The text is the rest of the payload after the count byte; it is never read past the
      // packet's end, even when it carries no terminating zero.
      const size_t available = length > 0 ? length - 1u : 0u;
      input_.HandleKeyboardText(data + 1, available, data[0]);
      break;
    }
    case PKT_IDENTIFY_REPLY:
      shared_.textCellCount.store(data[0]);
      shared_.statusCellCount.store(data[0] == kFortyCellDisplay ? kFortyCellStatusCells
                                                                 : int32_t{data[1]});
      identifyInfo1_ = data[4];
      identifyInfo2_ = data[5];
      serialIdentified_ = 1;
      break;
    default:
      break;
  }
}

void SerialLink::SendSerialPacket(uint8_t type, uint8_t length, const uint8_t* data) {
  if (length > kSerialMaxSentData || (length != 0 && data == nullptr)) return;
  if (serialRetryCount_ > kMaxRetryCount) return;
  if (port_ == nullptr) return;
  if (shared_.suspended.load() != 0 && !(recovering_ && type != PKT_CELLS)) return;

  if (ack_.ackPending != 0 && type == PKT_CELLS) {
    // Only the newest kept-back display frame survives.
    deferredFrame_.type = type;
    deferredFrame_.length = length;
    if (length != 0) std::memmove(deferredFrame_.data, data, length);
    deferredPending_ = 1;
    return;
  }

  if (type == PKT_CELLS) {
    sentFrame_.type = type;
    sentFrame_.totalLength = static_cast<uint8_t>(
        BuildSerialPacket(type, length, data, sentFrame_.bytes, sizeof sentFrame_.bytes));
    SendStoredFrame();
    return;
  }

  uint8_t packet[kSerialMaxSentPacket];
  const size_t size = BuildSerialPacket(type, length, data, packet, sizeof packet);
  WriteToPort(packet, size);
  // Other packets are not acknowledged by the display; ackPending stays as it is.
  ack_.lastFrameTick = clock_.Now();
}

void SerialLink::SendClosingFrame(const uint8_t* cells, uint8_t length) {
  if (port_ == nullptr || portFailed_ || length > kSerialMaxSentData) return;
  sentFrame_.type = PKT_CELLS;
  sentFrame_.totalLength = static_cast<uint8_t>(
      BuildSerialPacket(PKT_CELLS, length, cells, sentFrame_.bytes, sizeof sentFrame_.bytes));
  SendStoredFrame();
}

void SerialLink::SendStoredFrame() {
  WriteToPort(sentFrame_.bytes, sentFrame_.totalLength);
  if (sentFrame_.type == PKT_CELLS) ++ack_.ackPending;
  ack_.lastFrameTick = clock_.Now();
}

void SerialLink::SendDeferredFrame() {
  if (deferredPending_ == 0 || ack_.ackPending != 0) return;
  // SendSerialPacket may store into deferredFrame_ again, so send from a copy.
  const StoredPacket frame = deferredFrame_;
  SendSerialPacket(frame.type, frame.length, frame.data);
  deferredPending_ = 0;
}

void SerialLink::WriteToPort(const uint8_t* bytes, size_t count) {
  // A failed write of a display frame still leaves the frame awaiting its acknowledgement; the
  // failure itself marks the port as gone when it is not a passing one.
  if (port_ != nullptr && count != 0 && !portFailed_)
    NoteResult(port_->Write(bytes, static_cast<uint32_t>(count), kWriteTimeoutMs));
}

void SerialLink::NoteResult(uint32_t result) {
  if (IsLossOfDevice(result)) portFailed_ = true;
}

}  // namespace zol
