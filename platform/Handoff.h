#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace quillfen {

// One job at a time on a thread of its own, while the caller goes on with the
// next: reading a file beside parsing it, handing decoded entries over beside
// decoding more. Jobs run in the order handed over. An exception a job throws
// reaches the caller at its next handOver() or wait(). The thread starts with
// the first job, so work that never needs one costs none.
class Handoff {
public:
    Handoff() = default;
    // Lets the job under way end, then stops.
    ~Handoff();
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

    // Waits until the job handed over before has run, then hands this one over.
    void handOver(std::function<void()> job);
    // Waits until every job handed over has run: what they changed may be read then.
    void wait();

private:
    void run();
    void waitIdle(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_; // the job handed over and not yet run to its end
    bool stopping_ = false;
    std::exception_ptr failure_; // thrown by a job, for the caller
    std::thread thread_;
};

} // namespace quillfen
