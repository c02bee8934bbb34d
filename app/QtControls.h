#pragma once

#include "platform/Controls.h"

#include <QColor>

#include <string>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QWidget;

namespace quillfen {

class BusySpinner;
class ColourSwatch;

// The window's controls on Qt widgets. Setting a value from the controller never
// fires the control's own action, as on the Mac.

class QtTextField final : public TextField {
public:
    explicit QtTextField(QLineEdit& edit) : edit_(edit) {}
    std::string text() const override;
    void setText(std::string_view text) override;

private:
    QLineEdit& edit_;
};

// A line of text the user reads but does not edit, as a Mac label is a text field.
class QtLabel final : public TextField {
public:
    explicit QtLabel(QLabel& label) : label_(label) {}
    std::string text() const override;
    void setText(std::string_view text) override;

private:
    QLabel& label_;
};

class QtStepper final : public Stepper {
public:
    explicit QtStepper(QSpinBox& spin) : spin_(spin) {}
    std::int64_t integerValue() const override;
    void setIntegerValue(std::int64_t value) override;

private:
    QSpinBox& spin_;
};

// The Mac's system colours of the traffic light.
QColor systemColour(SystemColour colour);

class QtColourWell final : public ColourWell {
public:
    explicit QtColourWell(ColourSwatch& swatch) : swatch_(swatch) {}
    void setColour(SystemColour colour) override;

private:
    ColourSwatch& swatch_;
};

// Keeps the report's own characters: the view's plain-text export turns some of them
// (no-break space, line and paragraph separators) into others.
class QtTextView final : public TextView {
public:
    explicit QtTextView(QPlainTextEdit& edit) : edit_(edit) {}
    std::string plainText() const override { return text_; }
    void replaceText(std::string_view text, const ReportStyle& style) override;
    void appendText(std::string_view text, const ReportStyle& style) override;

private:
    void applyStyle(const ReportStyle& style);

    QPlainTextEdit& edit_;
    std::string text_;
};

class QtButton final : public Button {
public:
    explicit QtButton(QAbstractButton& button) : button_(button) {}
    void setHidden(bool hidden) override;
    void setEnabled(bool enabled) override;

private:
    QAbstractButton& button_;
};

// The spinner turns on the event loop's timer, which keeps running while the
// main thread waits for a tool.
class QtProgressIndicator final : public ProgressIndicator {
public:
    explicit QtProgressIndicator(BusySpinner& spinner) : spinner_(spinner) {}
    void setHidden(bool hidden) override;
    void setUsesThreadedAnimation(bool) override {}
    void startAnimation() override;
    void stopAnimation() override;

private:
    BusySpinner& spinner_;
};

} // namespace quillfen
