// Recording definitions of the translator's HID entry points. They are weak, so the real
// translator replaces them as soon as it is linked in.
#include "support/hid_input_stub.h"

#include "input/input_translator.h"

namespace zol {

namespace test {

std::vector<HidKeyCall>& HidKeyCalls() {
  static std::vector<HidKeyCall> calls;
  return calls;
}

}  // namespace test

__attribute__((weak)) InputTranslator::InputTranslator(HostLink& host, KeyInjector& injector,
                                                       Clock& clock, SharedState& shared)
    : host_(host), injector_(injector), clock_(clock), shared_(shared) {}

__attribute__((weak)) void InputTranslator::HandleHidRoutingKey(uint8_t code) {
  test::HidKeyCalls().push_back({test::HidKeyCall::Routing, code});
}

__attribute__((weak)) void InputTranslator::HandleFunctionKey(uint8_t code) {
  test::HidKeyCalls().push_back({test::HidKeyCall::Function, code});
}

}  // namespace zol
