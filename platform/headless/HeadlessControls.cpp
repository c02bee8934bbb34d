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

} // namespace quillfen::headless
