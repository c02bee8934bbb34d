#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillfen {

// The window's controls as the controller sees them. The desktop app implements
// them on its widgets; platform/headless keeps them in memory for the CLI and tests.

class TextField {
public:
    virtual ~TextField() = default;
    virtual std::string text() const = 0;
    virtual void setText(std::string_view text) = 0;

    // The whole number at the start of the text, as a Mac text field reads it.
    std::int64_t integerValue() const;
    void setIntegerValue(std::int64_t value);
};

class Stepper {
public:
    virtual ~Stepper() = default;
    virtual std::int64_t integerValue() const = 0;
    virtual void setIntegerValue(std::int64_t value) = 0;
    void setStringValue(std::string_view text);
};

enum class SystemColour { Grey, Red, Orange, Green };

// The Mac's system colour as 0xRRGGBB.
std::uint32_t systemColourRgb(SystemColour colour);

class ColourWell {
public:
    virtual ~ColourWell() = default;
    virtual void setColour(SystemColour colour) = 0;
};

// The report's one style: a fixed-width system font at a size, in the system's text colour.
enum class ReportFont { MonospacedSystem, MonospacedDigitSystem };

struct ReportStyle {
    ReportFont font = ReportFont::MonospacedSystem;
    double pointSize = 12.0;

    bool operator==(const ReportStyle&) const = default;
};

class TextView {
public:
    virtual ~TextView() = default;
    virtual std::string plainText() const = 0;
    virtual void replaceText(std::string_view text, const ReportStyle& style) = 0;
    virtual void appendText(std::string_view text, const ReportStyle& style) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void setHidden(bool hidden) = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class ProgressIndicator {
public:
    virtual ~ProgressIndicator() = default;
    virtual void setHidden(bool hidden) = 0;
    // Keeps the indicator turning while the main thread is busy.
    virtual void setUsesThreadedAnimation(bool threaded) = 0;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
};

enum class AlertStyle { Warning, Informational, Critical };

struct Alert {
    AlertStyle style = AlertStyle::Critical;
    std::string messageText;
    std::string informativeText;
    std::string buttonTitle = "OK";
};

// Shows a modal alert and returns once the user has dismissed it.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual void runModal(const Alert& alert) = 0;
};

// What the light in the menu bar shows: the light (its shape tells it as well as its colour), the
// tooltip, and the lines at the top of its menu.
struct StatusView {
    SystemColour light = SystemColour::Grey;
    std::string toolTip;
    std::string resultLine; // the last result in one line
    std::string newsLine;   // a quiet line when things got better; empty for none

    bool operator==(const StatusView&) const = default;
};

class StatusItem {
public:
    virtual ~StatusItem() = default;
    virtual void show(const StatusView& view) = 0;
};

// A message the user sees without the window: on a Mac, a user notification.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const std::string& title, const std::string& text) = 0;
};

// One call due after a delay, on the main thread; starting it again replaces the one pending.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void start(std::chrono::milliseconds delay, std::function<void()> due) = 0;
    virtual void stop() = 0;
};

} // namespace quillfen
