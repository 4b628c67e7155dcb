// How the virtual display shows the cells it receives: Unicode braille, status cells apart.
// Platform-neutral.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zol::vdisplay {

// The display's geometry as it reports it in its identify reply.
struct Geometry {
  uint8_t textCells = 40;
  uint8_t statusCells = 2;
};

// The host patterns of every cell of the display, status cells first, from one display frame
// in device order. Cells the frame does not carry (a frame is shorter than an 80-cell line)
// are blank.
std::vector<uint8_t> FrameToHostCells(const std::vector<uint8_t>& frame, const Geometry& geometry);

// The cells as one line of Unicode braille, the status cells apart: "⠿⠿ │ ⠓⠑⠇⠇⠕…".
// Without status cells only the text cells are shown.
std::string RenderBrailleLine(const std::vector<uint8_t>& hostCells, const Geometry& geometry);

// The text cells read back through the computer braille table, trailing blanks removed.
std::string RenderText(const std::vector<uint8_t>& hostCells, const Geometry& geometry);

}  // namespace zol::vdisplay
