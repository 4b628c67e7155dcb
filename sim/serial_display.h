// The display's side of the serial link, without any port: bytes the driver writes go in
// through Receive, bytes the display sends come out through Transmit. Used in-process by tests
// (through SimSerialPortFactory) and over a pty by the display programs (tools/display).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "serial/serial_codec.h"

namespace zol::sim {

// The bytes of the packet carrying data (at most 255 bytes).
std::vector<uint8_t> SerialPacketBytes(uint8_t type, const std::vector<uint8_t>& data);

// One packet the display received from the driver.
struct SerialPacketRecord {
  uint32_t tick = 0;  // clock time at which its last byte arrived
  uint8_t type = 0;
  std::vector<uint8_t> data;
  bool goodChecksum = true;
};

// How the display acknowledges display frames (PKT_CELLS). Every other good packet except
// PKT_ACK is acknowledged at once.
enum class CellsAckPolicy : uint8_t {
  kAll,        // at once
  kNone,       // never
  kDropFirst,  // not the next `parameter` frames, every one after them
  kDelay,      // `parameter` ms of the clock after the frame arrived
};

class SerialDisplay {
 public:
  explicit SerialDisplay(Clock& clock);

  // The identify reply: data bytes 0 text cells, 1 status cells, 2-3 zero, 4-5 information.
  void SetGeometry(uint8_t textCells, uint8_t statusCells, uint8_t info1 = 0, uint8_t info2 = 0);
  // Replaces the whole reply data (any length, also shorter than six bytes).
  void SetIdentifyReply(std::vector<uint8_t> data) { identifyReply_ = std::move(data); }
  const std::vector<uint8_t>& identifyReply() const { return identifyReply_; }
  void SetAnswerIdentify(bool answer) { answerIdentify_ = answer; }
  // The next `count` identify requests go unanswered (but are acknowledged).
  void IgnoreIdentifies(uint32_t count) { identifiesToIgnore_ = count; }
  // The reply is sent this many ms after the request arrived.
  void SetIdentifyReplyDelay(uint32_t ms) { identifyReplyDelayMs_ = ms; }

  // A silent display sends nothing at all (no acknowledgement, reply or key) but still takes
  // in what the driver writes: a display switched off behind a port that stays, or one that
  // hangs. Silencing drops what was waiting to be sent.
  void SetSilent(bool silent);
  bool silent() const { return silent_; }

  void SetCellsAck(CellsAckPolicy policy, uint32_t parameter = 0);
  CellsAckPolicy cellsAckPolicy() const { return cellsAckPolicy_; }
  uint32_t cellsAckParameter() const { return cellsAckParameter_; }

  // Bytes the driver wrote.
  void Receive(const uint8_t* bytes, size_t count);
  // Takes up to capacity bytes that are due for the driver now.
  size_t Transmit(uint8_t* out, size_t capacity);
  size_t BytesDue();
  // The clock time at which the next delayed bytes fall due; false when none wait.
  bool NextDueTick(uint32_t* tick) const;

  // Packets the display sends (well-formed, with a correct checksum).
  void SendFunctionKey(uint8_t code) { SendPacket(PKT_FUNCTION_KEY, {code}); }
  void SendRoutingKey(uint8_t code) { SendPacket(PKT_ROUTING_KEY, {code}); }
  void SendCharacter(uint16_t code);
  void SendScanCode(uint16_t code);
  void SendBrailleKeys(uint8_t flags, uint8_t dots, uint8_t character) {
    SendPacket(PKT_BRAILLE_KEYS, {flags, dots, character});
  }
  // Count byte = the text's length, then the text and a terminating zero.
  void SendText(const std::string& text);
  void SendPacket(uint8_t type, const std::vector<uint8_t>& data, uint32_t delayMs = 0);
  // Any bytes, sent as they are.
  void SendRaw(const std::vector<uint8_t>& bytes, uint32_t delayMs = 0);

  // Every packet received, in order, bad ones included.
  const std::vector<SerialPacketRecord>& packets() const { return packets_; }
  size_t CountPackets(uint8_t type) const;
  size_t badPacketCount() const { return badPackets_; }
  // Data of every display frame received, in order.
  const std::vector<std::vector<uint8_t>>& cellFrames() const { return cellFrames_; }
  // Every byte received, in order.
  const std::vector<uint8_t>& wire() const { return wire_; }
  void ClearRecords();

  // Called for every packet received and for every packet queued for the driver.
  void SetReceiveListener(std::function<void(const SerialPacketRecord&)> listener) {
    onReceive_ = std::move(listener);
  }
  void SetSendListener(std::function<void(uint8_t type, const std::vector<uint8_t>&)> listener) {
    onSend_ = std::move(listener);
  }

 private:
  struct DelayedBytes {
    uint32_t due;
    std::vector<uint8_t> bytes;
  };

  void HandlePacket(const SerialPacketRecord& record);
  void HandleCells();
  void ReleaseDueBytes();

  Clock& clock_;
  SerialReceiver receiver_;

  std::vector<uint8_t> identifyReply_;
  bool answerIdentify_ = true;
  bool silent_ = false;
  uint32_t identifiesToIgnore_ = 0;
  uint32_t identifyReplyDelayMs_ = 0;
  CellsAckPolicy cellsAckPolicy_ = CellsAckPolicy::kAll;
  uint32_t cellsAckParameter_ = 0;
  uint32_t cellsAcksDropped_ = 0;

  std::deque<uint8_t> ready_;          // due bytes, in the order they fell due
  std::vector<DelayedBytes> delayed_;  // in the order they were queued

  std::vector<SerialPacketRecord> packets_;
  std::vector<std::vector<uint8_t>> cellFrames_;
  std::vector<uint8_t> wire_;
  size_t badPackets_ = 0;

  std::function<void(const SerialPacketRecord&)> onReceive_;
  std::function<void(uint8_t, const std::vector<uint8_t>&)> onSend_;
};

}  // namespace zol::sim
