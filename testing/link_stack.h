// One link as the driver keeps it, over a device side and a clock the caller owns: the state
// shared with the host's calls, the acknowledgement of display frames, the translation of the
// display's input, and the link itself. Host and injector are stand-ins, recording unless chosen.
#pragma once

#include "core/clock.h"
#include "core/shared_state.h"
#include "input/input_translator.h"
#include "sim/serial_display.h"
#include "sim/serial_display_port.h"
#include "sim/sim_clock.h"
#include "testing/input_recorders.h"

namespace zol::testing {

template <class Link, class Host = RecordingHostLink, class Injector = RecordingKeyInjector>
struct LinkStack {
  // The device side (HID bus or port factory) and the clock must outlive the stack.
  template <class Device>
  LinkStack(Device& device, Clock& clock)
      : input{host, injector, clock, shared}, link{device, clock, shared, ack, input} {}

  SharedState shared;
  FrameAck ack;
  Host host;
  Injector injector;
  InputTranslator input;
  Link link;
};

// A simulated serial display on COM3 and its clock, to be made before a stack over them.
struct SimSerialSide {
  explicit SimSerialSide(sim::SimClock start = sim::SimClock{1000}) : clock(start) {}

  sim::SimClock clock;
  sim::SerialDisplay display{clock};
  sim::SimSerialPortFactory ports{display, "COM3"};
};

}  // namespace zol::testing
