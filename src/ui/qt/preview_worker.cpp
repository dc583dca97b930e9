#include "ui/qt/preview_worker.h"

#include <chrono>

namespace lumafex::ui {

PreviewWorker::~PreviewWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        pending_.reset();
        overtaken_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

uint64_t PreviewWorker::Request(std::shared_ptr<const PreviewFrame> kept, const PreviewJob& job) {
    uint64_t request = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request = ++latest_;
        pending_ = Pending{request, std::move(kept), job};
        overtaken_ = true;
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
    return request;
}

uint64_t PreviewWorker::Latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

void PreviewWorker::Run() {
    for (;;) {
        Pending next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
            if (stopping_) return;
            next = std::move(*pending_);
            pending_.reset();
            overtaken_ = false;
        }
        const auto start = std::chrono::steady_clock::now();
        PreviewImage image;
        const bool made = RenderPreview(*next.kept, next.job.settings, next.job.params,
                                        next.job.random, image, &overtaken_);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // Overtaken by a newer request, or closing: nobody wants it.
            if (stopping_ || next.request != latest_ || !made) continue;
        }
        deliver_(next.request, image, took.count());
    }
}

}  // namespace lumafex::ui
