#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace quillfen {

using Operation = std::function<void()>;

// The application's main queue: closures run one at a time, in the order they
// were added, on the main thread. Safe to post to from any thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(Operation operation) = 0;
};

// Passes closures on to a main queue until closed, then drops them, so that work
// in the background may end after whoever waits for it, even after the main
// queue itself. Posting is safe from any thread; once close() has returned,
// nothing more reaches the main queue.
class ClosableMainQueue final : public MainQueue {
public:
    explicit ClosableMainQueue(MainQueue& queue) : queue_(&queue) {}
    void post(Operation operation) override;
    void close();
    bool isOpen() const;

private:
    mutable std::mutex mutex_;
    MainQueue* queue_;
};

// A main queue drained by its owner: closures wait until runOne() takes them.
class FifoMainQueue final : public MainQueue {
public:
    void post(Operation operation) override;
    // Runs the oldest closure, waiting for one to arrive if there is none.
    void runOne();
    // The same, waiting at most `limit`; false when nothing arrived (a test fails rather than hangs).
    bool runOne(std::chrono::milliseconds limit);
    // Runs every closure that is waiting now, without blocking.
    void runPending();

private:
    // Waits for a closure as long as `wait` says, for ever when it says nothing.
    std::optional<Operation> take(std::optional<std::chrono::milliseconds> wait);

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Operation> operations_;
};

// A queue of closures run on background threads, at most `maxConcurrent` at
// once, started in the order they were added. Destroying the queue drops the
// operations that have not started; running ones finish on their own threads,
// so closing a window never waits for a tool.
class OperationQueue {
public:
    explicit OperationQueue(std::size_t maxConcurrent);
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void add(Operation operation);

    struct State; // shared with the worker threads, which may outlive the queue

private:
    std::shared_ptr<State> state_;
};

} // namespace quillfen
