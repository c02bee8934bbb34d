#include "app/TimelineWidget.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace quillfen {

namespace {

QColor qColour(const Colour& colour)
{
    QColor qt = QColor::fromRgb(colour.rgb);
    qt.setAlphaF(static_cast<float>(colour.opacity));
    return qt;
}

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void paint(QPainter& painter, const Box& box)
{
    const QRectF rect(box.x, box.y, box.width, box.height);
    // Bars and shading end on whole pixels, crisp rather than blurred at their edges.
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (box.fill == Fill::Solid) {
        painter.fillRect(rect, qColour(box.colour));
        return;
    }
    painter.fillRect(rect, Qt::white);
    painter.fillRect(rect, QBrush(qColour(box.colour), Qt::BDiagPattern));
    painter.setPen(QPen(qColour(box.colour), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect);
}

void paint(QPainter& painter, const Stroke& stroke)
{
    QPen pen(qColour(stroke.colour), stroke.width, Qt::SolidLine, Qt::FlatCap);
    if (stroke.dash > 0)
        pen.setDashPattern({stroke.dash / stroke.width, stroke.dash / stroke.width});
    painter.setPen(pen);
    painter.drawLine(QPointF(stroke.x1, stroke.y1), QPointF(stroke.x2, stroke.y2));
}

void paint(QPainter& painter, const Mark& mark)
{
    const double h = mark.size / 2;
    const QColor colour = qColour(mark.colour);
    switch (mark.shape) {
    case MarkShape::Cross:
        painter.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(mark.x - h, mark.y - h), QPointF(mark.x + h, mark.y + h));
        painter.drawLine(QPointF(mark.x - h, mark.y + h), QPointF(mark.x + h, mark.y - h));
        return;
    case MarkShape::Diamond: {
        const QPointF corners[] = {
            {mark.x, mark.y - h}, {mark.x + h, mark.y}, {mark.x, mark.y + h}, {mark.x - h, mark.y}};
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPolygon(corners, 4);
        return;
    }
    case MarkShape::Circle:
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(mark.x, mark.y), h, h);
        return;
    }
}

void paint(QPainter& painter, const Label& label)
{
    QFont font = painter.font();
    font.setPixelSize(static_cast<int>(label.size));
    painter.setFont(font);
    const QString text = fromUtf8(label.text);
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    const double shift = label.anchor == Anchor::Start ? 0 : label.anchor == Anchor::End ? width : width / 2;
    painter.setPen(qColour(label.colour));
    painter.drawText(QPointF(label.x - shift, label.y), text);
}

} // namespace

TimelineWidget::TimelineWidget(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(true);
}

void TimelineWidget::showTimeline(const TimelineFacts& facts)
{
    facts_ = facts;
    drawnAt_ = QSize();
    update();
}

const TimelineDrawing& TimelineWidget::drawing()
{
    if (drawnAt_ != size()) {
        drawing_ = drawTimeline(facts_, width(), height(), localUtcOffset);
        drawnAt_ = size();
    }
    return drawing_;
}

void TimelineWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);
    for (const DrawingItem& item : drawing().items) {
        painter.save();
        std::visit([&](const auto& shape) { paint(painter, shape); }, item.shape);
        painter.restore();
    }
}

bool TimelineWidget::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    // The hint of what is under the pointer, else what the whole picture shows.
    const auto* help = static_cast<QHelpEvent*>(event);
    const DrawingItem* item = itemAt(drawing(), help->pos().x(), help->pos().y());
    const std::string& text = item && !item->hint.empty() ? item->hint : drawing().title;
    // Valid only near the pointer, so moving on to the next bar asks again.
    QToolTip::showText(help->globalPos(), fromUtf8(text), this, QRect(help->pos() - QPoint(2, 2), QSize(5, 5)));
    return true;
}

void TimelineWidget::mouseMoveEvent(QMouseEvent* event)
{
    const DrawingItem* item = itemAt(drawing(), event->position().x(), event->position().y());
    setCursor(item && item->reportLine ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TimelineWidget::mousePressEvent(QMouseEvent* event)
{
    const DrawingItem* item = itemAt(drawing(), event->position().x(), event->position().y());
    if (item && item->reportLine && onMarkClicked)
        onMarkClicked(*item->reportLine, item->hint);
}

} // namespace quillfen
