// Packet format of the serial link, shared by the driver and the simulated display:
//   01 02 type N 03 data[N] checksum-low checksum-high
// The checksum is the 16-bit sum of the bytes from the 02 up to the last data byte, XORed with
// 0xAA55.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol {

enum SerialPacketType : uint8_t {
  PKT_CELLS = 0,
  PKT_FUNCTION_KEY = 16,
  PKT_ROUTING_KEY = 17,
  PKT_CHARACTER = 19,
  PKT_SCAN_CODE = 20,
  PKT_BRAILLE_KEYS = 21,
  PKT_TEXT = 22,
  PKT_IDENTIFY = 36,
  PKT_IDENTIFY_REPLY = 37,
  PKT_IDENTIFY_CONFIRM = 38,
  PKT_ACK = 127,
};

inline constexpr uint8_t kSerialPacketStart = 0x01;
inline constexpr uint8_t kSerialTypeMark = 0x02;
inline constexpr uint8_t kSerialDataMark = 0x03;
inline constexpr uint16_t kSerialChecksumMask = 0xAA55;
// Start, type mark, type, length, data mark and two checksum bytes.
inline constexpr size_t kSerialPacketOverhead = 7;
// The longest packet the driver sends fits 126 bytes, so at most 119 data bytes.
inline constexpr size_t kSerialMaxSentPacket = 126;
inline constexpr uint8_t kSerialMaxSentData = kSerialMaxSentPacket - kSerialPacketOverhead;
// Room for the most a length byte can announce.
inline constexpr size_t kSerialReceiveCapacity = 255;

// Checksum of a packet with the given type and data, before any byte order is applied.
uint16_t SerialChecksum(uint8_t type, uint8_t length, const uint8_t* data);

// Writes the complete packet (length + 7 bytes) to out. Returns its size, or 0 when it does
// not fit in outSize. data may be null when length is 0.
size_t BuildSerialPacket(uint8_t type, uint8_t length, const uint8_t* data, uint8_t* out,
                         size_t outSize);

// The byte-at-a-time receiver. A byte that breaks the framing (anything but 02 after the
// start, anything but 03 after the length) drops the packet and is not examined again, even
// when it is itself a start byte. The data area is not cleared between packets: bytes beyond
// a short packet's length still hold what earlier packets left there.
class SerialReceiver {
 public:
  enum class Result : uint8_t { kPending, kGoodPacket, kBadChecksum };

  Result Feed(uint8_t b);

  uint8_t state() const { return state_; }
  uint8_t type() const { return type_; }
  uint8_t length() const { return length_; }
  // The whole data area (kSerialReceiveCapacity bytes), valid after kGoodPacket.
  const uint8_t* data() const { return data_; }

 private:
  uint8_t state_ = 0;
  uint8_t type_ = 0;
  uint8_t length_ = 0;
  uint8_t remaining_ = 0;
  uint8_t index_ = 0;
  uint8_t data_[kSerialReceiveCapacity] = {};
  uint16_t sum_ = 0;
  uint16_t checksum_ = 0;
};

}  // namespace zol
