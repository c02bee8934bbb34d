#pragma once

#include "timeline/Drawing.h"

#include <QWidget>

#include <functional>

namespace quillfen {

// The timeline above the report: the core's drawing painted at the widget's
// size, its hints as tooltips, and its marks leading to their report lines.
class TimelineWidget final : public QWidget, public TimelineView {
public:
    explicit TimelineWidget(QWidget* parent = nullptr);

    void showTimeline(const TimelineFacts& facts) override;
    const TimelineFacts& facts() const { return facts_; }
    // The drawing at the current size.
    const TimelineDrawing& drawing();
    // Called with a mark's report line and text when the mark is clicked.
    std::function<void(std::size_t line, const std::string& text)> onMarkClicked;

    QSize sizeHint() const override { return {640, 120}; }
    QSize minimumSizeHint() const override { return {160, 120}; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TimelineFacts facts_;
    TimelineDrawing drawing_;
    QSize drawnAt_;
};

} // namespace quillfen
