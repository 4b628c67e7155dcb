#include "hid_input_recorder.h"

#include "input/input_translator.h"

namespace zol {

namespace test {

std::vector<HidKeyCall>& HidKeyCalls() {
  static std::vector<HidKeyCall> calls;
  return calls;
}

}  // namespace test

InputTranslator::InputTranslator(HostLink& host, KeyInjector& injector, Clock& clock,
                                 SharedState& shared)
    : host_(host), injector_(injector), clock_(clock), shared_(shared) {}

void InputTranslator::HandleHidRoutingKey(uint8_t code) {
  test::HidKeyCalls().push_back({test::HidKeyCall::Routing, code});
}

void InputTranslator::HandleFunctionKey(uint8_t code) {
  test::HidKeyCalls().push_back({test::HidKeyCall::Function, code});
}

}  // namespace zol
