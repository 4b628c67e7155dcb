// The pool of key-name slots between the worker thread and the host's thread.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/key_name_pool.h"
#include "gtest/gtest.h"

namespace zol {
namespace {

using Ticket = KeyNamePool::Ticket;

TEST(KeyNamePool, EachTicketKeepsItsOwnNameUntilReleased) {
  auto pool = std::make_unique<KeyNamePool>();
  char composed[16] = "qwerty:abc";
  const Ticket first = pool->Acquire(composed);
  std::snprintf(composed, sizeof composed, "qwerty:xyz");
  const Ticket second = pool->Acquire(composed);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_STREQ(pool->Take(first), "qwerty:abc");
  EXPECT_STREQ(pool->Take(second), "qwerty:xyz");
  pool->Release(first);
  pool->Release(second);
  EXPECT_EQ(pool->FreeCount(), KeyNamePool::kSlotCount);
}

TEST(KeyNamePool, AFullPoolRefusesAndFreedSlotsServeAgain) {
  auto pool = std::make_unique<KeyNamePool>();
  std::vector<Ticket> tickets;
  for (size_t i = 0; i < KeyNamePool::kSlotCount; ++i) tickets.push_back(pool->Acquire("F1"));
  EXPECT_EQ(pool->Acquire("F2"), 0u);
  EXPECT_EQ(pool->FreeCount(), 0u);
  pool->Release(tickets[5]);
  EXPECT_NE(pool->Acquire("F3"), 0u);
}

TEST(KeyNamePool, StaleAndForeignTicketsFindNothing) {
  auto pool = std::make_unique<KeyNamePool>();
  const Ticket ticket = pool->Acquire("F1");
  ASSERT_NE(pool->Take(ticket), nullptr);
  EXPECT_EQ(pool->Take(ticket), nullptr);  // taken once only
  pool->Release(ticket);
  // The slot serves again under a new generation; the old ticket cannot touch it.
  Ticket reused = 0;
  for (size_t i = 0; i < KeyNamePool::kSlotCount && reused == 0; ++i) {
    const Ticket next = pool->Acquire("F2");
    if ((next & 0xFFFF) == (ticket & 0xFFFF)) reused = next;
  }
  ASSERT_NE(reused, 0u);
  EXPECT_EQ(pool->Take(ticket), nullptr);
  pool->Release(ticket);
  EXPECT_STREQ(pool->Take(reused), "F2");

  static const char pointer[] = "F1";
  EXPECT_EQ(pool->Take(reinterpret_cast<uintptr_t>(pointer)), nullptr);
  EXPECT_EQ(pool->Take(0), nullptr);
  pool->Release(reinterpret_cast<uintptr_t>(pointer));
}

TEST(KeyNamePool, LongNamesAreCutAndReclaimLeavesDeliveriesAlone) {
  auto pool = std::make_unique<KeyNamePool>();
  const std::string longName(300, 'k');
  const Ticket posted = pool->Acquire(longName.c_str());
  const Ticket delivering = pool->Acquire("F1");
  EXPECT_EQ(std::string(pool->Take(delivering)), "F1");
  pool->ReclaimPosted();
  EXPECT_EQ(pool->Take(posted), nullptr);
  EXPECT_EQ(pool->FreeCount(), KeyNamePool::kSlotCount - 1);
  pool->Release(delivering);
  const Ticket cut = pool->Acquire(longName.c_str());
  EXPECT_EQ(std::string(pool->Take(cut)), std::string(127, 'k'));
}

TEST(KeyNamePool, NamesCrossThreadsIntact) {
  auto pool = std::make_unique<KeyNamePool>();
  constexpr int kEvents = 20000;
  std::atomic<Ticket> channel[8] = {};
  std::atomic<bool> failed{false};
  std::thread consumer([&] {
    int next = 0;
    while (next < kEvents) {
      std::atomic<Ticket>& cell = channel[next % 8];
      const Ticket ticket = cell.exchange(0);
      if (ticket == 0) {
        std::this_thread::yield();
        continue;
      }
      if (ticket != ~0ULL) {
        const char* name = pool->Take(ticket);
        if (!name || std::string(name) != "K" + std::to_string(next)) failed = true;
        pool->Release(ticket);
      }
      ++next;
    }
  });
  char composed[32];
  for (int i = 0; i < kEvents; ++i) {
    std::snprintf(composed, sizeof composed, "K%d", i);
    Ticket ticket = pool->Acquire(composed);
    std::memset(composed, '#', sizeof composed - 1);
    if (ticket == 0) ticket = ~0ULL;  // dropped: the pool was full
    while (channel[i % 8].load() != 0) std::this_thread::yield();
    channel[i % 8].store(ticket);
  }
  consumer.join();
  EXPECT_FALSE(failed.load());
  EXPECT_EQ(pool->FreeCount(), KeyNamePool::kSlotCount);
}

}  // namespace
}  // namespace zol
