// Key names on their way from the worker thread to the host's thread. Platform-neutral and
// header-only, so that the native tests exercise the same code.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "driver/bounded_text.h"

namespace zol {

// A fixed pool of name slots. The worker thread copies each key name into a free slot and
// sends the slot's ticket with the event instead of a pointer into a buffer it will overwrite;
// the thread that delivers the event reads the name through the ticket and then frees the slot.
// So every event keeps its own name however many are composed before the first is delivered,
// and nothing is allocated on the key path.
//
// A full pool means the host's thread has not taken the last kSlotCount events: the newest
// event is dropped (Acquire returns 0), as a lost post would be.
//
// A ticket carries a tag, the slot index and the slot's generation, which changes every time
// the slot is taken. A stale ticket (its slot freed and taken again) or a value that was never
// a ticket finds nothing: Take returns null and Release does nothing.
class KeyNamePool {
 public:
  using Ticket = uint64_t;  // 0 is never a ticket
  static constexpr size_t kSlotCount = 64;
  static constexpr size_t kNameSize = 128;  // names are cut to 127 characters

  // Worker thread only. Copies name into a free slot and returns its ticket, or 0 when every
  // slot is in use.
  Ticket Acquire(const char* name);

  // Marks the slot as being delivered and returns its name, or null when the ticket is not a
  // posted one. The name stays valid until Release.
  const char* Take(Ticket ticket);

  // Frees the slot of a posted or delivered ticket (after delivery, after a failed post, or
  // when a queued event is thrown away). Any thread.
  void Release(Ticket ticket);

  // Frees every posted slot whose ticket is still queued somewhere it will never be delivered
  // from. Only while no worker thread runs; slots being delivered are left to their deliverer.
  void ReclaimPosted();

  size_t FreeCount() const;

 private:
  enum State : uint32_t { kFree = 0, kFilling = 1, kPosted = 2, kDelivering = 3 };
  static constexpr uint32_t kGenerationMask = 0x3FFFFFFF;
  static constexpr uint64_t kTag = 0x4B4EULL << 48;

  struct Slot {
    // generation << 2 | state
    std::atomic<uint32_t> word{0};
    char name[kNameSize] = {};
  };

  static uint32_t Word(uint32_t generation, State state) {
    return (generation & kGenerationMask) << 2 | state;
  }
  static State StateOf(uint32_t word) { return static_cast<State>(word & 3); }
  static uint32_t GenerationOf(uint32_t word) { return word >> 2; }
  // Finds the slot a ticket names; null when the value is not one of this pool's tickets.
  Slot* SlotOf(Ticket ticket, uint32_t* generation);

  Slot slots_[kSlotCount];
  size_t nextSlot_ = 0;  // worker thread only: where the next search starts
};

inline KeyNamePool::Ticket KeyNamePool::Acquire(const char* name) {
  for (size_t tried = 0; tried < kSlotCount; ++tried) {
    const size_t index = (nextSlot_ + tried) % kSlotCount;
    Slot& slot = slots_[index];
    uint32_t word = slot.word.load(std::memory_order_relaxed);
    if (StateOf(word) != kFree) continue;
    const uint32_t generation = (GenerationOf(word) + 1) & kGenerationMask;
    if (!slot.word.compare_exchange_strong(word, Word(generation, kFilling),
                                           std::memory_order_acquire)) {
      continue;
    }
    CopyTerminated(slot.name, kNameSize, name);
    slot.word.store(Word(generation, kPosted), std::memory_order_release);
    nextSlot_ = (index + 1) % kSlotCount;
    return kTag | static_cast<uint64_t>(generation) << 16 | index;
  }
  return 0;
}

inline KeyNamePool::Slot* KeyNamePool::SlotOf(Ticket ticket, uint32_t* generation) {
  const uint64_t index = ticket & 0xFFFF;
  if ((ticket >> 46) != kTag >> 46 || index >= kSlotCount) return nullptr;
  *generation = static_cast<uint32_t>(ticket >> 16) & kGenerationMask;
  return &slots_[index];
}

inline const char* KeyNamePool::Take(Ticket ticket) {
  uint32_t generation = 0;
  Slot* slot = SlotOf(ticket, &generation);
  if (!slot) return nullptr;
  uint32_t expected = Word(generation, kPosted);
  if (!slot->word.compare_exchange_strong(expected, Word(generation, kDelivering),
                                          std::memory_order_acquire)) {
    return nullptr;
  }
  return slot->name;
}

inline void KeyNamePool::Release(Ticket ticket) {
  uint32_t generation = 0;
  Slot* slot = SlotOf(ticket, &generation);
  if (!slot) return;
  for (State state : {kPosted, kDelivering}) {
    uint32_t expected = Word(generation, state);
    if (slot->word.compare_exchange_strong(expected, Word(generation, kFree),
                                           std::memory_order_release)) {
      return;
    }
  }
}

inline void KeyNamePool::ReclaimPosted() {
  for (Slot& slot : slots_) {
    uint32_t word = slot.word.load();
    if (StateOf(word) == kPosted) {
      slot.word.compare_exchange_strong(word, Word(GenerationOf(word), kFree));
    }
  }
}

inline size_t KeyNamePool::FreeCount() const {
  size_t count = 0;
  for (const Slot& slot : slots_) count += StateOf(slot.word.load()) == kFree;
  return count;
}

}  // namespace zol
