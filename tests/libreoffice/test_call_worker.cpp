// The worker that makes the office's calls: answers come back, failures are
// thrown where the call was made, and a call that hangs is given up on within
// its bound while the worker goes on with the next ones.
#include "libreoffice/CallWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

using namespace std::chrono_literals;

TEST(CallWorker, RunsCallsInOrderOnItsOwnThreadAndPassesFailuresBack) {
  CallWorker worker;
  std::vector<int> order;
  std::thread::id where;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(worker.Run([&order, &where, i] {
      order.push_back(i);
      where = std::this_thread::get_id();
    }, 1000ms));
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_NE(where, std::this_thread::get_id());
  EXPECT_THROW(worker.Run([] { throw std::runtime_error("refused"); }, 1000ms), std::runtime_error);
  EXPECT_TRUE(worker.Run([] {}, 1000ms));  // still works after a failure
}

TEST(CallWorker, AHungCallIsGivenUpOnWithinItsBound) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  CallWorker worker;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(worker.Run([release] {
    while (!*release) std::this_thread::sleep_for(1ms);
  }, 200ms));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 2000ms);
  // Once the hang ends the worker takes the next call.
  *release = true;
  EXPECT_TRUE(worker.Run([] {}, 2000ms));
}
