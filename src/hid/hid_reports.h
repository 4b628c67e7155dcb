// The display's HID report formats: pure functions between cells, payloads and
// reports, shared by the link and by the simulated display.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hid/hid_models.h"

namespace zol::hid {

// A report is the report ID (always 0) followed by an 8-byte payload.
constexpr size_t kPayloadBytes = 8;
constexpr size_t kReportBytes = 1 + kPayloadBytes;

// Identify request, and the mark that opens its reply. The reply carries the text cell count
// in payload byte 5 and the status cell count in byte 6.
constexpr uint8_t kHandshakeRequest[kPayloadBytes] = {0xFB, 0xAA, 0x55, 0, 0, 0, 0, 0};
constexpr size_t kReplyTextCellsByte = 5;
constexpr size_t kReplyStatusCellsByte = 6;

// Display frames: FF AA 55, the cells, 55 AA FF, cut into 8-byte payloads.
constexpr uint8_t kFrameHeader[3] = {0xFF, 0xAA, 0x55};
constexpr uint8_t kFrameTrailer[3] = {0x55, 0xAA, 0xFF};
// Reports of a frame of frameCells cells.
constexpr int FrameReportCount(int frameCells) {
  return (frameCells + 6 + static_cast<int>(kPayloadBytes) - 1) / static_cast<int>(kPayloadBytes);
}

// Fills payload with report `index` (0-based) of the frame of frameCells cells. Bytes past
// the trailer (none in the models' frames) are 0.
void FramePayload(const uint8_t* cells, int frameCells, int index, uint8_t payload[kPayloadBytes]);

enum class InputKind {
  RoutingKey,       // FD, key code in byte 1
  FunctionKey,      // FE, key code in byte 1
  Acknowledgement,  // FF
  HandshakeReply,   // FB AA 55
  Other,
};

InputKind ClassifyInput(const uint8_t payload[kPayloadBytes]);

}  // namespace zol::hid
