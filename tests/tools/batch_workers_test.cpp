// The Python package's batch workers: waitFor(n) returns only when batches 1..n are done,
// whoever worked on them, and every batch is worked on once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "batch_workers.h"

namespace {

struct Batch {
    std::size_t nNumber = 0;
};

TEST(BatchWorkers, WaitForReturnsOnceTheBatchesNamedAreDone) {
    constexpr std::size_t kBatches = 64;
    std::vector<std::atomic<int>> done(kBatches + 1);
    qrpy::BatchWorkers<Batch> workers(
        [&](Batch& batch) {
            // Slow enough that a wait that does not wait finds batches unfinished.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ++done[batch.nNumber];
        },
        3);
    for (std::size_t n = 1; n <= kBatches; ++n) {
        auto batch = workers.take();
        batch->nNumber = n;
        ASSERT_EQ(workers.submit(std::move(batch)), n);
        if (n % 8 == 0) {
            workers.waitFor(n - 4);
            for (std::size_t k = 1; k <= n - 4; ++k) ASSERT_EQ(done[k].load(), 1) << "batch " << k << " after waitFor(" << n - 4 << ")";
        }
    }
    workers.drain();
    for (std::size_t k = 1; k <= kBatches; ++k) EXPECT_EQ(done[k].load(), 1) << "batch " << k;
}

}  // namespace
