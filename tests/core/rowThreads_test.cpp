/*
 * rowThreads_test.cpp --
 *
 *	rowThreadsRun covers every index exactly once, whatever the slice
 *	size, and runs small ranges on the caller alone.
 */
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/rowThreads.h"

TEST(rowThreads, coversEachIndexOnce)
{
    for (int n : {0, 1, 7, 64, 1001}) {
        for (int minSlice : {1, 16, 5000}) {
            std::vector<std::atomic<int>> hits(n);
            rowThreadsRun(n, minSlice, [&](int begin, int end) {
                ASSERT_LE(0, begin);
                ASSERT_LE(begin, end);
                ASSERT_LE(end, n);
                for (int i = begin; i < end; i++)
                    hits[i]++;
            });
            for (int i = 0; i < n; i++)
                ASSERT_EQ(1, hits[i].load()) << "n " << n << " index " << i;
        }
    }
    std::thread::id caller = std::this_thread::get_id(), seen;
    rowThreadsRun(10, 100, [&](int, int) { seen = std::this_thread::get_id(); });
    EXPECT_EQ(caller, seen);
}

/* A started job runs while the caller works; a body that slices again,
 * and a second thread slicing at the same time, run on their own thread;
 * after a job the pool takes the next one. */
TEST(rowThreads, startFinishAndNesting)
{
    for (int round = 0; round < 200; round++) {
        const int n = 37 + round;
        std::vector<std::atomic<int>> hits(n), inner(n);
        std::function<void(int, int)> body = [&](int begin, int end) {
            for (int i = begin; i < end; i++) {
                hits[i]++;
                rowThreadsRun(3, 1, [&](int b, int e) { inner[i] += e - b; });
            }
        };
        bool started = rowThreadsStart(n, 1, body);
        std::thread other([&] {
            std::atomic<int> count{0};
            rowThreadsRun(50, 1, [&](int b, int e) { count += e - b; });
            EXPECT_EQ(50, count.load());
        });
        if (started)
            rowThreadsFinish();
        else
            body(0, n);
        other.join();
        for (int i = 0; i < n; i++) {
            ASSERT_EQ(1, hits[i].load()) << "round " << round << " index " << i;
            ASSERT_EQ(3, inner[i].load());
        }
    }
    rowThreadsFinish();     /* nothing started: returns at once */
}
