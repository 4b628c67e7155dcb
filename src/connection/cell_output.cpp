#include "connection/cell_output.h"

#include <algorithm>

#include "connection/dot_map.h"

namespace zol {

CellOutput::CellOutput(HidLink& hid, SerialLink& serial, const LinkFlags& flags,
                       const SharedState& shared)
    : hid_(hid), serial_(serial), flags_(flags), shared_(shared) {}

void CellOutput::SendTextCells(const uint8_t* dots, int32_t count) {
  StoreAndSend(shared_.statusCellCount.load(), dots, count);
}

void CellOutput::SendAllCells(const uint8_t* dots, int32_t count) {
  StoreAndSend(0, dots, count);
}

void CellOutput::SendBlankCells() {
  Transmit(kBlank);
}

void CellOutput::SendClosingBlank() {
  if (flags_.Hid()) {
    Transmit(kBlank);
  } else {
    serial_.SendClosingFrame(kBlank, kSerialCellCount);
  }
}

void CellOutput::ResendCells() {
  Transmit(cells_);
}

void CellOutput::StoreAndSend(int32_t first, const uint8_t* dots, int32_t count) {
  if (dots == nullptr || count <= 0) return;
  if (!flags_.Hid() && (!serial_.PortOpen() || shared_.suspended.load() != 0)) return;
  // The status-cell count comes from the display; a write never reaches past the buffer.
  first = std::clamp(first, 0, kCellCount);
  const int32_t stored = std::min(count, kCellCount - first);
  for (int32_t i = 0; i < stored; ++i) cells_[first + i] = MapDotsToDevice(dots[i]);
  // A HID display that is gone for the moment gets the buffer when it is found again: the
  // host's writes meanwhile are kept, not lost.
  if (flags_.Hid() && !hid_.DeviceOpen()) return;
  Transmit(cells_);
}

void CellOutput::Transmit(const uint8_t* cells) {
  if (flags_.Hid()) {
    hid_.SendHidFrame(cells, flags_.hidModel);
  } else {
    serial_.SendSerialPacket(PKT_CELLS, kSerialCellCount, cells);
  }
}

}  // namespace zol
