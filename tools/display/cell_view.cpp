#include "cell_view.h"

#include <algorithm>

#include "common/braille_text.h"
#include "testing/device_dots.h"

namespace zol::vdisplay {

namespace {

constexpr const char* kStatusSeparator = " \u2502 ";  // " │ "

}  // namespace

std::vector<uint8_t> FrameToHostCells(const std::vector<uint8_t>& frame, const Geometry& geometry) {
  std::vector<uint8_t> cells(static_cast<size_t>(geometry.statusCells) + geometry.textCells, 0);
  for (size_t i = 0; i < cells.size() && i < frame.size(); ++i)
    cells[i] = testing::MapDotsToHost(frame[i]);
  return cells;
}

std::string RenderBrailleLine(const std::vector<uint8_t>& hostCells, const Geometry& geometry) {
  const size_t status = std::min<size_t>(geometry.statusCells, hostCells.size());
  std::string line;
  if (status > 0) {
    line = DotsToUnicodeBraille(hostCells.data(), status);
    line += kStatusSeparator;
  }
  line += DotsToUnicodeBraille(hostCells.data() + status, hostCells.size() - status);
  return line;
}

std::string RenderText(const std::vector<uint8_t>& hostCells, const Geometry& geometry) {
  const size_t status = std::min<size_t>(geometry.statusCells, hostCells.size());
  size_t end = hostCells.size();
  while (end > status && hostCells[end - 1] == 0) --end;
  return DotsToText(hostCells.data() + status, end - status);
}

}  // namespace zol::vdisplay
