#include "sim/serial_display.h"

#include <algorithm>

namespace zol::sim {

namespace {

// Wrap-safe "now has reached due".
bool IsDue(uint32_t now, uint32_t due) {
  return static_cast<int32_t>(now - due) >= 0;
}

}  // namespace

std::vector<uint8_t> SerialPacketBytes(uint8_t type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> packet(data.size() + kSerialPacketOverhead);
  BuildSerialPacket(type, static_cast<uint8_t>(data.size()), data.data(), packet.data(),
                    packet.size());
  return packet;
}

SerialDisplay::SerialDisplay(Clock& clock) : clock_(clock) {
  SetGeometry(40, 2);
}

void SerialDisplay::SetGeometry(uint8_t textCells, uint8_t statusCells, uint8_t info1,
                                uint8_t info2) {
  identifyReply_ = {textCells, statusCells, 0, 0, info1, info2};
}

void SerialDisplay::SetSilent(bool silent) {
  silent_ = silent;
  if (!silent) return;
  ready_.clear();
  delayed_.clear();
}

void SerialDisplay::SetCellsAck(CellsAckPolicy policy, uint32_t parameter) {
  cellsAckPolicy_ = policy;
  cellsAckParameter_ = parameter;
  cellsAcksDropped_ = 0;
}

void SerialDisplay::Receive(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    wire_.push_back(bytes[i]);
    const SerialReceiver::Result result = receiver_.Feed(bytes[i]);
    if (result == SerialReceiver::Result::kPending) continue;
    SerialPacketRecord record;
    record.tick = clock_.Now();
    record.type = receiver_.type();
    record.data.assign(receiver_.data(), receiver_.data() + receiver_.length());
    record.goodChecksum = result == SerialReceiver::Result::kGoodPacket;
    packets_.push_back(record);
    if (onReceive_) onReceive_(record);
    if (record.goodChecksum) {
      HandlePacket(record);
    } else {
      ++badPackets_;
    }
  }
}

void SerialDisplay::HandlePacket(const SerialPacketRecord& record) {
  switch (record.type) {
    case PKT_ACK:
      return;
    case PKT_CELLS:
      cellFrames_.push_back(record.data);
      HandleCells();
      return;
    case PKT_IDENTIFY:
      SendPacket(PKT_ACK, {});
      if (identifiesToIgnore_ > 0) {
        --identifiesToIgnore_;
      } else if (answerIdentify_) {
        SendPacket(PKT_IDENTIFY_REPLY, identifyReply_, identifyReplyDelayMs_);
      }
      return;
    default:
      SendPacket(PKT_ACK, {});
      return;
  }
}

void SerialDisplay::HandleCells() {
  switch (cellsAckPolicy_) {
    case CellsAckPolicy::kAll:
      SendPacket(PKT_ACK, {});
      return;
    case CellsAckPolicy::kNone:
      return;
    case CellsAckPolicy::kDropFirst:
      if (cellsAcksDropped_ < cellsAckParameter_) {
        ++cellsAcksDropped_;
      } else {
        SendPacket(PKT_ACK, {});
      }
      return;
    case CellsAckPolicy::kDelay:
      SendPacket(PKT_ACK, {}, cellsAckParameter_);
      return;
  }
}

void SerialDisplay::SendCharacter(uint16_t code) {
  SendPacket(PKT_CHARACTER, {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)});
}

void SerialDisplay::SendScanCode(uint16_t code) {
  SendPacket(PKT_SCAN_CODE, {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)});
}

void SerialDisplay::SendText(const std::string& text) {
  // The count byte and the terminator leave room for 253 characters of text.
  const size_t length = std::min<size_t>(text.size(), kSerialReceiveCapacity - 2);
  std::vector<uint8_t> data;
  data.push_back(static_cast<uint8_t>(length));
  data.insert(data.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  data.push_back(0);
  SendPacket(PKT_TEXT, data);
}

void SerialDisplay::SendPacket(uint8_t type, const std::vector<uint8_t>& data, uint32_t delayMs) {
  if (silent_) return;
  const size_t length = std::min(data.size(), kSerialReceiveCapacity);
  const std::vector<uint8_t> sent(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
  if (onSend_) onSend_(type, sent);
  SendRaw(SerialPacketBytes(type, sent), delayMs);
}

void SerialDisplay::SendRaw(const std::vector<uint8_t>& bytes, uint32_t delayMs) {
  if (silent_) return;
  if (delayMs == 0) {
    ReleaseDueBytes();
    ready_.insert(ready_.end(), bytes.begin(), bytes.end());
  } else {
    delayed_.push_back({clock_.Now() + delayMs, bytes});
  }
}

void SerialDisplay::ReleaseDueBytes() {
  const uint32_t now = clock_.Now();
  auto it = delayed_.begin();
  while (it != delayed_.end()) {
    if (IsDue(now, it->due)) {
      ready_.insert(ready_.end(), it->bytes.begin(), it->bytes.end());
      it = delayed_.erase(it);
    } else {
      ++it;
    }
  }
}

size_t SerialDisplay::Transmit(uint8_t* out, size_t capacity) {
  ReleaseDueBytes();
  const size_t n = std::min(capacity, ready_.size());
  std::copy_n(ready_.begin(), n, out);
  ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

size_t SerialDisplay::BytesDue() {
  ReleaseDueBytes();
  return ready_.size();
}

bool SerialDisplay::NextDueTick(uint32_t* tick) const {
  if (delayed_.empty()) return false;
  const uint32_t now = clock_.Now();
  uint32_t best = delayed_.front().due;
  for (const DelayedBytes& d : delayed_)
    if (static_cast<int32_t>(d.due - now) < static_cast<int32_t>(best - now)) best = d.due;
  *tick = best;
  return true;
}

size_t SerialDisplay::CountPackets(uint8_t type) const {
  return static_cast<size_t>(std::count_if(
      packets_.begin(), packets_.end(),
      [type](const SerialPacketRecord& r) { return r.goodChecksum && r.type == type; }));
}

void SerialDisplay::ClearRecords() {
  packets_.clear();
  cellFrames_.clear();
  wire_.clear();
  badPackets_ = 0;
}

}  // namespace zol::sim
