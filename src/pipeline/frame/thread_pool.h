// The module's worker threads. A job is a number of tasks; the calling
// thread and the workers take tasks by index until none is left, and the
// call returns when every task has finished. Which thread runs a task never
// matters to the result: each task writes only its own part of the output.
//
// The pool is created on first need and joined by ShutdownThreadPool, which
// the module's shutdown entry calls. It is never created or joined from a
// static constructor or destructor, so never while a Windows DLL is being
// loaded or unloaded (the loader lock would deadlock a join).
#pragma once

#include <cstdint>
#include <utility>

namespace lumafex {

// The most threads a frame is ever split over.
inline constexpr int32_t kMaxThreads = 256;

// The number of threads (the caller included) passes use: set by
// SetThreadCount, else LUMAFEX_THREADS from the environment (1 means no
// workers), else the machine's cores. Values outside 1..kMaxThreads in the
// environment are ignored.
int32_t ThreadCount();

// Sets the number of threads for the following frames (clamped to
// 1..kMaxThreads); 0 returns to the environment or the machine's cores. The
// running workers are joined when the count changes.
void SetThreadCount(int32_t threads);

// Joins and releases the workers; the next job starts them again.
void ShutdownThreadPool();

// Runs task(context, i) for every i in 0..tasks-1, on the calling thread and
// the workers, and returns when all have finished. With one thread, or one
// task, everything runs inline on the caller.
void RunTasks(int32_t tasks, void (*task)(void* context, int32_t index), void* context);

// RunTasks over a callable f(int32_t index).
template <typename F>
void ForEachTask(int32_t tasks, F&& f) {
    using Fn = std::remove_reference_t<F>;
    RunTasks(
        tasks, [](void* context, int32_t index) { (*static_cast<Fn*>(context))(index); },
        const_cast<void*>(static_cast<const void*>(&f)));
}

}  // namespace lumafex
