#include "platform/headless/HeadlessControls.h"

#include <algorithm>

namespace quillfen::headless {

void Stepper::setIntegerValue(std::int64_t value)
{
    value_ = std::clamp(value, minimum_, maximum_);
}

void TextView::replaceText(std::string_view text, const ReportStyle& style)
{
    text_.clear();
    runs_.clear();
    appendText(text, style);
}

void TextView::appendText(std::string_view text, const ReportStyle& style)
{
    if (text.empty())
        return;
    text_ += text;
    runs_.push_back(Run{text.size(), style});
}

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

} // namespace quillfen::headless
