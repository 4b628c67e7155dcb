#include "hid/hid_reports.h"

namespace zol::hid {

namespace {

// Byte `position` of the whole frame stream: header, cells, trailer, then zeros.
uint8_t FrameByte(const uint8_t* cells, int frameCells, int position) {
  constexpr int kMark = 3;
  if (position < kMark) return kFrameHeader[position];
  position -= kMark;
  if (position < frameCells) return cells[position];
  position -= frameCells;
  if (position < kMark) return kFrameTrailer[position];
  return 0;
}

}  // namespace

void FramePayload(const uint8_t* cells, int frameCells, int index, uint8_t payload[kPayloadBytes]) {
  const int first = index * static_cast<int>(kPayloadBytes);
  for (size_t i = 0; i < kPayloadBytes; ++i)
    payload[i] = FrameByte(cells, frameCells, first + static_cast<int>(i));
}

InputKind ClassifyInput(const uint8_t payload[kPayloadBytes]) {
  switch (payload[0]) {
    case 0xFD:
      return InputKind::RoutingKey;
    case 0xFE:
      return InputKind::FunctionKey;
    case 0xFF:
      return InputKind::Acknowledgement;
    case 0xFB:
      if (payload[1] == 0xAA && payload[2] == 0x55) return InputKind::HandshakeReply;
      return InputKind::Other;
    default:
      return InputKind::Other;
  }
}

}  // namespace zol::hid
