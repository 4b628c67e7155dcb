// The serial link: opening the port, the identify handshake, packets out and the receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/clock.h"
#include "core/shared_state.h"
#include "input/input_translator.h"
#include "serial/serial_codec.h"
#include "serial/serial_port.h"

namespace zol {

class SerialLink {
 public:
  SerialLink(SerialPortFactory& ports, Clock& clock, SharedState& shared, FrameAck& ack,
             InputTranslator& input);

  // Opens portName at 38400 8N1 with the receiver idle; 1 when open, 0 otherwise (and when a
  // port is already open).
  int OpenSerialPort(const char* portName);
  // Identify handshake; sets comPortNumber from portName. 1 when the display identified.
  int SerialHandshake(const char* portName);
  // Closes and destroys the port (no-op without one). Does not queue a clear.
  void ClosePort();
  bool PortOpen() const { return port_ != nullptr; }

  // Reads what has arrived (at most maxBytes, never waiting) and feeds it to the receiver.
  void ReadAndDispatch(uint32_t maxBytes);
  void HandleSerialByte(uint8_t b);
  // Sends one packet under the sending rules; a data length above 119 is refused.
  void SendSerialPacket(uint8_t type, uint8_t length, const uint8_t* data);
  // Sends the kept-back display frame, if any, and clears it. While a frame still awaits its
  // acknowledgement the kept-back frame stays where it is.
  void SendDeferredFrame();

  uint8_t serialRetryCount() const { return serialRetryCount_; }
  void setSerialRetryCount(uint8_t count) { serialRetryCount_ = count; }
  bool deferredPending() const { return deferredPending_ != 0; }
  int32_t comPortNumber() const { return comPortNumber_; }
  uint8_t identifyInfo1() const { return identifyInfo1_; }
  uint8_t identifyInfo2() const { return identifyInfo2_; }

 private:
  void SendStoredFrame();
  void CompletePacket();
  void DispatchPacket(uint8_t type, uint8_t length, const uint8_t* data);
  void WriteToPort(const uint8_t* bytes, size_t count);

  SerialPortFactory& ports_;
  Clock& clock_;
  SharedState& shared_;
  FrameAck& ack_;
  InputTranslator& input_;
  std::unique_ptr<SerialPort> port_;

  int32_t comPortNumber_ = 0;
  int32_t serialIdentified_ = 0;
  uint8_t identifyInfo1_ = 0;
  uint8_t identifyInfo2_ = 0;
  uint8_t serialRetryCount_ = 0;

  struct StoredPacket {
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t data[kSerialMaxSentPacket] = {};
  };
  StoredPacket deferredFrame_;
  int32_t deferredPending_ = 0;
  struct SentFrame {
    uint8_t totalLength = 0;
    uint8_t type = 0;
    uint8_t bytes[kSerialMaxSentPacket] = {};
  };
  SentFrame sentFrame_;

  SerialReceiver receiver_;
};

}  // namespace zol
