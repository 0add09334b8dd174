/*
 * rowThreads_test.cpp --
 *
 *	rowThreadsRun covers every index exactly once, whatever the slice
 *	size, and runs small ranges on the caller alone.
 */
#include <atomic>
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
