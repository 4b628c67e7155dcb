// The queue of commands from the host's threads to the worker thread, and when a push wakes it.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "driver/command_queue.h"
#include "gtest/gtest.h"

namespace zol {
namespace {

TEST(CommandQueue, WakesTheWorkerOnlyWhenItSleepsAndNeverLetsItSleepOnACommand) {
  CommandQueue queue;
  QueuedCommand a, b, c;
  queue.Awake();
  EXPECT_FALSE(queue.Push(&a)) << "an awake worker looks at the queue by itself";
  EXPECT_FALSE(queue.PrepareToSleep()) << "a command waits: the worker must not sleep";
  queue.Awake();
  ASSERT_EQ(queue.TakeAll(), &a);
  EXPECT_TRUE(queue.PrepareToSleep());
  EXPECT_TRUE(queue.Push(&b)) << "the first command for a sleeping worker wakes it";
  EXPECT_FALSE(queue.Push(&c)) << "one wake is enough";
  queue.Awake();
  QueuedCommand* taken = queue.TakeAll();
  ASSERT_EQ(taken, &b);
  EXPECT_EQ(taken->next, &c);
}

// Pushes race with a worker going to sleep: every command is either seen before the worker
// sleeps or wakes it, so none is left waiting.
TEST(CommandQueue, NoCommandIsLeftWithoutAWakeWhileTheWorkerGoesToSleep) {
  constexpr int kCommands = 20000;
  CommandQueue queue;
  std::vector<QueuedCommand> commands(kCommands);
  std::atomic<int> wakes{0};
  std::atomic<bool> done{false};
  int taken = 0;
  bool stranded = false;
  std::thread worker([&] {
    int seenWakes = 0;
    while (taken < kCommands && !stranded) {
      // A worker that may sleep sleeps until a wake (here: up to 2 s, then a command is
      // stranded), or until every command was pushed and taken.
      if (queue.PrepareToSleep()) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (wakes.load() == seenWakes && !(done.load() && taken == kCommands) && !stranded) {
          stranded = std::chrono::steady_clock::now() > limit;
          std::this_thread::yield();
        }
        seenWakes = wakes.load();
      }
      queue.Awake();
      for (QueuedCommand* c = queue.TakeAll(); c != nullptr; c = c->next) ++taken;
    }
  });
  for (QueuedCommand& command : commands)
    if (queue.Push(&command)) wakes.fetch_add(1);
  done = true;
  worker.join();
  EXPECT_FALSE(stranded);
  EXPECT_EQ(taken, kCommands);
}

}  // namespace
}  // namespace zol
