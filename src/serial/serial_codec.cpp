#include "serial/serial_codec.h"

#include <cstring>

namespace zol {

namespace {

enum ReceiverState : uint8_t {
  kAwaitStart = 0,
  kAwaitTypeMark = 1,
  kAwaitType = 2,
  kAwaitLength = 3,
  kAwaitDataMark = 4,
  kInData = 5,
  kAwaitChecksumLow = 6,
  kAwaitChecksumHigh = 7,
};

}  // namespace

uint16_t SerialChecksum(uint8_t type, uint8_t length, const uint8_t* data) {
  uint16_t sum = static_cast<uint16_t>(kSerialTypeMark + type + length + kSerialDataMark);
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint16_t>(sum + data[i]);
  return static_cast<uint16_t>(sum ^ kSerialChecksumMask);
}

size_t BuildSerialPacket(uint8_t type, uint8_t length, const uint8_t* data, uint8_t* out,
                         size_t outSize) {
  const size_t total = length + kSerialPacketOverhead;
  if (total > outSize) return 0;
  out[0] = kSerialPacketStart;
  out[1] = kSerialTypeMark;
  out[2] = type;
  out[3] = length;
  out[4] = kSerialDataMark;
  if (length != 0) std::memcpy(out + 5, data, length);
  const uint16_t checksum = SerialChecksum(type, length, data);
  out[5 + length] = static_cast<uint8_t>(checksum & 0xFF);
  out[6 + length] = static_cast<uint8_t>(checksum >> 8);
  return total;
}

SerialReceiver::Result SerialReceiver::Feed(uint8_t b) {
  switch (state_) {
    case kAwaitStart:
      if (b == kSerialPacketStart) state_ = kAwaitTypeMark;
      return Result::kPending;
    case kAwaitTypeMark:
      if (b == kSerialTypeMark) {
        sum_ = kSerialTypeMark;
        state_ = kAwaitType;
      } else {
        state_ = kAwaitStart;
      }
      return Result::kPending;
    case kAwaitType:
      type_ = b;
      sum_ = static_cast<uint16_t>(sum_ + b);
      state_ = kAwaitLength;
      return Result::kPending;
    case kAwaitLength:
      length_ = b;
      remaining_ = b;
      sum_ = static_cast<uint16_t>(sum_ + b);
      index_ = 0;
      state_ = kAwaitDataMark;
      return Result::kPending;
    case kAwaitDataMark:
      if (b == kSerialDataMark) {
        sum_ = static_cast<uint16_t>(sum_ + kSerialDataMark);
        state_ = remaining_ == 0 ? kAwaitChecksumLow : kInData;
      } else {
        state_ = kAwaitStart;
      }
      return Result::kPending;
    case kInData:
      // A length byte announces at most 255 bytes, so index_ stays below the capacity.
      --remaining_;
      data_[index_++] = b;
      sum_ = static_cast<uint16_t>(sum_ + b);
      if (remaining_ == 0) state_ = kAwaitChecksumLow;
      return Result::kPending;
    case kAwaitChecksumLow:
      checksum_ = b;
      state_ = kAwaitChecksumHigh;
      return Result::kPending;
    case kAwaitChecksumHigh:
    default:
      checksum_ = static_cast<uint16_t>(checksum_ + b * 256);
      sum_ ^= kSerialChecksumMask;
      state_ = kAwaitStart;
      return sum_ == checksum_ ? Result::kGoodPacket : Result::kBadChecksum;
  }
}

}  // namespace zol
