// The HID model table against the displays' identities and frame formats.
#include "hid/hid_models.h"

#include <gtest/gtest.h>

#include "hid/hid_link.h"
#include "hid/hid_reports.h"

namespace zol::hid {
namespace {

TEST(HidModels, EachModelHasItsProductCellsAndFrameLength) {
  struct Example {
    HidKind kind;
    uint16_t product;
    int32_t textCells;
    int frameCells;
    int frameReports;
    const char* name;
  };
  const Example examples[] = {
      {kHid40, 0xABD7, 40, 42, 6, "HID 40-cell"},
      {kHid80, 0xABD8, 80, 82, 11, "HID 80-cell"},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(e.name);
    const Model* model = ModelOf(e.kind);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->productId, e.product);
    EXPECT_EQ(model->textCells, e.textCells);
    EXPECT_EQ(model->frameCells, e.frameCells);
    EXPECT_EQ(model->frameReports, e.frameReports);
    EXPECT_STREQ(model->name, e.name);
    EXPECT_EQ(KindOfProduct(e.product), e.kind);
  }
}

TEST(HidModels, EveryRowIsFoundByItsProductAndItsFrameFitsItsReportsAndARingRow) {
  for (int32_t kind = 1; kind <= kModelCount; ++kind) {
    SCOPED_TRACE(kind);
    const Model& model = *ModelOf(kind);
    EXPECT_EQ(KindOfProduct(model.productId), kind);
    EXPECT_EQ(FrameReportCount(model.frameCells), model.frameReports);
    EXPECT_LT(model.textCells, model.frameCells);
    EXPECT_LE(model.frameCells, HidLink::kRowBytes);
    EXPECT_LE(model.frameCells, MaxFrameCells());
  }
}

TEST(HidModels, NoModelForAnUnknownKindOrProduct) {
  for (int32_t kind : {-1, 0, kModelCount + 1}) EXPECT_EQ(ModelOf(kind), nullptr) << kind;
  for (uint16_t product : {0x0000, 0x04D8, 0xABD6, 0xABD9, 0xFFFF})
    EXPECT_EQ(KindOfProduct(product), kHidNone) << product;
}

}  // namespace
}  // namespace zol::hid
