#include "platform/Handoff.h"

#include <utility>

namespace quillfen {

Handoff::~Handoff()
{
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Handoff::waitIdle(std::unique_lock<std::mutex>& lock)
{
    changed_.wait(lock, [this] { return !job_; });
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

void Handoff::handOver(std::function<void()> job)
{
    std::unique_lock lock(mutex_);
    waitIdle(lock);
    job_ = std::move(job);
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    changed_.notify_all();
}

void Handoff::wait()
{
    std::unique_lock lock(mutex_);
    waitIdle(lock);
}

void Handoff::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return job_ || stopping_; });
        if (!job_)
            return;
        lock.unlock();
        try {
            job_();
        } catch (...) {
            lock.lock();
            failure_ = std::current_exception();
            lock.unlock();
        }
        lock.lock();
        job_ = nullptr;
        changed_.notify_all();
    }
}

} // namespace quillfen
