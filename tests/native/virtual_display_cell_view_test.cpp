#include <gtest/gtest.h>

#include <vector>

#include "cell_view.h"

namespace zol::vdisplay {
namespace {

using Cells = std::vector<uint8_t>;

TEST(VirtualDisplayCells, StatusCellsComeFirstAndMissingCellsAreBlank) {
  const Geometry geometry{4, 2};
  EXPECT_EQ(FrameToHostCells({0x08, 0x0E, 0xE0, 0x01, 0x10, 0x11}, geometry),
            (Cells{0x01, 0x07, 0x38, 0x40, 0x80, 0xC0}));
  EXPECT_EQ(FrameToHostCells({0x08}, geometry), (Cells{0x01, 0, 0, 0, 0, 0}));
  EXPECT_EQ(FrameToHostCells({}, geometry), Cells(6, 0));
  // A 42-cell frame on an 80-cell line: the cells past the frame stay blank.
  const Cells wide = FrameToHostCells(Cells(42, 0xFF), Geometry{80, 2});
  ASSERT_EQ(wide.size(), 82u);
  EXPECT_EQ(wide[41], 0xFF);
  EXPECT_EQ(wide[42], 0x00);
}

TEST(VirtualDisplayRender, ShowsStatusCellsApartFromTheText) {
  const Geometry geometry{5, 2};
  const Cells cells{0xFF, 0x00, 0x13, 0x11, 0x07, 0x07, 0x15};
  EXPECT_EQ(RenderBrailleLine(cells, geometry), "⣿⠀ │ ⠓⠑⠇⠇⠕");
  EXPECT_EQ(RenderText(cells, geometry), "hello");
}

TEST(VirtualDisplayRender, WithoutStatusCellsShowsOnlyTheText) {
  const Geometry geometry{3, 0};
  EXPECT_EQ(RenderBrailleLine({0x01, 0x00, 0x00}, geometry), "⠁⠀⠀");
  EXPECT_EQ(RenderText({0x01, 0x00, 0x00}, geometry), "a");
}

TEST(VirtualDisplayRender, TextDropsTrailingBlanksOnlyAndShowsCellsWithoutCharacterAsDots) {
  const Geometry geometry{4, 1};
  EXPECT_EQ(RenderText({0xFF, 0x00, 0x01, 0x00, 0x00}, geometry), " a");
  EXPECT_EQ(RenderText({0xFF, 0x40, 0x00, 0x00, 0x00}, geometry), "⡀");  // dot 7: no character
  EXPECT_EQ(RenderText({0xFF, 0x00, 0x00, 0x00, 0x00}, geometry), "");
}

}  // namespace
}  // namespace zol::vdisplay
