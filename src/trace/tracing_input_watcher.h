// The input translation's own doings as the trace sees them: keys released because the link
// ended, routing keys dropped.
#pragma once

#include "input/input_watcher.h"
#include "input/key_word.h"
#include "trace/trace_log.h"

namespace zol {

class TracingInputWatcher final : public InputWatcher {
 public:
  explicit TracingInputWatcher(TraceLog& log) : log_(log) {}

  void HeldKeyReleased(uint16_t scan, uint32_t flags) override {
    log_.Line("key released as the link ended: scan code %02X%s", static_cast<unsigned>(scan),
              (flags & kKeyEventExtendedKey) != 0 ? " extended" : "");
  }
  void RoutingKeyDropped(const char* name, int32_t value, int32_t textCells) override {
    log_.Line("key %s %d dropped: outside the %d text cells", name, value, textCells);
  }

 private:
  TraceLog& log_;
};

}  // namespace zol
