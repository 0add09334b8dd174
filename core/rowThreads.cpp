/*
 * rowThreads.cpp --
 *
 *	Slices an index range over short-lived std::threads.  Threads are
 *	started per call: the callers hand over blocks of many rows, so the
 *	start cost (tens of microseconds) is small beside the work.
 */
#include "core/rowThreads.h"

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

int rowThreadsCount(void)
{
    static int count = 0;
    if (count == 0) {
        const char *env = std::getenv("VELK_THREADS");
        int n = env ? std::atoi(env) : (int)std::thread::hardware_concurrency();
        count = std::clamp(n, 1, 8);
    }
    return count;
}

void rowThreadsRun(int n, int minSlice,
                   const std::function<void(int begin, int end)> &body)
{
    if (n <= 0)
        return;
    int slice = std::max(1, minSlice);
    int threads = std::min(rowThreadsCount(), (n + slice - 1) / slice);
    if (threads <= 1) {
        body(0, n);
        return;
    }
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    int begin = 0;
    for (int t = 0; t < threads; t++) {
        int end = (int)((long long)n * (t + 1) / threads);
        if (t == threads - 1)
            body(begin, end);       /* the caller takes the last slice */
        else {
            /* A thread that cannot start (resource limits) is not an error:
             * its slice runs here instead. */
            try {
                workers.emplace_back(body, begin, end);
            } catch (...) {
                body(begin, end);
            }
        }
        begin = end;
    }
    for (std::thread &w : workers)
        w.join();
}
