// The cell buffer and everything the host writes to the display.
#pragma once

#include <algorithm>
#include <cstdint>

#include "connection/link_flags.h"
#include "core/shared_state.h"
#include "hid/hid_link.h"
#include "serial/serial_link.h"

namespace zol {

// Keeps one device-order pattern per cell, status cells first, and sends the whole buffer on
// the active link after every change. The buffer starts blank and is never cleared: it keeps
// its contents across disconnects, reconnects and blank displays, so a reconnect can show
// the last contents again.
//
// How many cells go out is fixed by the link, not by the display's geometry: a HID model's
// frame cells (hid/hid_models.h), and 42 on serial. Worker thread only.
class CellOutput {
 public:
  static constexpr int32_t kCellCount = 200;
  static constexpr uint8_t kSerialCellCount = 42;
  // Long enough for the longest transmission.
  static constexpr int32_t kBlankCellCount =
      std::max<int32_t>(hid::MaxFrameCells(), kSerialCellCount);

  CellOutput(HidLink& hid, SerialLink& serial, const LinkFlags& flags, const SharedState& shared);

  // CMD_WRITE_TEXT: stores count host patterns after the status cells and sends the buffer.
  // Cells that would lie at or beyond the end of the buffer are not stored.
  void SendTextCells(const uint8_t* dots, int32_t count);
  // CMD_WRITE_ALL: the same from cell 0, status cells included.
  void SendAllCells(const uint8_t* dots, int32_t count);
  // CMD_CLEAR: sends an all-blank display; the buffer keeps its contents.
  void SendBlankCells();
  // The blank a link gets before it closes: sent at once on the active link, also while the
  // driver is suspended (the host's suspend is what closes it). The caller has made sure that
  // no frame is in flight or waiting.
  void SendClosingBlank();
  // Sends the buffer unchanged (to a display found again, or resumed). Only the links' own
  // guards apply.
  void ResendCells();

  const uint8_t* cells() const { return cells_; }

 private:
  // Refuses the write when the serial link cannot take it: no port, or a suspended driver.
  // Otherwise stores the cells that fit from cell first on and sends the buffer; a HID link
  // whose device is not open (lost, and being searched for) only stores them, for the resend
  // that follows when the display is found.
  void StoreAndSend(int32_t first, const uint8_t* dots, int32_t count);
  void Transmit(const uint8_t* cells);

  static constexpr uint8_t kBlank[kBlankCellCount] = {};

  HidLink& hid_;
  SerialLink& serial_;
  const LinkFlags& flags_;
  const SharedState& shared_;
  uint8_t cells_[kCellCount] = {};
};

}  // namespace zol
