#pragma once

#include <QTimer>
#include <QWidget>

namespace quillfen {

// The window's busy indicator: an arc that turns while running. A spinner
// rather than a progress bar, whose indeterminate look some styles draw as a
// full, finished-looking bar.
class BusySpinner final : public QWidget {
public:
    explicit BusySpinner(QWidget* parent = nullptr);
    void start();
    void stop();
    bool isTurning() const { return timer_.isActive(); }
    // The arc's current position, in steps of one frame.
    int frame() const { return frame_; }
    QSize sizeHint() const override { return {18, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int frame_ = 0;
};

} // namespace quillfen
