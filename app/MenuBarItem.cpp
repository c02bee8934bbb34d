#include "app/MenuBarItem.h"

#include "controller/Watch.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

namespace {

QPixmap lightPixmap(SystemColour light, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 0.6));
    painter.setBrush(QColor::fromRgb(systemColourRgb(light)));
    painter.drawEllipse(QRectF(0.8, 0.8, 14.4, 14.4));
    QPen glyph(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(glyph);
    painter.setBrush(Qt::NoBrush);
    switch (light) {
    case SystemColour::Green: {
        QPainterPath tick;
        tick.moveTo(4.6, 8.3);
        tick.lineTo(7.0, 10.7);
        tick.lineTo(11.4, 5.4);
        painter.drawPath(tick);
        break;
    }
    case SystemColour::Orange:
        painter.drawLine(QPointF(8, 4.2), QPointF(8, 8.8));
        painter.setBrush(Qt::white);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(8, 11.6), 1.2, 1.2);
        break;
    case SystemColour::Red:
        painter.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
        painter.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
        break;
    case SystemColour::Grey:
        painter.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    }
    return pixmap;
}

QAction* addLine(QMenu& menu)
{
    QAction* line = menu.addAction(QString());
    line->setEnabled(false);
    return line;
}

} // namespace

QIcon lightIcon(SystemColour light)
{
    QIcon icon;
    for (const int size : {16, 22, 32, 44, 64})
        icon.addPixmap(lightPixmap(light, size));
    return icon;
}

MenuBarItem::MenuBarItem(QObject* parent)
    : QObject(parent), checkNow(new QAction(u"Check Now"_s, this)), backUpNow(new QAction(u"Back Up Now"_s, this)),
      showWindow(new QAction(u"Show Quillfen"_s, this)), intervals(new QActionGroup(this)),
      openAtLogin(new QAction(u"Open at Login"_s, this)), quit(new QAction(u"Quit Quillfen"_s, this)),
      resultLine_(addLine(menu_)), newsLine_(addLine(menu_))
{
    menu_.addSeparator();
    menu_.addAction(checkNow);
    menu_.addAction(backUpNow);
    menu_.addAction(showWindow);
    menu_.addSeparator();
    QMenu* every = menu_.addMenu(u"Check Every"_s);
    for (const std::int64_t hours : kCheckEveryChoices) {
        QAction* choice = every->addAction(hours == 0 ? u"Off"_s : hours == 1 ? u"1 hour"_s : u"%1 hours"_s.arg(hours));
        choice->setData(QVariant::fromValue(hours));
        choice->setCheckable(true);
        intervals->addAction(choice);
    }
    openAtLogin->setCheckable(true);
    menu_.addAction(openAtLogin);
    menu_.addSeparator();
    menu_.addAction(quit);
    icon_.setContextMenu(&menu_);
    show(StatusView{});
    icon_.show();
}

QAction* MenuBarItem::checkEvery(std::int64_t hours) const
{
    for (QAction* choice : intervals->actions())
        if (choice->data().toLongLong() == hours)
            return choice;
    return nullptr;
}

void MenuBarItem::show(const StatusView& view)
{
    icon_.setIcon(lightIcon(view.light));
    icon_.setToolTip(QString::fromStdString(view.toolTip));
    // An ampersand in a menu item's title marks a shortcut letter; these lines show them as written.
    resultLine_->setText(QString::fromStdString(view.resultLine).replace(u'&', u"&&"_s));
    newsLine_->setText(QString::fromStdString(view.newsLine).replace(u'&', u"&&"_s));
    newsLine_->setVisible(!view.newsLine.empty());
}

void MenuBarItem::notify(const std::string& title, const std::string& text)
{
    icon_.showMessage(QString::fromStdString(title), QString::fromStdString(text), QSystemTrayIcon::Warning);
}

} // namespace quillfen
