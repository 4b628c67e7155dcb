#include "input/input_translator.h"

#include "input/key_name_table.h"
#include "input/name_builder.h"

namespace zol {

namespace {

constexpr uint8_t kRoutingModeOnCode = 63;
constexpr uint8_t kRoutingModeOffCode = 64;
constexpr uint8_t kSecondSetBit = 0x80;

}  // namespace

InputTranslator::InputTranslator(HostLink& host, KeyInjector& injector, Clock& clock,
                                 SharedState& shared)
    : host_(host), injector_(injector), clock_(clock), shared_(shared) {}

void InputTranslator::HandleFunctionKey(uint8_t code) {
  if (code > kRoutingModeOffCode) return;
  // The mode follows the display even while no host listens.
  if (code == kRoutingModeOnCode) routingMode_ = 1;
  if (code == kRoutingModeOffCode) routingMode_ = 0;
  if (!host_.HostSet() || code == 0) return;
  const char* name = keyNameTable[code - 1];
  if (name[0] == '\0') return;
  host_.PostKeyEvent(name, 0);
}

void InputTranslator::HandleHidRoutingKey(uint8_t code) {
  if (!host_.HostSet() || (code & kSecondSetBit) != 0) return;
  PostRoutingKey(routingMode_ != 0 ? "Routing2" : "Routing", code);
}

void InputTranslator::HandleSerialRoutingKey(uint8_t code) {
  if (!host_.HostSet()) return;
  const int32_t key = code & 0x7F;
  const bool secondSet = (code & kSecondSetBit) != 0 || routingMode_ != 0;
  const char* routingName = secondSet ? "Routing2" : "Routing";
  if (shared_.statusCellCount.load() != 2) {
    PostRoutingKey(routingName, key);
    return;
  }
  switch (key) {
    case 1:
      host_.PostKeyEvent(secondSet ? "STATUS3" : "STATUS1", 0);
      break;
    case 2:
      host_.PostKeyEvent(secondSet ? "STATUS4" : "STATUS2", 0);
      break;
    default:
      // Routing keys count from the first text cell, after the two status cells.
      PostRoutingKey(routingName, key - 2);
      break;
  }
}

// A host indexes its line with the value: one outside the text cells would have it read past
// the line's end (or before its start).
void InputTranslator::PostRoutingKey(const char* name, int32_t value) {
  const int32_t textCells = shared_.textCellCount.load();
  if (value < 0 || value >= textCells) {
    if (watcher_ != nullptr) watcher_->RoutingKeyDropped(name, value, textCells);
    return;
  }
  host_.PostKeyEvent(name, value);
}

void InputTranslator::HandleKeyboardText(const uint8_t* text, size_t available, uint8_t /*count*/) {
  NameBuilder name(keyNameBuffer_);
  name.Append("qwerty:");
  if (text != nullptr) {
    name.Append(reinterpret_cast<const char*>(text), available);
  }
  host_.PostKeyEvent(name.c_str(), 0);
}

}  // namespace zol
