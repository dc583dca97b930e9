// Runs preview jobs on a thread of its own, one at a time, newest first: a
// request replaces any request that has not started, tells a running job to
// skip the passes it has not begun, and a result that a newer request has
// overtaken is dropped instead of delivered. The dialog's thread never waits
// for a preview.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "pipeline/preview_frame.h"
#include "ui/preview_job.h"

namespace lumafex::ui {

class PreviewWorker {
public:
    // Called on the worker's thread with each delivered result: its request
    // number, the image and the time the passes took.
    using Delivery = std::function<void(uint64_t request, const PreviewImage& image,
                                        double milliseconds)>;

    explicit PreviewWorker(Delivery deliver) : deliver_(std::move(deliver)) {}
    ~PreviewWorker();  // waits for a running job, drops the rest
    PreviewWorker(const PreviewWorker&) = delete;
    PreviewWorker& operator=(const PreviewWorker&) = delete;

    // Queues a job over kept; returns its request number (1, 2, ...).
    uint64_t Request(std::shared_ptr<const PreviewFrame> kept, const PreviewJob& job);

    // The number of the newest request.
    uint64_t Latest() const;

private:
    struct Pending {
        uint64_t request;
        std::shared_ptr<const PreviewFrame> kept;
        PreviewJob job;
    };
    void Run();

    Delivery deliver_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Pending> pending_;
    uint64_t latest_ = 0;
    std::atomic<bool> overtaken_{false};  // the running job has a newer request behind it
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace lumafex::ui
