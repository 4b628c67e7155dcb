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

  // Bytes taken from the port per wake of the worker thread at most, so that a display that
  // floods the link cannot hold the thread.
  static constexpr uint32_t kBytesPerWake = 4096;

  // Opens portName at 38400 8N1 with the receiver idle; 1 when open, 0 otherwise (and when a
  // port is already open). The error of the last open that failed is kept.
  int OpenSerialPort(const char* portName);
  uint32_t lastOpenError() const { return lastOpenError_; }
  // Identify handshake; sets comPortNumber from portName. 1 when the display identified. The
  // 2000 ms window and the requests at 0, 500, 1000 and 1500 ms are measured on the clock, and
  // every byte that has arrived is read at each step.
  int SerialHandshake(const char* portName);
  // Closes and destroys the port (no-op without one) and forgets a failure. Does not queue a
  // clear.
  void ClosePort();
  bool PortOpen() const { return port_ != nullptr; }
  // A read or write failed in a way that means the port or the display behind it is gone
  // (core/io_failure.h).
  bool PortFailed() const { return portFailed_; }
  uintptr_t InputEvent() const { return port_ != nullptr ? port_->InputEvent() : 0; }

  // Reads what has arrived (at most maxBytes, never waiting) and feeds it to the receiver.
  void ReadAndDispatch(uint32_t maxBytes);
  // Recovery of a lost display. While recovering, the identify request, the confirmation and
  // acknowledgements go out although the driver is suspended (display frames do not).
  void SetRecovering(bool recovering) { recovering_ = recovering; }
  // Sends an identify request; identified() tells when the reply has come.
  void RequestIdentify();
  bool identified() const { return serialIdentified_ != 0; }
  void ConfirmIdentify();
  // Forgets the kept-back display frame.
  void DropDeferredFrame() { deferredPending_ = 0; }
  void HandleSerialByte(uint8_t b);
  // Sends one packet under the sending rules; a data length above 119 is refused.
  void SendSerialPacket(uint8_t type, uint8_t length, const uint8_t* data);
  // Sends a display frame at once, whatever the suspension and the time-outs counted: the
  // last frame before the port closes. Nothing is sent without a port or after a failure.
  void SendClosingFrame(const uint8_t* cells, uint8_t length);
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
  // Notes a failed read or write.
  void NoteResult(uint32_t result);

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
  uint32_t lastOpenError_ = 0;
  bool portFailed_ = false;
  bool recovering_ = false;

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
