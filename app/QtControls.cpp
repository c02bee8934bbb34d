#include "app/QtControls.h"

#include "app/BusySpinner.h"
#include "app/ColourSwatch.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextCursor>

#include <algorithm>
#include <limits>

namespace quillfen {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

std::string QtTextField::text() const
{
    return edit_.text().toStdString();
}

void QtTextField::setText(std::string_view text)
{
    edit_.setText(fromUtf8(text));
}

std::string QtLabel::text() const
{
    return label_.text().toStdString();
}

void QtLabel::setText(std::string_view text)
{
    label_.setText(fromUtf8(text));
}

std::int64_t QtStepper::integerValue() const
{
    return spin_.value();
}

void QtStepper::setIntegerValue(std::int64_t value)
{
    const QSignalBlocker blocker(spin_);
    constexpr std::int64_t lowest = std::numeric_limits<int>::min();
    constexpr std::int64_t highest = std::numeric_limits<int>::max();
    spin_.setValue(static_cast<int>(std::clamp(value, lowest, highest)));
}

QColor systemColour(SystemColour colour)
{
    return QColor::fromRgb(systemColourRgb(colour));
}

void QtColourWell::setColour(SystemColour colour)
{
    swatch_.setColour(systemColour(colour));
}

void QtTextView::applyStyle(const ReportStyle& style)
{
    // Linux has no monospaced-digit system font; the fixed-width font stands in for both.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(style.pointSize);
    edit_.setFont(font);
    // Tab stops follow the font, so tabbed columns line up at every size.
    edit_.setTabStopDistance(8 * QFontMetricsF(font).horizontalAdvance(u' '));
}

void QtTextView::replaceText(std::string_view text, const ReportStyle& style)
{
    applyStyle(style);
    // The style covers the whole view, so a restyle (same text) leaves the
    // text, and with it the scroll position, alone.
    if (text == text_)
        return;
    text_ = text;
    edit_.setPlainText(fromUtf8(text));
}

void QtTextView::appendText(std::string_view text, const ReportStyle& style)
{
    applyStyle(style);
    QTextCursor cursor(edit_.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(fromUtf8(text));
    text_ += text;
}

void QtButton::setHidden(bool hidden)
{
    button_.setHidden(hidden);
}

void QtButton::setEnabled(bool enabled)
{
    button_.setEnabled(enabled);
}

void QtProgressIndicator::setHidden(bool hidden)
{
    spinner_.setHidden(hidden);
}

void QtProgressIndicator::startAnimation()
{
    spinner_.start();
}

void QtProgressIndicator::stopAnimation()
{
    spinner_.stop();
}

} // namespace quillfen
