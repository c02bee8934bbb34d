#pragma once

#include "platform/Controls.h"
#include "platform/Queues.h"

#include <optional>
#include <utility>
#include <vector>

namespace quillfen::headless {

// In-memory controls for the CLI and tests: each records what the controller did to it.

class TextField final : public quillfen::TextField {
public:
    std::string text() const override { return text_; }
    void setText(std::string_view text) override { text_ = text; }

private:
    std::string text_;
};

// Keeps its value within its range, as a Mac stepper does.
class Stepper final : public quillfen::Stepper {
public:
    Stepper(std::int64_t minimum = 1, std::int64_t maximum = 48) : minimum_(minimum), maximum_(maximum) {}
    std::int64_t integerValue() const override { return value_; }
    void setIntegerValue(std::int64_t value) override;

private:
    std::int64_t minimum_;
    std::int64_t maximum_;
    std::int64_t value_ = minimum_;
};

class ColourWell final : public quillfen::ColourWell {
public:
    void setColour(SystemColour colour) override { colour_ = colour; }
    // No value until the controller sets one.
    std::optional<SystemColour> colour() const { return colour_; }

private:
    std::optional<SystemColour> colour_;
};

class TextView final : public quillfen::TextView {
public:
    struct Run {
        std::size_t length;
        ReportStyle style;
    };

    std::string plainText() const override { return text_; }
    void replaceText(std::string_view text, const ReportStyle& style) override;
    void appendText(std::string_view text, const ReportStyle& style) override;
    // The styled stretches of the text, in order.
    const std::vector<Run>& runs() const { return runs_; }

private:
    std::string text_;
    std::vector<Run> runs_;
};

class Button final : public quillfen::Button {
public:
    void setHidden(bool hidden) override { hidden_ = hidden; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isHidden() const { return hidden_; }
    bool isEnabled() const { return enabled_; }

private:
    bool hidden_ = false;
    bool enabled_ = true;
};

class ProgressIndicator final : public quillfen::ProgressIndicator {
public:
    void setHidden(bool hidden) override { hidden_ = hidden; }
    void setUsesThreadedAnimation(bool threaded) override { threaded_ = threaded; }
    void startAnimation() override { animating_ = true; }
    void stopAnimation() override { animating_ = false; }
    bool isHidden() const { return hidden_; }
    bool isAnimating() const { return animating_; }
    bool usesThreadedAnimation() const { return threaded_; }

private:
    bool hidden_ = false;
    bool threaded_ = false;
    bool animating_ = false;
};

// All the controls of one window, ready to hand to a controller.
struct Window {
    TextField periodText;
    Stepper periodStep;
    ColourWell trafficLight;
    TextView outputText;
    Button apfsButton;
    ProgressIndicator progressSpinner;
    TextField progressLabel;
};

// Answers every alert at once and keeps it, for the CLI and tests.
class RecordingAlerts final : public AlertPresenter {
public:
    void runModal(const Alert& alert) override { alerts_.push_back(alert); }
    const std::vector<Alert>& alerts() const { return alerts_; }

private:
    std::vector<Alert> alerts_;
};

} // namespace quillfen::headless
