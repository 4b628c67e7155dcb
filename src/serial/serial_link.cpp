#include "serial/serial_link.h"

#include <cstring>

#include "serial/com_port_number.h"

namespace zol {

namespace {

constexpr uint32_t kBaudRate = 38400;
constexpr uint8_t kDataBits = 8;
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOneStopBit = 0;
constexpr uint32_t kWriteTimeoutMs = 1000;

// The handshake counts 2 ms steps instead of measuring time: 1000 steps when no reply comes,
// with an identify request before the first step and at each quarter of the window.
constexpr uint32_t kHandshakeWindowMs = 2000;
constexpr uint32_t kHandshakeResendMs = kHandshakeWindowMs / 4;
constexpr uint16_t kHandshakeStepMs = 2;

// Beyond this many acknowledgement time-outs in a row nothing is sent.
constexpr uint8_t kMaxRetryCount = 3;

constexpr uint8_t kFortyCellDisplay = 40;
constexpr int32_t kFortyCellStatusCells = 2;

// Large enough for the poll tick's 80-byte reads; larger requests are served in one read of
// this size.
constexpr uint32_t kReadChunk = 128;

}  // namespace

SerialLink::SerialLink(SerialPortFactory& ports, Clock& clock, SharedState& shared, FrameAck& ack,
                       InputTranslator& input)
    : ports_(ports), clock_(clock), shared_(shared), ack_(ack), input_(input) {}

int SerialLink::OpenSerialPort(const char* portName) {
  if (port_ != nullptr) return 0;
  port_ = ports_.Create();
  if (port_ == nullptr) return 0;
  if (port_->Open(portName != nullptr ? portName : "") != 0) {
    port_.reset();
    return 0;
  }
  // Flow control stays as the port's default configuration set it; a failing setup leaves
  // the port usable with its previous line settings.
  port_->Setup(kBaudRate, kDataBits, kNoParity, kOneStopBit);
  // A packet cut off when the last port closed would otherwise take the new port's first
  // bytes, the identify reply among them, as its data.
  receiver_ = SerialReceiver{};
  return 1;
}

int SerialLink::SerialHandshake(const char* portName) {
  if (port_ == nullptr) return 0;
  comPortNumber_ = ComPortNumber(portName);

  SendSerialPacket(PKT_IDENTIFY, 0, nullptr);
  serialIdentified_ = 0;

  uint32_t nextResend = kHandshakeResendMs;
  for (uint32_t elapsed = 0; elapsed < kHandshakeWindowMs; elapsed += kHandshakeStepMs) {
    uint8_t byte = 0;
    uint32_t received = 0;
    port_->Read(&byte, 1, &received);
    if (received != 0) HandleSerialByte(byte);
    if (serialIdentified_ != 0) {
      const uint8_t confirm = 0;
      SendSerialPacket(PKT_IDENTIFY_CONFIRM, 1, &confirm);
      return 1;
    }
    if (elapsed >= nextResend) {
      SendSerialPacket(PKT_IDENTIFY, 0, nullptr);
      nextResend += kHandshakeResendMs;
    }
    WaitTicks(clock_, kHandshakeStepMs);
  }
  return 0;
}

void SerialLink::ClosePort() {
  if (port_ == nullptr) return;
  port_->Close();
  port_.reset();
}

void SerialLink::ReadAndDispatch(uint32_t maxBytes) {
  if (port_ == nullptr) return;
  uint8_t buffer[kReadChunk];
  const uint32_t wanted = maxBytes < kReadChunk ? maxBytes : kReadChunk;
  if (wanted == 0) return;
  uint32_t received = 0;
  port_->Read(buffer, wanted, &received);
  // A failed read normally reports nothing; whatever it did report was taken from the port.
  if (received > wanted) received = wanted;
  for (uint32_t i = 0; i < received; ++i) HandleSerialByte(buffer[i]);
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
  if (port_ == nullptr || shared_.suspended.load() != 0) return;

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
  // Write failures and time-outs are ignored: a lost display frame shows up as a missing
  // acknowledgement.
  if (port_ != nullptr && count != 0)
    port_->Write(bytes, static_cast<uint32_t>(count), kWriteTimeoutMs);
}

}  // namespace zol
