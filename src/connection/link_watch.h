// What the connection manager asks of the link in use between a connect and a disconnect.
#pragma once

#include <cstdint>

namespace zol {

// Takes the display's input, watches the acknowledgement of each frame, and finds a lost
// display again, each in the way of one kind of link. Every wake of the worker thread takes
// every HID report or serial byte that has arrived, up to a bound per wake, in order; an
// acknowledgement lets the next waiting frame go out at once. Worker thread only.
class LinkWatch {
 public:
  virtual ~LinkWatch() = default;

  // The input of one wake of the worker thread, unless the driver's suspension forbids it.
  // True when a lost display answered again: it wants the cell buffer.
  virtual bool ServiceInput() = 0;
  // What the wake waits on for that input; 0 when nothing is to be taken.
  virtual uintptr_t InputEvent() = 0;
  // The link's part of the poll tick; true as for ServiceInput.
  virtual bool Poll() = 0;
  // Ends a search or recovery: the link is being connected or let go.
  virtual void Stop() = 0;

  // Letting go. Whether the display still answers, so that blanking it is worth a wait.
  virtual bool Answering() const = 0;
  // Whether the link has failed: waiting for an acknowledgement is pointless.
  virtual bool Failed() const = 0;
  // Takes what the display has sent, acknowledgements and keys, while the wait lasts.
  virtual void TakeInput() = 0;
};

}  // namespace zol
