#include "platform/Queues.h"

#include <thread>

namespace quillfen {

void ClosableMainQueue::post(Operation operation)
{
    const std::lock_guard lock(mutex_);
    if (queue_)
        queue_->post(std::move(operation));
}

void ClosableMainQueue::close()
{
    const std::lock_guard lock(mutex_);
    queue_ = nullptr;
}

bool ClosableMainQueue::isOpen() const
{
    const std::lock_guard lock(mutex_);
    return queue_ != nullptr;
}

struct OperationQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Operation> pending;
    std::size_t maxConcurrent = 1;
    std::size_t workers = 0;
    std::size_t idle = 0;
    bool closed = false;
};

namespace {

void workerLoop(const std::shared_ptr<OperationQueue::State>& state);

} // namespace

OperationQueue::OperationQueue(std::size_t maxConcurrent) : state_(std::make_shared<State>())
{
    state_->maxConcurrent = maxConcurrent == 0 ? 1 : maxConcurrent;
}

OperationQueue::~OperationQueue()
{
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->pending.clear();
    state_->wake.notify_all();
}

void OperationQueue::add(Operation operation)
{
    std::lock_guard lock(state_->mutex);
    state_->pending.push_back(std::move(operation));
    state_->wake.notify_one();
    if (state_->pending.size() > state_->idle && state_->workers < state_->maxConcurrent) {
        ++state_->workers;
        std::thread([state = state_] { workerLoop(state); }).detach();
    }
}

namespace {

void workerLoop(const std::shared_ptr<OperationQueue::State>& state)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        ++state->idle;
        state->wake.wait(lock, [&] { return state->closed || !state->pending.empty(); });
        --state->idle;
        if (state->pending.empty()) {
            --state->workers;
            return;
        }
        Operation operation = std::move(state->pending.front());
        state->pending.pop_front();
        lock.unlock();
        operation();
        operation = nullptr; // release what the closure holds before taking the lock again
        lock.lock();
    }
}

} // namespace

void FifoMainQueue::post(Operation operation)
{
    {
        std::lock_guard lock(mutex_);
        operations_.push_back(std::move(operation));
    }
    arrived_.notify_one();
}

std::optional<Operation> FifoMainQueue::take(std::optional<std::chrono::milliseconds> wait)
{
    std::unique_lock lock(mutex_);
    const auto arrived = [this] { return !operations_.empty(); };
    if (!wait)
        arrived_.wait(lock, arrived);
    else
        arrived_.wait_for(lock, *wait, arrived);
    if (operations_.empty())
        return std::nullopt;
    Operation operation = std::move(operations_.front());
    operations_.pop_front();
    return operation;
}

void FifoMainQueue::runOne()
{
    if (auto operation = take(std::nullopt))
        (*operation)();
}

bool FifoMainQueue::runOne(std::chrono::milliseconds limit)
{
    auto operation = take(limit);
    if (operation)
        (*operation)();
    return operation.has_value();
}

void FifoMainQueue::runPending()
{
    while (auto operation = take(std::chrono::milliseconds::zero()))
        (*operation)();
}

} // namespace quillfen
