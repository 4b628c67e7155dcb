#include "input/held_keys.h"

namespace zol {

void HeldKeys::Press(Key key) {
  for (size_t i = 0; i < count_; ++i) {
    if (keys_[i] == key) return;
  }
  if (count_ < kCapacity) keys_[count_++] = key;
}

void HeldKeys::Release(Key key) {
  for (size_t i = 0; i < count_; ++i) {
    if (!(keys_[i] == key)) continue;
    for (size_t j = i + 1; j < count_; ++j) keys_[j - 1] = keys_[j];
    --count_;
    return;
  }
}

bool HeldKeys::TakeLast(Key* key) {
  if (count_ == 0) return false;
  *key = keys_[--count_];
  return true;
}

}  // namespace zol
