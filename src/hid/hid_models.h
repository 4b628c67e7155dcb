// The display's HID identity, and the models it comes in: everything that differs between
// them is a column of kModels, so a further model is one more row.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zol {

// A model is known by its row in hid::kModels, counted from 1; 0 is no display. The two
// models' rows have names of their own.
enum HidKind : int32_t { kHidNone = 0, kHid40 = 1, kHid80 = 2 };

namespace hid {

constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kVersion = 0xF100;

struct Model {
  uint16_t productId;
  int32_t textCells;  // cells a queued frame keeps; the display's count when it reports 0
  int frameCells;     // cells a display frame carries
  int frameReports;   // output reports of one display frame
  const char* name;   // as traces name the link
};

inline constexpr Model kModels[] = {
    {0xABD7, 40, 42, 6, "HID 40-cell"},
    {0xABD8, 80, 82, 11, "HID 80-cell"},
};
constexpr int32_t kModelCount = static_cast<int32_t>(sizeof kModels / sizeof kModels[0]);

// The model of kind, or nullptr for kHidNone and kinds past the table.
constexpr const Model* ModelOf(int32_t kind) {
  return kind >= 1 && kind <= kModelCount ? &kModels[kind - 1] : nullptr;
}
// The kind of the model with productId; kHidNone when no model has it.
constexpr HidKind KindOfProduct(uint16_t productId) {
  for (int32_t i = 0; i < kModelCount; ++i)
    if (kModels[i].productId == productId) return static_cast<HidKind>(i + 1);
  return kHidNone;
}
constexpr int MaxFrameCells() {
  int most = 0;
  for (const Model& model : kModels) most = std::max(most, model.frameCells);
  return most;
}

constexpr uint16_t kProduct40 = kModels[kHid40 - 1].productId;
constexpr uint16_t kProduct80 = kModels[kHid80 - 1].productId;
constexpr int kFrame40Cells = kModels[kHid40 - 1].frameCells;
constexpr int kFrame80Cells = kModels[kHid80 - 1].frameCells;

}  // namespace hid
}  // namespace zol
