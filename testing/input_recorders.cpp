#include "testing/input_recorders.h"

#include <iomanip>

namespace zol::testing {

std::ostream& operator<<(std::ostream& out, const KeyEvent& event) {
  return out << '"' << event.name << "\" " << event.value;
}

std::ostream& operator<<(std::ostream& out, const Keystroke& keystroke) {
  static const char* const kKinds[] = {"vk 0x", "scan 0x", "unicode U+"};
  out << kKinds[keystroke.kind] << std::hex << keystroke.code << " flags " << std::dec
      << keystroke.flags;
  return out;
}

RecordingKeyInjector::RecordingKeyInjector() {
  for (char16_t c = 'a'; c <= 'z'; ++c) layout_[c] = static_cast<int16_t>(c - 'a' + 'A');
  for (char16_t c = 'A'; c <= 'Z'; ++c) layout_[c] = static_cast<int16_t>(0x100 | c);
  for (char16_t c = '0'; c <= '9'; ++c) layout_[c] = static_cast<int16_t>(c);
  layout_[' '] = 0x20;
  layout_['\r'] = 0x0D;
}

int16_t RecordingKeyInjector::KeyWordForChar(char16_t c) {
  asked.push_back(c);
  const auto found = layout_.find(c);
  return found != layout_.end() ? found->second : int16_t{-1};
}

}  // namespace zol::testing
