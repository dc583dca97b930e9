#include "pipeline/frame/thread_pool.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace lumafex {

namespace {

// Parses LUMAFEX_THREADS: a whole number 1..kMaxThreads, else 0.
int32_t EnvironmentThreads() {
    const char* text = std::getenv("LUMAFEX_THREADS");
    if (text == nullptr || *text == '\0') return 0;
    int64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        value = value * 10 + (*c - '0');
        if (value > kMaxThreads) return 0;
    }
    return value >= 1 ? static_cast<int32_t>(value) : 0;
}

int32_t MachineThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) return 1;
    return cores > static_cast<unsigned>(kMaxThreads) ? kMaxThreads : static_cast<int32_t>(cores);
}

// Set while a thread runs a task: a job started from inside a task runs
// inline instead of waiting on the pool it is part of.
thread_local bool g_insideTask = false;

void RunGuarded(void (*task)(void*, int32_t), void* context, int32_t index) {
    g_insideTask = true;
    task(context, index);
    g_insideTask = false;
}

class Pool {
public:
    explicit Pool(int32_t workers) {
        for (int32_t i = 0; i < workers; ++i) {
            try {
                threads_.emplace_back([this] { WorkerLoop(); });
            } catch (const std::system_error&) {
                break;  // fewer workers; the caller still runs every task left
            }
        }
    }
    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void Run(int32_t tasks, void (*task)(void*, int32_t), void* context) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            task_ = task;
            context_ = context;
            tasks_ = tasks;
            next_.store(0, std::memory_order_relaxed);
            unfinished_ = tasks;
            ++generation_;
        }
        wake_.notify_all();
        const int32_t finished = TakeTasks(task, context, tasks);
        std::unique_lock<std::mutex> lock(mutex_);
        unfinished_ -= finished;
        // Every task finished and no worker still inside this job, so the
        // next job may reset the shared index.
        done_.wait(lock, [this] { return unfinished_ == 0 && active_ == 0; });
        task_ = nullptr;
    }

private:
    // Runs tasks of the current job until none is left; returns how many.
    int32_t TakeTasks(void (*task)(void*, int32_t), void* context, int32_t tasks) {
        int32_t finished = 0;
        for (;;) {
            const int32_t i = next_.fetch_add(1, std::memory_order_relaxed);
            if (i >= tasks) break;
            RunGuarded(task, context, i);
            ++finished;
        }
        return finished;
    }

    void WorkerLoop() {
        uint64_t seen = 0;
        for (;;) {
            void (*task)(void*, int32_t) = nullptr;
            void* context = nullptr;
            int32_t tasks = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] {
                    return stopping_ || (generation_ != seen && task_ != nullptr);
                });
                if (stopping_) return;
                seen = generation_;
                task = task_;
                context = context_;
                tasks = tasks_;
                ++active_;
            }
            const int32_t finished = TakeTasks(task, context, tasks);
            std::lock_guard<std::mutex> lock(mutex_);
            unfinished_ -= finished;
            --active_;
            if (unfinished_ == 0 && active_ == 0) done_.notify_all();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    bool stopping_ = false;
    uint64_t generation_ = 0;
    void (*task_)(void*, int32_t) = nullptr;
    void* context_ = nullptr;
    int32_t tasks_ = 0;
    std::atomic<int32_t> next_{0};
    int32_t unfinished_ = 0;
    int32_t active_ = 0;  // workers inside the current job
};

// Module-wide, touched only from the host's calls, which come one at a time.
// A plain pointer rather than a static object, so that no destructor joins
// threads while the module is being unloaded.
Pool* g_pool = nullptr;
int32_t g_chosenThreads = 0;  // 0: environment or machine

}  // namespace

int32_t ThreadCount() {
    if (g_chosenThreads > 0) return g_chosenThreads;
    const int32_t fromEnvironment = EnvironmentThreads();
    return fromEnvironment > 0 ? fromEnvironment : MachineThreads();
}

void SetThreadCount(int32_t threads) {
    const int32_t chosen = threads <= 0 ? 0 : (threads > kMaxThreads ? kMaxThreads : threads);
    if (chosen == g_chosenThreads) return;
    ShutdownThreadPool();
    g_chosenThreads = chosen;
}

void ShutdownThreadPool() {
    delete g_pool;
    g_pool = nullptr;
}

void RunTasks(int32_t tasks, void (*task)(void*, int32_t), void* context) {
    if (tasks <= 0) return;
    const int32_t threads = ThreadCount();
    if (threads > 1 && tasks > 1 && !g_insideTask) {
        if (g_pool == nullptr) {
            try {
                g_pool = new Pool(threads - 1);
            } catch (const std::exception&) {
                g_pool = nullptr;  // no workers: everything runs inline
            }
        }
        if (g_pool != nullptr) {
            g_pool->Run(tasks, task, context);
            return;
        }
    }
    for (int32_t i = 0; i < tasks; ++i) task(context, i);
}

}  // namespace lumafex
