/*
 * rowThreads.h --
 *
 *	Worker threads over rows for the arithmetic of modules and the
 *	renderer.  The Tcl interface, the raster store and the meter stay on
 *	the calling thread: a caller reads a block of rows through the store,
 *	lets rowThreadsRun compute on plain buffers, then writes the results
 *	and reports progress itself.  Each index is computed by exactly one
 *	call of the body, so results do not depend on the thread count as long
 *	as the body writes only what belongs to its own indices.
 */
#ifndef VELK_ROWTHREADS_H
#define VELK_ROWTHREADS_H

#include <functional>

/* Threads used by rowThreadsRun: the hardware's count (at most 8), or the
 * value of VELK_THREADS when set (1 gives the single-threaded reference). */
int rowThreadsCount(void);

/* Calls body(begin, end) over consecutive slices that cover [0, n) once,
 * on up to rowThreadsCount() threads, the caller's included; returns when
 * all slices are done.  Slices are at least minSlice indices long.  The
 * body must not call Tcl, Tk or the raster store. */
void rowThreadsRun(int n, int minSlice,
                   const std::function<void(int begin, int end)> &body);

/* The same job split in two, so the caller can read and write the store
 * while the workers compute: rowThreadsStart hands the slices to the
 * workers and returns at once; rowThreadsFinish takes the slices still
 * unclaimed on the caller and returns when all are done.  A range of one
 * slice goes to a worker whole, so a task that cannot be sliced still
 * overlaps the caller's work.  body must live until rowThreadsFinish
 * returns; a rowThreadsRun inside it runs on its own thread.  Results:
 * false when nothing was started (one thread, or the pool busy): the
 * caller then runs body(0, n) itself, and rowThreadsFinish does nothing. */
bool rowThreadsStart(int n, int minSlice,
                     const std::function<void(int begin, int end)> &body);
void rowThreadsFinish(void);

#endif
