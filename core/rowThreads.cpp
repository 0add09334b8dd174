/*
 * rowThreads.cpp --
 *
 *	Slices an index range over a pool of worker threads started on first
 *	use and kept for the life of the process: modules hand over many
 *	small blocks (a few hundred rows each), and starting threads per
 *	block cost more than the work of a 3 x 3 filter.
 *
 *	One job is in the pool at a time.  Its slices are fixed by n and the
 *	thread count alone (slice t is [n*t/T, n*(t+1)/T)), so which thread
 *	runs a slice never changes what is computed.  Slices are claimed
 *	under the pool's mutex, tagged with the job's generation, so a worker
 *	late from one job cannot claim a slice of the next.  A call made while
 *	the pool is busy (a body that slices again, another thread, a
 *	started job not yet finished) runs its slices on the caller.
 */
#include "core/rowThreads.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
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

namespace {

struct Pool {
    std::mutex lock;
    std::condition_variable work;       /* a job has slices to claim */
    std::condition_variable finished;   /* the job's last slice is done */
    std::vector<std::thread> workers;
    bool started = false, busy = false;
    unsigned long generation = 0;
    const std::function<void(int, int)> *body = nullptr;
    int n = 0, slices = 0, next = 0, done = 0;

    int sliceBegin(int s) const { return (int)((long long)n * s / slices); }

    /* Claims the next slice of job `gen`; -1 when none is left. */
    int claim(unsigned long gen)
    {
        if (gen != generation || next >= slices)
            return -1;
        return next++;
    }

    void run(int s, std::unique_lock<std::mutex> &held)
    {
        const std::function<void(int, int)> *f = body;
        int b = sliceBegin(s), e = sliceBegin(s + 1);
        held.unlock();
        (*f)(b, e);
        held.lock();
        if (++done == slices)
            finished.notify_all();
    }

    void workerLoop()
    {
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            work.wait(held, [&] { return busy && next < slices; });
            unsigned long gen = generation;
            for (int s; (s = claim(gen)) >= 0;)
                run(s, held);
        }
    }

    /* Starts the workers once; false when none could be started. */
    bool ready(void)
    {
        if (!started) {
            started = true;
            for (int t = 1; t < rowThreadsCount(); t++) {
                /* A thread that cannot start (resource limits) is not an
                 * error: the others, or the caller, take its slices. */
                try {
                    workers.emplace_back([this] { workerLoop(); });
                } catch (...) {
                    break;
                }
            }
        }
        return !workers.empty();
    }
};

/* Never destroyed: the workers wait in it until the process ends, and an
 * exit handler may still slice rows. */
Pool &pool(void)
{
    static Pool *p = new Pool;
    return *p;
}

/* The slice count of a job: at most one per thread, each at least
 * minSlice long. */
int sliceCount(int n, int minSlice)
{
    int slice = std::max(1, minSlice);
    return std::max(1, std::min(rowThreadsCount(), (n + slice - 1) / slice));
}

thread_local bool holdsPool = false;   /* this thread started the pooled job */

} // namespace

bool rowThreadsStart(int n, int minSlice,
                     const std::function<void(int begin, int end)> &body)
{
    if (n <= 0 || holdsPool)
        return false;
    int slices = sliceCount(n, minSlice);
    Pool &p = pool();
    {
        std::lock_guard<std::mutex> g(p.lock);
        if (p.busy || !p.ready())
            return false;
        p.busy = true;
        p.generation++;
        p.body = &body;
        p.n = n;
        p.slices = slices;
        p.next = p.done = 0;
    }
    holdsPool = true;
    p.work.notify_all();
    return true;
}

void rowThreadsFinish(void)
{
    if (!holdsPool)
        return;
    Pool &p = pool();
    std::unique_lock<std::mutex> held(p.lock);
    unsigned long gen = p.generation;
    for (int s; (s = p.claim(gen)) >= 0;)
        p.run(s, held);
    p.finished.wait(held, [&] { return p.done == p.slices; });
    p.busy = false;
    p.body = nullptr;
    holdsPool = false;
}

void rowThreadsRun(int n, int minSlice,
                   const std::function<void(int begin, int end)> &body)
{
    if (n <= 0)
        return;
    if (sliceCount(n, minSlice) > 1 && rowThreadsStart(n, minSlice, body))
        rowThreadsFinish();
    else
        body(0, n);
}
