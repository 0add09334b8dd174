/*
 * benchClock.h --
 *
 *	The clocks the benchmarks time with.  CPU time is what the ratios
 *	use: on a machine shared with other jobs the wall clock also counts
 *	the time spent waiting for a processor.  Benchmarks of code that
 *	runs on worker threads take the process's CPU time.
 */
#ifndef VELK_BENCH_CLOCK_H
#define VELK_BENCH_CLOCK_H

#include <sys/resource.h>
#include <time.h>

/* Seconds on a monotonic wall clock. */
static inline double wallSeconds(void)
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

/* CPU seconds of this thread. */
static inline double cpuSeconds(void)
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

/* CPU seconds of the whole process, every thread included. */
static inline double processCpuSeconds(void)
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

/* Runs run() `repeats` times, keeping the best wall and process-CPU
 * seconds.  Results: false as soon as a run returns false. */
template <typename Run>
static inline bool bestOf(int repeats, Run run, double *wall, double *cpu)
{
    *wall = *cpu = 1e30;
    for (int i = 0; i < repeats; i++) {
        double w0 = wallSeconds(), c0 = processCpuSeconds();
        if (!run())
            return false;
        double w = wallSeconds() - w0, c = processCpuSeconds() - c0;
        *wall = w < *wall ? w : *wall;
        *cpu = c < *cpu ? c : *cpu;
    }
    return true;
}

/* User and system seconds of the waited-for child processes (the tools
 * the benchmarks compare against). */
static inline double childCpuSeconds(void)
{
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6
           + u.ru_stime.tv_sec + u.ru_stime.tv_usec * 1e-6;
}

#endif /* VELK_BENCH_CLOCK_H */
