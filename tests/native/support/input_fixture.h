// An InputTranslator wired to recorders, a simulated clock and its own shared state.
#pragma once

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "input/input_translator.h"
#include "sim/sim_clock.h"
#include "testing/input_recorders.h"

namespace zol::testing {

class InputTranslatorTest : public ::testing::Test {
 protected:
  RecordingHostLink host;
  RecordingKeyInjector injector;
  sim::SimClock clock{0x12345678};
  SharedState shared;
  InputTranslator translator{host, injector, clock, shared};
};

}  // namespace zol::testing
