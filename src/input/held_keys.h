// The keys of the display's PC keyboard that were injected as pressed and not yet released.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol {

// A key is its set 1 make code together with the extended-key flag: left Ctrl (1D) and right
// Ctrl (E0 1D) are two keys. Keys are kept in the order they went down, in fixed storage with
// room for every key there is (128 make codes, each plain and extended), so no press is ever
// left out for want of room.
class HeldKeys {
 public:
  struct Key {
    uint8_t make;
    bool extended;
    bool operator==(const Key& other) const {
      return make == other.make && extended == other.extended;
    }
  };
  static constexpr size_t kCapacity = 256;

  // A key already held (the keyboard's typematic repeat) keeps its first place. Only a key
  // past the capacity is not noted, which takes make codes above 127 (no scan code gives one).
  void Press(Key key);
  // Forgets key; nothing happens for a key not held.
  void Release(Key key);
  // Takes out the key pressed last; false when no key is held.
  bool TakeLast(Key* key);
  size_t count() const { return count_; }

 private:
  Key keys_[kCapacity] = {};
  size_t count_ = 0;
};

}  // namespace zol
