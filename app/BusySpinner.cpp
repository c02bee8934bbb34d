#include "app/BusySpinner.h"

#include <QPainter>

namespace quillfen {

namespace {

constexpr int kFrames = 12;
constexpr int kFrameMilliseconds = 80;

} // namespace

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    timer_.setInterval(kFrameMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        update();
    });
}

void BusySpinner::start()
{
    timer_.start();
}

void BusySpinner::stop()
{
    timer_.stop();
}

void BusySpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = 2.5;
    const QRectF ring = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.setPen(QPen(palette().color(QPalette::Mid), pen));
    painter.drawEllipse(ring);
    painter.setPen(QPen(palette().color(QPalette::Highlight), pen, Qt::SolidLine, Qt::RoundCap));
    // Qt's angles are in sixteenths of a degree, counter-clockwise; the arc turns clockwise.
    const int startAngle = 90 * 16 - frame_ * (360 * 16 / kFrames);
    painter.drawArc(ring, startAngle, -100 * 16);
}

} // namespace quillfen
