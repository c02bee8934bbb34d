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

} // namespace quillfen
